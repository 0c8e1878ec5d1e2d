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
constexpr CameraEncoding kApple = CameraEncoding::AppleLog;
constexpr CameraEncoding kVideo = CameraEncoding::Rec709;
constexpr CameraEncoding kDLog = CameraEncoding::DLog;
constexpr CameraEncoding kAll[] = {kApple, kVideo, kDLog};

TEST(CurveTables, EndsMatchTheCurvesInSinglePrecision) {
    const float* apple = curveTable(kApple);
    EXPECT_FLOAT_EQ(apple[kCurveDecode], -0.05641088f);
    EXPECT_FLOAT_EQ(apple[kCurveHighMax], 12.000002f);
    const float* rec = curveTable(kVideo);
    EXPECT_EQ(rec[kCurveDecode], 0.0f);
    EXPECT_EQ(rec[kCurveHighMax], 1.0f);
    const float* dlog = curveTable(kDLog);
    EXPECT_FLOAT_EQ(dlog[kCurveDecode], -0.015419087f);
    EXPECT_FLOAT_EQ(dlog[kCurveHighMax], 41.999393f);
    // Codes that name no encoding read as Apple Log.
    EXPECT_EQ(curveTable(static_cast<CameraEncoding>(-1)), apple);
    EXPECT_EQ(curveTable(static_cast<CameraEncoding>(3)), apple);
}

TEST(CurveTables, AreBuiltOnceAndSharedByConcurrentFirstUsers) {
    std::vector<const float*> seen(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = curveTable(kDLog); });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (const float* p : seen) {
        EXPECT_EQ(p, curveTable(kDLog));
    }
}

TEST(CurveTables, EighteenPercentGreyEncodesToTheKnownCodes) {
    EXPECT_NEAR(fastEncode(0.18f, curveTable(kApple), kApple), 0.48827f, 1e-4f);
    EXPECT_NEAR(fastEncode(0.18f, curveTable(kVideo), kVideo), 0.40901f, 1e-4f);
    EXPECT_NEAR(fastEncode(0.18f, curveTable(kDLog), kDLog), 0.39876f, 1e-4f);
}

TEST(Curves, BranchesMeetAndEndsHoldTheirValues) {
    EXPECT_DOUBLE_EQ(decode(0.0, kApple), -0.05641088);
    EXPECT_DOUBLE_EQ(encode(-0.05641088, kApple), 0.0);
    // Apple Log's branches meet at linear 0.01, code about 0.2085553.
    EXPECT_NEAR(encode(0.01 - 1e-12, kApple), encode(0.01, kApple), 1e-8);
    EXPECT_NEAR(encode(0.01, kApple), 0.2085553, 1e-6);
    EXPECT_NEAR(fastDecode(1.0f, curveTable(kApple)), 12.0f, 1e-5f);
    // Rec.709 above linear 1 follows the analytic curve; its linear segment.
    EXPECT_NEAR(fastEncode(2.0f, curveTable(kVideo), kVideo), 1.4023f, 1e-4f);
    EXPECT_NEAR(decode(0.0405, kVideo), 0.009, 1e-12);
    // D-Log's linear segment and top.
    EXPECT_NEAR(fastEncode(0.0f, curveTable(kDLog), kDLog), 0.0929f, 1e-6f);
    EXPECT_NEAR(fastEncode(42.0f, curveTable(kDLog), kDLog), 1.0f, 1e-4f);
    EXPECT_NEAR(encode(0.0078, kDLog), 6.025 * 0.0078 + 0.0929, 1e-12);
}

TEST(CurveLookups, NonFiniteAndOutOfRangeInputsStayInsideTheTables) {
    for (const CameraEncoding e : kAll) {
        const float* t = curveTable(e);
        EXPECT_EQ(fastEncode(kNaN, t, e), 0.0f);
        EXPECT_EQ(fastEncode(kInf, t, e), 0.0f);
        EXPECT_EQ(fastEncode(-kInf, t, e), 0.0f);
        EXPECT_EQ(fastEncode(t[kCurveDecode] - 1.0f, t, e), 0.0f);
        EXPECT_EQ(fastDecode(kNaN, t), t[kCurveDecode]);
        EXPECT_EQ(fastDecode(kInf, t), t[kCurveDecode + 4095]);
        EXPECT_EQ(fastDecode(-3.0f, t), t[kCurveDecode]);
        EXPECT_EQ(sampleTable(t, kNaN), t[0]);
        EXPECT_EQ(sampleTable(t, 1e30f), t[4095]);
        EXPECT_EQ(decode(std::nan(""), e), 0.0);
        EXPECT_EQ(encode(HUGE_VAL, e), 0.0);
    }
}

// Dark log codes decode to negative linear values; encoding them back must return the
// same code, not the code of linear 0.
TEST(CurveLookups, RoundTripHoldsForEveryCodeIncludingNegativeLinear) {
    for (const CameraEncoding e : kAll) {
        const float* t = curveTable(e);
        float worst = 0.0f;
        for (int i = 1; i <= 1000; ++i) {
            const float code = static_cast<float>(i) / 1000.0f;
            worst = std::max(worst, std::fabs(fastEncode(fastDecode(code, t), t, e) - code));
        }
        EXPECT_LT(worst, 2e-4f) << "encoding " << static_cast<int>(e);
    }
}

}  // namespace
}  // namespace vd
