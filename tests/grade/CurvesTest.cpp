#include "grade/Curves.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>
#include <vector>

namespace vd {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(CurveTables, EndsMatchTheCurvesInSinglePrecision) {
    const float* apple = curveTable(kEncodingAppleLog);
    EXPECT_FLOAT_EQ(apple[kCurveDecode], -0.05641088f);
    EXPECT_FLOAT_EQ(apple[kCurveHighMax], 12.000002f);
    const float* rec = curveTable(kEncodingRec709);
    EXPECT_EQ(rec[kCurveDecode], 0.0f);
    EXPECT_EQ(rec[kCurveHighMax], 1.0f);
    const float* dlog = curveTable(kEncodingDLog);
    EXPECT_FLOAT_EQ(dlog[kCurveDecode], -0.015419087f);
    EXPECT_FLOAT_EQ(dlog[kCurveHighMax], 41.999393f);
    // Unknown encodings read as Apple Log.
    EXPECT_EQ(curveTable(-1), apple);
    EXPECT_EQ(curveTable(3), apple);
}

TEST(CurveTables, AreBuiltOnceAndSharedByConcurrentFirstUsers) {
    std::vector<const float*> seen(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = curveTable(kEncodingDLog); });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (const float* p : seen) {
        EXPECT_EQ(p, curveTable(kEncodingDLog));
    }
}

TEST(CurveTables, EighteenPercentGreyEncodesToTheKnownCodes) {
    EXPECT_NEAR(fastEncode(0.18f, curveTable(0), 0), 0.48827f, 1e-4f);
    EXPECT_NEAR(fastEncode(0.18f, curveTable(1), 1), 0.40901f, 1e-4f);
    EXPECT_NEAR(fastEncode(0.18f, curveTable(2), 2), 0.39876f, 1e-4f);
    for (int e = 0; e < 3; ++e) {
        EXPECT_NEAR(fastDecode(fastEncode(0.18f, curveTable(e), e), curveTable(e)), 0.18f, 2e-4f)
            << "encoding " << e;
    }
}

TEST(AppleLog, EndsAndContinuity) {
    EXPECT_DOUBLE_EQ(decode(0.0, 0), -0.05641088);
    EXPECT_DOUBLE_EQ(encode(-0.05641088, 0), 0.0);
    // Both branches meet at linear 0.01, code about 0.2085553.
    EXPECT_NEAR(encode(0.01 - 1e-12, 0), encode(0.01, 0), 1e-8);
    EXPECT_NEAR(encode(0.01, 0), 0.2085553, 1e-6);
    EXPECT_NEAR(decode(0.20855531595464202, 0), 0.01, 1e-6);
    const float* t = curveTable(0);
    EXPECT_NEAR(fastDecode(1.0f, t), 12.0f, 1e-5f);
    EXPECT_EQ(fastDecode(1.5f, t), fastDecode(1.0f, t));
}

TEST(Rec709, LinearAboveOneFollowsTheAnalyticCurve) {
    const float* t = curveTable(1);
    EXPECT_FLOAT_EQ(fastEncode(1.0f, t, 1), 1.0f);
    EXPECT_NEAR(fastEncode(2.0f, t, 1), 1.4023f, 1e-4f);
    EXPECT_NEAR(decode(0.0405, 1), 0.009, 1e-12);  // linear segment
}

TEST(DLog, ZeroAndTop) {
    const float* t = curveTable(2);
    EXPECT_NEAR(fastEncode(0.0f, t, 2), 0.0929f, 1e-6f);
    EXPECT_NEAR(fastEncode(42.0f, t, 2), 1.0f, 1e-4f);
    EXPECT_NEAR(encode(0.0078, 2), 6.025 * 0.0078 + 0.0929, 1e-12);
}

TEST(CurveLookups, NonFiniteAndOutOfRangeInputsStayInsideTheTables) {
    for (int e = 0; e < 3; ++e) {
        const float* t = curveTable(e);
        EXPECT_EQ(fastEncode(kNaN, t, e), 0.0f);
        EXPECT_EQ(fastEncode(kInf, t, e), 0.0f);
        EXPECT_EQ(fastEncode(-kInf, t, e), 0.0f);
        EXPECT_EQ(fastEncode(t[kCurveDecode], t, e), 0.0f);
        EXPECT_EQ(fastEncode(t[kCurveDecode] - 1.0f, t, e), 0.0f);
        EXPECT_EQ(fastDecode(kNaN, t), t[kCurveDecode]);
        EXPECT_EQ(fastDecode(-kInf, t), t[kCurveDecode]);
        EXPECT_EQ(fastDecode(kInf, t), t[kCurveDecode + 4095]);
        EXPECT_EQ(fastDecode(-3.0f, t), t[kCurveDecode]);
        EXPECT_EQ(sampleTable(t, kNaN), t[0]);
        EXPECT_EQ(sampleTable(t, 1e30f), t[4095]);
        EXPECT_EQ(sampleTable(t, -5.0f), t[0]);
        EXPECT_EQ(decode(std::nan(""), e), 0.0);
        EXPECT_EQ(encode(HUGE_VAL, e), 0.0);
    }
}

// Dark log codes decode to negative linear values; encoding them back must return the
// same code, not the code of linear 0.
TEST(CurveLookups, RoundTripHoldsForEveryCodeIncludingNegativeLinear) {
    for (int e = 0; e < 3; ++e) {
        const float* t = curveTable(e);
        float worst = 0.0f;
        for (int i = 1; i <= 1000; ++i) {
            const float code = static_cast<float>(i) / 1000.0f;
            const float back = fastEncode(fastDecode(code, t), t, e);
            worst = std::max(worst, std::fabs(back - code));
        }
        EXPECT_LT(worst, 2e-4f) << "encoding " << e;
    }
    // Apple Log code 0.1 and D-Log code 0.05 lie below linear 0.
    EXPECT_NEAR(fastEncode(fastDecode(0.1f, curveTable(0)), curveTable(0), 0), 0.1f, 1e-4f);
    EXPECT_NEAR(fastEncode(fastDecode(0.05f, curveTable(2)), curveTable(2), 2), 0.05f, 1e-4f);
}

}  // namespace
}  // namespace vd
