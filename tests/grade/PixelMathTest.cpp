#include "grade/PixelMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "TestImages.h"

namespace vd {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// ---- The polynomial exponentials, densely over the ranges they are used on ---------------

float fromBits(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Every 97th float of [-126, 126] (about 23 million values, both signs): relative error
// below 3e-7.
TEST(FastExp, PowerOfTwoStaysWithinItsStatedError) {
    const uint32_t top = 0x42fc0000u;  // 126.0f
    double worst = 0.0;
    for (uint32_t bits = 0; bits <= top; bits += 97) {
        for (const float x : {fromBits(bits), -fromBits(bits)}) {
            const double exact = std::exp2(static_cast<double>(x));
            const double err = std::fabs(static_cast<double>(fastExp2(x)) - exact) / exact;
            worst = std::max(worst, err);
        }
    }
    EXPECT_LT(worst, 3e-7);
    EXPECT_EQ(fastExp2(0.0f), 1.0f);
    EXPECT_EQ(fastExp2(1.0f), 2.0f);
    EXPECT_EQ(fastExp2(-3.0f), 0.125f);
}

TEST(FastExp, OutOfRangeAndNaNAreClamped) {
    EXPECT_EQ(fastExp2(-1000.0f), std::ldexp(1.0f, -126));
    EXPECT_EQ(fastExp2(-INFINITY), std::ldexp(1.0f, -126));
    EXPECT_EQ(fastExp2(NAN), std::ldexp(1.0f, -126));
    EXPECT_EQ(fastExp2(1000.0f), std::ldexp(1.0f, 126));
    EXPECT_EQ(1.0f - fastExp(-1e6f), 1.0f);  // the shoulder's and the highlights' limit
}

// e^x on [-88, 0], where the shoulder and the highlight roll-off use it: absolute error
// below 4e-7, relative error below 1e-5 down to -87.
TEST(FastExp, NaturalExponentialStaysWithinItsStatedError) {
    double worstAbs = 0.0, worstRel = 0.0;
    for (int i = 0; i <= 2000000; ++i) {
        const float x = -88.0f * static_cast<float>(i) / 2000000.0f;
        const double exact = std::exp(static_cast<double>(x));
        const double err = std::fabs(static_cast<double>(fastExp(x)) - exact);
        worstAbs = std::max(worstAbs, err);
        if (x > -87.0f) {  // below, 2^-126 stands in for values under it
            worstRel = std::max(worstRel, err / exact);
        }
    }
    EXPECT_LT(worstAbs, 4e-7);
    EXPECT_LT(worstRel, 1e-5);
}

// ---- Per-pixel steps ------------------------------------------------------------------

TEST(GammaPowers, AgreeWithLibmAndContainNonFiniteInput) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> exponent(-30.0f, 10.0f);
    for (int i = 0; i < 20000; ++i) {
        const float x = std::exp2(exponent(rng));
        const float up = std::pow(x, 2.2f);
        const float down = std::pow(x, 0.45454544f);
        EXPECT_NEAR(powUp(x), up, up * 2e-6f) << x;
        EXPECT_NEAR(powDown(x), down, down * 2e-6f) << x;
    }
    EXPECT_EQ(powUp(1.0f), 1.0f);
    EXPECT_EQ(powDown(1.0f), 1.0f);
    EXPECT_EQ(powUp(-0.5f), 0.0f);
    EXPECT_EQ(powUp(kNaN), 0.0f);
    EXPECT_EQ(powDown(kNaN), 0.0f);
    EXPECT_EQ(powUp(kInf), kInf);
    EXPECT_EQ(powDown(kInf), kInf);
    EXPECT_GT(powDown(1e-40f), 0.0f);  // subnormal
}

TEST(Tetrahedral, OutOfRangeAndNonFiniteInputsReadInsideTheCube) {
    const auto random = test::randomCube(3, 5);
    float out[3];
    sampleTetra(random.data(), 3, kNaN, -kInf, -2.0f, out);  // all read as 0
    EXPECT_EQ(out[0], random[0]);
    EXPECT_EQ(out[1], random[1]);
    sampleTetra(random.data(), 3, kInf, 5.0f, 1.0f, out);  // all read as 1
    EXPECT_EQ(out[0], random[random.size() - 3]);
    // Without a cube the colour passes through.
    sampleTetra(nullptr, 33, 0.3f, 2.0f, kNaN, out);
    EXPECT_EQ(out[0], 0.3f);
    EXPECT_EQ(out[1], 2.0f);
    EXPECT_TRUE(std::isnan(out[2]));
    sampleTetra(random.data(), 1, 0.3f, 0.2f, 0.1f, out);
    EXPECT_EQ(out[0], 0.3f);
}

// The branches of the tone and finishing steps that the golden renders leave out (they lower
// highlights and darken the corners): raising highlights, a brightening vignette, bars
// meeting in the middle, negative and non-finite channels, far-off grain coordinates.
// The look over a run finds each pixel's tetrahedron from its sorted fractions rather than
// by the table of the single-pixel sampler: the same bytes on ties, lattice points, the
// top face, out-of-range and non-finite channels, and kept pixels stay as they were.
TEST(Tetrahedral, RunsGiveTheSinglePixelSamplerBytes) {
    const int n = 5;
    const auto cube = test::randomCube(n, 11);
    std::vector<float> packed(static_cast<std::size_t>(n) * n * n * 4);
    for (std::size_t i = 0; i < packed.size() / 4; ++i) {
        for (int k = 0; k < 4; ++k) {
            packed[4 * i + k] = k < 3 ? cube[3 * i + k] : 0.0f;
        }
    }
    const float values[] = {0.0f, 0.25f, 0.5f, 0.3f, 1.0f, 0.999f, -0.5f, 2.0f, kNaN, kInf};
    std::vector<float> r, g, b;
    for (float vr : values) {
        for (float vg : values) {
            for (float vb : values) {
                r.push_back(vr);
                g.push_back(vg);
                b.push_back(vb);
            }
        }
    }
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-0.1f, 1.1f);
    while (r.size() % kLookRun != 0) {
        r.push_back(u(rng));
        g.push_back(u(rng));
        b.push_back(u(rng));
    }
    for (std::size_t first = 0; first < r.size(); first += kLookRun) {
        float rr[kLookRun], gg[kLookRun], bb[kLookRun];
        int32_t keep[kLookRun];
        for (int i = 0; i < kLookRun; ++i) {
            rr[i] = r[first + i];
            gg[i] = g[first + i];
            bb[i] = b[first + i];
            keep[i] = i % 7 == 0;
        }
        lookRun(rr, gg, bb, keep, kLookRun, packed.data(), n, 0.8f);
        for (int i = 0; i < kLookRun; ++i) {
            const float in[3] = {r[first + i], g[first + i], b[first + i]};
            float want[3];
            sampleTetraPacked(packed.data(), n, in[0], in[1], in[2], want);
            const float got[3] = {rr[i], gg[i], bb[i]};
            for (int k = 0; k < 3; ++k) {
                const float expected = keep[i] != 0 ? in[k] : in[k] + (want[k] - in[k]) * 0.8f;
                if (std::isnan(expected)) {
                    EXPECT_TRUE(std::isnan(got[k]));
                } else {
                    EXPECT_EQ(got[k], expected) << in[0] << " " << in[1] << " " << in[2];
                }
            }
        }
    }
}

TEST(Tone, BranchesTheGoldenRendersLeaveOut) {
    EXPECT_EQ(mapHighlightLuma(0.34f, 1.0f), 0.34f);
    EXPECT_FLOAT_EQ(mapHighlightLuma(1.0f, 1.0f), 1.0f);
    EXPECT_FLOAT_EQ(mapHighlightLuma(1.5f, 1.0f), 1.175f);
    EXPECT_LT(mapHighlightLuma(0.85f, 1.0f), 1.0f);  // approaches 1 softly
    EXPECT_GT(mapHighlightLuma(0.7f, 1.0f), 0.7f);
    EXPECT_TRUE(std::isnan(mapHighlightLuma(kNaN, 1.0f)));
    float r = 0.05f, g = 0.05f, b = -0.01f;
    applyShadowExposure(r, g, b, 1.0f);
    EXPECT_EQ(b, -0.01f);
    r = kInf, g = 0.1f, b = 0.1f;
    applyShadowExposure(r, g, b, -1.0f);
    EXPECT_EQ(g, 0.1f);
    const FrameRect rod{0.0f, 0.0f, 1920.0f, 1080.0f};
    EXPECT_NEAR(vignetteScale(0, 0, rod, 1.0f, 0.5f, 0.5f), 1.65f, 1e-6f);
    EXPECT_TRUE(borderCovers(960, 540, rod, 1.0f, 0.0f));
    EXPECT_TRUE(std::isfinite(grainSignal(-2.1e9f, 2.1e9f, 4.0f, -5)));
}

}  // namespace
}  // namespace vd
