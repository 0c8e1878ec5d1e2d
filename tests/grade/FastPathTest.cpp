// The polynomial exponentials of the grade against the exact functions, densely over the
// ranges they are used on. (The run-at-a-time look and tone steps are pinned by the golden
// renders and by the look-only render against the per-pixel sampler.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

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

}  // namespace
}  // namespace vd
