// The colour maths and the built-in test chart.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "chart/Chart.h"
#include "colour/Colour.h"
#include "grade/Curves.h"

namespace vd {
namespace {

using colour::Encoding;
using colour::Gamut;
using colour::Rgb;
using colour::operator*;

TEST(ColourTest, GamutMatricesFollowThePublishedPrimaries) {
    // Luminance rows are the well-known weights; the D-Gamut matrix's first row is as
    // published with its primaries.
    const Rgb y709 = colour::lumaWeights(Gamut::Rec709);
    EXPECT_NEAR(y709[0], 0.2126, 1e-4);
    EXPECT_NEAR(y709[1], 0.7152, 1e-4);
    EXPECT_NEAR(y709[2], 0.0722, 1e-4);
    const Rgb y2020 = colour::lumaWeights(Gamut::Rec2020);
    EXPECT_NEAR(y2020[0], 0.2627, 1e-4);
    EXPECT_NEAR(y2020[1], 0.6780, 1e-4);
    EXPECT_NEAR(y2020[2], 0.0593, 1e-4);
    const colour::Mat3 d = colour::rgbToXyz(Gamut::DGamut);
    EXPECT_NEAR(d[0][0], 0.6482, 1e-3);
    EXPECT_NEAR(d[1][1], 0.8132, 1e-3);
    EXPECT_NEAR(d[2][2], 1.1903, 1e-3);
    // White stays white through every gamut change.
    const Rgb w = colour::mul(colour::gamutMatrix(Gamut::DGamut, Gamut::Rec709), Rgb{1, 1, 1});
    for (const double v : w) {
        EXPECT_NEAR(v, 1.0, 1e-9);
    }
}

// The looks are designed with the tools' double-precision curves and applied to footage
// that the engine decodes with its own; the two must be the same curves (the engine's are
// pinned at grey and at their ends in CurvesTest).
TEST(ColourTest, CameraCurvesAgreeWithTheEngine) {
    using colour::Encoding;
    for (const Encoding e : {Encoding::AppleLog, Encoding::Rec709, Encoding::DLog}) {
        for (int i = 0; i <= 1000; ++i) {
            const double code = i / 1000.0;
            const double linear = colour::decodeCurve(code, e);
            EXPECT_NEAR(linear, vd::decode(code, e), 1e-9 * std::max(1.0, linear))
                << "encoding " << static_cast<int>(e) << " code " << code;
            EXPECT_NEAR(colour::encodeCurve(linear, e), vd::encode(linear, e), 1e-9)
                << "encoding " << static_cast<int>(e) << " linear " << linear;
        }
        EXPECT_EQ(colour::decodeCurve(std::nan(""), e), 0.0);
    }
}

TEST(ColourTest, LabOfKnownColours) {
    const Rgb white = colour::xyzToLab(colour::mul(colour::rgbToXyz(Gamut::Rec709), Rgb{1, 1, 1}));
    EXPECT_NEAR(white[0], 100.0, 0.01);
    EXPECT_NEAR(colour::labChroma(white), 0.0, 0.05);
    const Rgb back = colour::labToXyz(colour::xyzToLab({0.3, 0.2, 0.1}));
    EXPECT_NEAR(back[0], 0.3, 1e-9);
    EXPECT_NEAR(back[2], 0.1, 1e-9);
    // Chromaticity hue ignores level; red sits near 0 degrees, blue far from it.
    const Rgb red = colour::mul(colour::rgbToXyz(Gamut::Rec709), Rgb{0.5, 0.1, 0.1});
    EXPECT_NEAR(colour::chromaticityHue(red), colour::chromaticityHue(red * 0.01), 1e-9);
    EXPECT_LT(std::abs(colour::hueDifference(colour::chromaticityHue(red), 0.0)), 30.0);
    EXPECT_EQ(colour::chromaticityHue({0, 0, 0}), 0.0);
    EXPECT_NEAR(colour::hueDifference(350.0, 10.0), -20.0, 1e-12);
    EXPECT_NEAR(colour::hueDifference(10.0, 350.0), 20.0, 1e-12);
    // CIEDE2000 against published test pairs, across the blue hue rotation and a large
    // difference.
    EXPECT_NEAR(colour::deltaE2000({50, 2.6772, -79.7751}, {50, 0, -82.7485}), 2.0425, 1e-4);
    EXPECT_NEAR(colour::deltaE2000({50, 2.5, 0}, {73, 25, -18}), 27.1492, 1e-4);
    EXPECT_NEAR(colour::deltaE2000({22.7233, 20.0904, -46.694}, {23.0331, 14.973, -42.5619}),
                2.0373, 1e-4);
}

TEST(ChartTest, CheckerPatchesMatchTheirReferences) {
    const std::vector<const chart::Region*> checker = regionsOfKind(chart::RegionKind::Checker);
    ASSERT_EQ(checker.size(), 24u);
    // The neutral row: luminance from L* (white 95.19 -> Y 0.881; neutral 5 -> Y 0.19), and
    // no colour.
    const chart::Region* white = chart::findRegion("white 9.5");
    const chart::Region* n5 = chart::findRegion("neutral 5");
    ASSERT_TRUE(white && n5);
    EXPECT_NEAR(colour::luminance(white->scene, Gamut::Rec2020), 0.881, 0.005);
    EXPECT_NEAR(colour::luminance(n5->scene, Gamut::Rec2020), 0.190, 0.005);
    for (int i = 18; i < 24; ++i) {
        const Rgb lab =
            colour::xyzToLab(colour::mul(colour::rgbToXyz(Gamut::Rec2020), checker[i]->scene));
        EXPECT_LT(colour::labChroma(lab), 3.5) << checker[i]->name;
    }
    // Skin and foliage sit where they should: reddish-orange, yellow-green.
    const auto hueOf = [](const char* name) {
        return colour::labHue(colour::xyzToLab(
            colour::mul(colour::rgbToXyz(Gamut::Rec2020), chart::findRegion(name)->scene)));
    };
    EXPECT_NEAR(hueOf("light skin"), 42.0, 5.0);
    EXPECT_NEAR(hueOf("foliage"), 120.0, 6.0);
    EXPECT_EQ(regionsOfKind(chart::RegionKind::Skin).size(), 8u);
}

TEST(ChartTest, EncodedChartIsFullHdCodesWithSmoothRamps) {
    {
        const Encoding e = Encoding::DLog;
        const chart::Image img = chart::encodedChart(e);
        ASSERT_EQ(img.width, 1920);
        ASSERT_EQ(img.height, 1080);
        ASSERT_EQ(img.pixels.size(), 1920u * 1080u * 3u);
        const auto [lo, hi] = std::minmax_element(img.pixels.begin(), img.pixels.end());
        EXPECT_GE(*lo, 0.0f);
        EXPECT_LE(*hi, 1.0f);
        // Grey patch centre carries the camera's code for 18% grey.
        const chart::Region* grey = chart::findRegion("grey 0");
        const size_t at =
            (static_cast<size_t>((grey->y0 + grey->y1) / 2) * 1920 + (grey->x0 + grey->x1) / 2) * 3;
        EXPECT_NEAR(img.pixels[at + 1], colour::encodeCurve(0.18, e), 1e-5);
        // The neutral ramp rises steadily from black, without steps.
        const chart::Region* ramp = chart::findRegion("neutral ramp");
        const int y = (ramp->y0 + ramp->y1) / 2;
        float previous = -1.0f;
        float largest = 0.0f;
        for (int x = ramp->x0; x < ramp->x1; ++x) {
            const float v = img.pixels[(static_cast<size_t>(y) * 1920 + x) * 3 + 1];
            EXPECT_GE(v, previous);
            if (previous >= 0.0f && x > ramp->x0 + 80) {
                largest = std::max(largest, v - previous);
            }
            previous = v;
        }
        EXPECT_LT(largest, 0.01f);
    }
    // Video clips at white and maps colours beyond its gamut onto the edge, keeping hue.
    const Rgb white = chart::encodeScene({4, 4, 4}, Encoding::Rec709);
    EXPECT_EQ(white[0], 1.0);
    const chart::Region* red = chart::findRegion("saturated 0 dim");
    const Rgb video = chart::encodeScene(red->scene, Encoding::Rec709);
    EXPECT_GT(video[0], 0.3);
    EXPECT_EQ(std::min(video[1], video[2]), 0.0);
}

}  // namespace
}  // namespace vd
