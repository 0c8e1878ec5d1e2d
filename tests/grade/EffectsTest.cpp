// Invariants of halation and bloom that hold for any strength and radius: a uniformly bright
// frame and a frame below the threshold come out unchanged. Their values on a picture are
// pinned by the golden renders.
#include <gtest/gtest.h>

#include "TestImages.h"
#include "grade/Grade.h"

namespace vd {
namespace {

using test::TestImage;

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

}  // namespace
}  // namespace vd
