// The fast paths of the grade: the polynomial exponentials against the exact functions,
// densely over the ranges they are used on, and the run-at-a-time look and tone steps
// against the same steps taken one pixel at a time.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "grade/PixelMath.h"

namespace vd {
namespace {

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

// Pixels that exercise every branch: inside and outside [0, 1], negative, tiny, huge and
// non-finite channels, and runs whose length is not a multiple of four.
struct PixelRun {
    std::vector<float> r, g, b;
    std::vector<int32_t> keep;
};

PixelRun makeRun(int count) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-0.2f, 1.3f);
    PixelRun run;
    for (int i = 0; i < count; ++i) {
        float px[3] = {u(rng), u(rng), u(rng)};
        if (i % 37 == 5) {
            px[i % 3] = NAN;
        } else if (i % 41 == 7) {
            px[i % 3] = INFINITY;
        } else if (i % 43 == 9) {
            px[0] = px[1] = px[2] = 0.02f * u(rng);  // deep shadows
        }
        run.r.push_back(px[0]);
        run.g.push_back(px[1]);
        run.b.push_back(px[2]);
        run.keep.push_back(i % 5 == 3 ? 1 : 0);
    }
    return run;
}

void expectSameBits(float a, float b, int i) {
    uint32_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    EXPECT_EQ(x, y) << "pixel " << i;
}

TEST(FastPath, LookRunGivesThePerPixelLookExactly) {
    const int n = 9;
    std::vector<float> cube(static_cast<std::size_t>(n) * n * n * 4);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-0.1f, 1.1f);
    for (float& v : cube) {
        v = u(rng);
    }
    PixelRun run = makeRun(1023);
    const PixelRun before = run;
    lookRun(run.r.data(), run.g.data(), run.b.data(), run.keep.data(), 1023, cube.data(), n, 0.8f);
    for (int i = 0; i < 1023; ++i) {
        float r = before.r[i], g = before.g[i], b = before.b[i];
        if (before.keep[i] == 0) {
            float v[3];
            sampleTetraPacked(cube.data(), n, r, g, b, v);
            r += (v[0] - r) * 0.8f;
            g += (v[1] - g) * 0.8f;
            b += (v[2] - b) * 0.8f;
        }
        expectSameBits(run.r[i], r, i);
        expectSameBits(run.g[i], g, i);
        expectSameBits(run.b[i], b, i);
    }
}

TEST(FastPath, ToneRunGivesThePerPixelStepsExactly) {
    for (const float sign : {1.0f, -1.0f}) {
        ToneAmounts t;
        t.contrast = 0.3f * sign;
        t.shadows = 0.7f * sign;
        t.highlights = -0.6f * sign;
        t.saturation = 0.4f * sign;
        PixelRun run = makeRun(1021);
        const PixelRun before = run;
        toneRun(run.r.data(), run.g.data(), run.b.data(), run.keep.data(), 1021, t);
        for (int i = 0; i < 1021; ++i) {
            float r = before.r[i], g = before.g[i], b = before.b[i];
            if (before.keep[i] == 0) {
                const float f = 1.0f + t.contrast;
                r = (r - 0.5f) * f + 0.5f;
                g = (g - 0.5f) * f + 0.5f;
                b = (b - 0.5f) * f + 0.5f;
                applyShadowExposure(r, g, b, t.shadows);
                applyHighlights(r, g, b, t.highlights);
                const float l = displayLuma(r, g, b);
                const float s = 1.0f + t.saturation;
                r = l + (r - l) * s;
                g = l + (g - l) * s;
                b = l + (b - l) * s;
            }
            expectSameBits(run.r[i], r, i);
            expectSameBits(run.g[i], g, i);
            expectSameBits(run.b[i], b, i);
        }
    }
}

}  // namespace
}  // namespace vd
