#include "grade/Effects.h"

#include <gtest/gtest.h>

#include <numeric>

#include "TestImages.h"
#include "grade/Grade.h"

namespace vd {
namespace {

using test::TestImage;

TEST(Grids, DownsampleKeepsAFlatFieldFlatAndHasTheQuarterSize) {
    std::vector<float> in(37 * 23 * 3, 0.75f);
    std::vector<float> out(static_cast<std::size_t>(quarterSize(37)) * quarterSize(23) * 3);
    downsampleQuarter(in.data(), 37, 23, 3, out.data(), quarterSize(37), quarterSize(23));
    for (float v : out) {
        EXPECT_NEAR(v, 0.75f, 1e-6f);
    }
    // One pixel wide and high: every tap is the same pixel.
    float one = 0.3f, small = 0.0f;
    downsampleQuarter(&one, 1, 1, 1, &small, 1, 1);
    EXPECT_NEAR(small, 0.3f, 1e-6f);
}

TEST(Grids, BlurWeightsAreNormalisedAndCapped) {
    for (int radius = 1; radius <= 60; ++radius) {
        const auto w = blurWeights(radius, 48);
        EXPECT_EQ(w.size(), static_cast<std::size_t>(2 * std::min(radius, 48) + 1));
        EXPECT_NEAR(std::accumulate(w.begin(), w.end(), 0.0), 1.0, 1e-5);
        EXPECT_EQ(w.front(), w.back());
    }
    EXPECT_EQ(blurWeights(60, 40).size(), 81u);
}

TEST(Grids, BlurSpreadsAPointSymmetricallyAndKeepsItsMass) {
    const int w = 41, h = 41;
    std::vector<float> grid(w * h, 0.0f);
    grid[20 * w + 20] = 1.0f;
    blurSeparable(grid.data(), w, h, 1, 6, 48);
    EXPECT_NEAR(std::accumulate(grid.begin(), grid.end(), 0.0), 1.0, 1e-5);
    EXPECT_EQ(grid[20 * w + 14], grid[20 * w + 26]);
    EXPECT_EQ(grid[14 * w + 20], grid[20 * w + 14]);
    EXPECT_GT(grid[20 * w + 20], grid[20 * w + 21]);
    // A radius below 1 or an empty grid does nothing.
    std::vector<float> copy = grid;
    blurSeparable(grid.data(), w, h, 1, 0, 48);
    EXPECT_EQ(grid, copy);
    blurSeparable(grid.data(), 0, h, 1, 3, 48);
}

// Renders a float RGBA frame of w x h with the settings; returns the output.
TestImage renderFloat(TestImage& src, const GradeSettings& s) {
    const PixelRect bounds = imageBounds(src.view);
    TestImage dst(bounds, 4, kDepthFloat);
    EXPECT_TRUE(renderCpu(&src.view, dst.view, bounds, bounds, s));
    return dst;
}

TEST(Halation, AUniformlyBrightFrameIsUnchangedForEveryBlurRadius) {
    TestImage src({0, 0, 48, 30}, 4, kDepthFloat);
    src.fill([](int, int) { return std::array<float, 4>{0.9f, 0.95f, 1.3f, 1.0f}; });
    for (int blurRadius = 1; blurRadius <= 32; ++blurRadius) {
        GradeSettings s;
        s.halationAmount = 1.0f;
        s.frameHeight = 1080;
        s.halationRadius = static_cast<float>(blurRadius * 4) / 52.0f;
        TestImage dst = renderFloat(src, s);
        EXPECT_EQ(maxDifference(src, dst, imageBounds(src.view)), 0.0f)
            << "blur radius " << blurRadius;
    }
}

TEST(Halation, ABrightDiscGetsARedOrangeRingOutsideItsEdge) {
    TestImage src({0, 0, 96, 96}, 4, kDepthFloat);
    src.fill([](int x, int y) {
        const float d = std::hypot(static_cast<float>(x) - 47.5f, static_cast<float>(y) - 47.5f);
        const float v = d < 10.0f ? 1.0f : 0.0f;
        return std::array<float, 4>{v, v, v, 1.0f};
    });
    GradeSettings s;
    s.halationAmount = 1.0f;
    s.frameHeight = 1080;
    s.halationRadius = 8.0f / 52.0f;
    TestImage dst = renderFloat(src, s);
    EXPECT_EQ(dst.get(47, 47, 0), 1.0f);  // inside: fully covered, no ring
    const float r = dst.get(47 + 12, 47, 0), g = dst.get(47 + 12, 47, 1);
    EXPECT_GT(r, 0.05f);
    EXPECT_GT(r, g);
    EXPECT_GT(g, 0.0f);
    EXPECT_EQ(dst.get(47 + 12, 47, 2), 0.0f);  // no blue
    EXPECT_EQ(dst.get(2, 2, 0), 0.0f);         // far away: nothing
    EXPECT_EQ(dst.get(2, 2, 3), 1.0f);
}

TEST(Bloom, AFrameBelowTheThresholdIsUnchanged) {
    TestImage src({0, 0, 40, 30}, 3, kDepthFloat);
    src.fill([](int x, int y) {
        const float v = 0.1f + 0.3f * static_cast<float>((x + y) % 7) / 7.0f;
        return std::array<float, 4>{v, v * 0.9f, v * 1.1f, 1.0f};
    });
    GradeSettings s;
    s.bloomAmount = 1.0f;
    s.frameHeight = 1080;
    TestImage dst = renderFloat(src, s);
    EXPECT_EQ(maxDifference(src, dst, imageBounds(src.view)), 0.0f);
}

TEST(Bloom, ASmallLightGlowsTowardsOneAndNeverPast) {
    TestImage src({0, 0, 64, 64}, 4, kDepthFloat);
    src.fill([](int x, int y) {
        const bool light = x >= 30 && x < 34 && y >= 30 && y < 34;
        const float v = light ? 1.0f : 0.05f;
        return std::array<float, 4>{v, v, v, 1.0f};
    });
    GradeSettings s;
    s.bloomAmount = 1.0f;
    s.frameHeight = 1080;
    s.bloomRadius = 0.1f;
    TestImage dst = renderFloat(src, s);
    EXPECT_GT(dst.get(36, 32, 0), 0.06f);
    EXPECT_GT(dst.get(36, 32, 0), dst.get(44, 32, 0));
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            EXPECT_LE(dst.get(x, y, 1), 1.0f);
            EXPECT_GE(dst.get(x, y, 1), 0.05f - 1e-6f);
        }
    }
}

}  // namespace
}  // namespace vd
