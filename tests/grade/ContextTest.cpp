#include "grade/Grade.h"
#include "grade/GradeContext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vd {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

ImageView frameImage(int w, int h, int components = 4) {
    static float pixel[4];
    ImageView v;
    v.data = pixel;
    v.rowBytes = w * components * 4;
    v.x2 = w;
    v.y2 = h;
    v.components = components;
    return v;
}

GradeContext derive(const GradeSettings& s, int w = 1920, int h = 1080,
                    const ImageView* src = nullptr) {
    static ImageView dst;
    dst = frameImage(w, h);
    return deriveGradeContext(s, src, dst, PixelRect{0, 0, w, h}, PixelRect{0, 0, w, h});
}

TEST(WorkingValues, ExposureIsClampedToFourStops) {
    GradeSettings s;
    s.exposure = 6.0f;
    GradeContext c = derive(s);
    EXPECT_EQ(c.exposureStops, 4.0f);
    EXPECT_EQ(c.exposureGain, 16.0f);
    EXPECT_TRUE(c.has(kDoShoulder));
    s.exposure = -6.0f;
    c = derive(s);
    EXPECT_EQ(c.exposureStops, -4.0f);
    EXPECT_EQ(c.exposureGain, 1.0f / 16.0f);
    EXPECT_FALSE(c.has(kDoShoulder));
    EXPECT_TRUE(c.has(kDoExposure | kDoLinear));
    s.exposure = kNaN;
    EXPECT_EQ(derive(s).exposureStops, 0.0f);
}

TEST(WorkingValues, NonFiniteControlsFallBackToTheirDefaults) {
    GradeSettings s;
    s.bloomThreshold = kNaN;
    s.temperature = kInf;
    s.vignetteSize = kNaN;
    s.grainSize = kNaN;
    s.borderColour[1] = kNaN;
    s.encoding = static_cast<CameraEncoding>(7);
    const GradeContext c = derive(s);
    EXPECT_FLOAT_EQ(c.bloomThreshold, 0.7f);
    EXPECT_EQ(c.temperature, 0.0f);
    EXPECT_FLOAT_EQ(c.vignetteSize, 0.5f);
    EXPECT_FLOAT_EQ(c.grainCell, 1.6f);
    EXPECT_EQ(c.borderColour[1], 0.0f);
    EXPECT_EQ(c.encoding, CameraEncoding::AppleLog);
}

// That each control which is on sets its step's flag shows in the golden renders, which
// would lose the effect otherwise; that a fresh record, no look or intensity 0 grades nothing,
// in the looks' renders through the plug-in, which leave the picture exactly as it was.
TEST(Flags, NaNCountsAsOnAndTheStepReadsItAsZero) {
    GradeSettings s;
    s.contrast = kNaN;
    s.highlights = kNaN;
    const GradeContext c = derive(s);
    EXPECT_EQ(c.flags, kDoContrast | kDoZones);
    EXPECT_EQ(c.stepContrast, 0.0f);
    EXPECT_EQ(c.stepHighlights, 0.0f);
}

TEST(Geometry, RadiiScaleWithFrameHeightAndRenderScale) {
    EXPECT_EQ(haloRadiusPixels(1.0f, 1080.0f, 1.0f), 52);
    EXPECT_EQ(bloomRadiusPixels(1.0f, 1080.0f, 1.0f), 120);
    EXPECT_EQ(haloRadiusPixels(4.0f, 1080.0f, 1.0f), 208);
    EXPECT_EQ(bloomRadiusPixels(1.0f, 2160.0f, 1.0f), 240);
    EXPECT_EQ(haloRadiusPixels(-1.0f, 1080.0f, 1.0f), 0);
    EXPECT_EQ(haloRadiusPixels(kNaN, 1080.0f, 1.0f), 0);
    EXPECT_EQ(haloRadiusPixels(1.0f, 0.0f, 1.0f), 52);  // height 0 reads as 1080

    // Render scale 0.5 of a 2160-line frame.
    GradeSettings s;
    s.renderScale = 0.5f;
    s.frameHeight = 2160;
    s.halationAmount = 1.0f;
    s.bloomAmount = 1.0f;
    s.splitScreen = true;
    const GradeContext c = derive(s, 1920, 1080);
    EXPECT_FLOAT_EQ(c.grainCell, 1.6f);
    EXPECT_EQ(c.haloRadiusPx, 52);
    EXPECT_EQ(c.bloomRadiusPx, 120);
    EXPECT_EQ(c.splitHalf, 0.5f);

    // frameHeight 0: the frame rectangle (540 rows at scale 0.5) gives H = 1080.
    s.frameHeight = 0;
    s.halationRadius = 2.0f;
    EXPECT_EQ(derive(s, 960, 540).haloRadiusPx, 52);
}

TEST(Geometry, RadiiAreBoundedByTheControlMaximum) {
    GradeSettings s;
    s.halationAmount = 1.0f;
    s.bloomAmount = 1.0f;
    s.halationRadius = 1e30f;
    s.bloomRadius = kInf;  // non-finite counts as 0
    const GradeContext c = derive(s);
    EXPECT_EQ(c.haloRadiusPx, 208);
    EXPECT_EQ(c.bloomRadiusPx, 0);
    // An absurd frame height cannot push a radius past the representable bound.
    EXPECT_EQ(haloRadiusPixels(4.0f, 3e38f, 1.0f), kMaxEffectRadiusPx);
    // The blur radii of the reduced grids are capped (a halation of 208 pixels would be 52).
    EXPECT_EQ(haloBlurRadius(208), 32);
    EXPECT_EQ(bloomBlurRadius0(240), 40);
    EXPECT_EQ(bloomBlurRadius1(240), 24);
}

TEST(Geometry, SplitDividerSitsAtThePositionOfTheFrameRectangle) {
    GradeSettings s;
    s.splitScreen = true;
    GradeContext c = derive(s);
    EXPECT_EQ(c.splitX, 960.0f);
    EXPECT_EQ(c.splitHalf, 0.5f);
    s.splitPosition = kNaN;
    EXPECT_EQ(derive(s).splitX, 960.0f);
    s.splitPosition = 3.0f;
    EXPECT_EQ(derive(s).splitX, 1920.0f);
    s.splitPosition = 0.5f;
    s.frameHeight = 2160;
    EXPECT_EQ(derive(s).splitHalf, 1.0f);
    EXPECT_EQ(dividerWidthPixels(1620.0f, 1.0f), 2);  // 1.5 rounds away from zero
}

TEST(BufferSizes, OverflowAndHugeRequestsAreRefused) {
    EXPECT_EQ(checkedBufferFloats(1920, 1080, 3).value(), std::size_t{1920} * 1080 * 3);
    EXPECT_FALSE(checkedBufferFloats(int64_t{1} << 31, int64_t{1} << 31, 3));
    EXPECT_FALSE(checkedBufferFloats(40000, 40000, 3));
    EXPECT_FALSE(checkedBufferFloats(-1, 10, 1));
    // An effect region past the 32-bit coordinate range is refused, not wrapped.
    EXPECT_FALSE(effectRegion(PixelRect{0, 0, 10, 10}, 0x7fffffff, nullptr));
}

}  // namespace
}  // namespace vd
