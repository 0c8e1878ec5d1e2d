// Checks on every look that ships in the bundle, read back from the files the build wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "chart/Chart.h"
#include "cube/CubeFile.h"
#include "looks/Catalogue.h"
#include "looks/LookFile.h"
#include "recipes/Recipes.h"
#include "vdlook/LookMaker.h"

namespace vd {
namespace {

using colour::Rgb;
using colour::operator*;

struct Shipped {
    int pack;
    int number;
    std::string file;
    recipes::Recipe recipe;
    colour::Encoding encoding;
    LutCube lut;
};

const std::vector<Shipped>& shipped() {
    static const std::vector<Shipped> looks = [] {
        std::vector<Shipped> out;
        for (int i = 0; i < lookCount(); ++i) {
            const LookEntry* e = lookEntry(i);
            Shipped s{e->pack, e->number, e->file, {}, packEncoding(e->pack), {}};
            if (const recipes::ShippedLook* r = recipes::findShippedLook(e->pack, e->number)) {
                s.recipe = r->recipe;
            }
            std::string bytes;
            const std::string path = (std::filesystem::path(VD_TEST_LOOKS_DIR) / e->file).string();
            if (lookmaker::readFile(path, bytes)) {
                decodeLookFile(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                               s.lut);
            }
            out.push_back(std::move(s));
        }
        return out;
    }();
    return looks;
}

Rgb sampleLook(const Shipped& s, const Rgb& code) {
    const std::array<float, 3> in{static_cast<float>(code[0]), static_cast<float>(code[1]),
                                  static_cast<float>(code[2])};
    const std::array<float, 3> out =
        cube::sampleLattice(s.lut.samples.data(), static_cast<int>(s.lut.edge), in);
    return {out[0], out[1], out[2]};
}

double luma(const Rgb& c) {
    return 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
}

double deltaE(const Rgb& a, const Rgb& b) {
    const Rgb la = colour::displayCodeToLab(a);
    const Rgb lb = colour::displayCodeToLab(b);
    return std::sqrt((la[0] - lb[0]) * (la[0] - lb[0]) + (la[1] - lb[1]) * (la[1] - lb[1]) +
                     (la[2] - lb[2]) * (la[2] - lb[2]));
}

// The fully saturated colour of a hue (0 red, 120 green, 240 blue) in some RGB gamut.
Rgb fullySaturated(double hue) {
    const double h = std::fmod(hue, 360.0) / 60.0;
    const double x = 1.0 - std::abs(std::fmod(h, 2.0) - 1.0);
    const Rgb table[6] = {{1, x, 0}, {x, 1, 0}, {0, 1, x}, {0, x, 1}, {x, 0, 1}, {1, 0, x}};
    return table[static_cast<int>(h) % 6];
}

std::string nameOf(const Shipped& s) {
    return s.file + " (" + s.recipe.name + ")";
}

// The file holds the recipe at edge 65: a spread of lattice points agrees with the recipe
// to 16-bit precision.
void matchesItsRecipe(const Shipped& s) {
    const recipes::PreparedLook look = recipes::prepareLook(s.recipe, s.encoding);
    for (int i = 0; i < 40; ++i) {
        const int r = (i * 37) % 65;
        const int g = (i * 11 + 5) % 65;
        const int b = (i * 23 + 9) % 65;
        const Rgb want = recipes::applyLook(look, {r / 64.0, g / 64.0, b / 64.0});
        const float* got = &s.lut.samples[((static_cast<size_t>(b) * 65 + g) * 65 + r) * 3];
        for (int k = 0; k < 3; ++k) {
            ASSERT_NEAR(got[k], want[static_cast<size_t>(k)], 0.6 / 65535.0) << s.file;
        }
    }
}

void neutralAxisIsMonotonicAndUntintedUnlessToned(const Shipped& s) {
    double previous = -1.0;
    double spread = 0.0;
    for (int i = 0; i <= 256; ++i) {
        const double c = i / 256.0;
        const Rgb out = sampleLook(s, {c, c, c});
        const double y = luma(out);
        spread = std::max(spread, *std::max_element(out.begin(), out.end()) -
                                      *std::min_element(out.begin(), out.end()));
        // Within an eighth of an 8-bit step; within one step up to two lattice points above
        // the camera's black, where the lattice corners beside grey hold negative light
        // (noise colours).
        const bool belowBlack = c < colour::encodeCurve(0.0, s.encoding) + 2.0 / 64.0;
        EXPECT_GE(y, previous - (belowBlack ? 0.004 : 5e-4))
            << nameOf(s) << " darkens at neutral code " << c;
        previous = y;
    }
    const recipes::Recipe& r = s.recipe;
    if (!r.toned && r.shadowTint.amount == 0.0 && r.highlightTint.amount == 0.0 &&
        r.midTint.amount == 0.0) {
        // One and a half 8-bit steps between the channels, less than a just noticeable
        // difference; interpolation between lattice points of a strongly saturating look
        // leaves about that much.
        EXPECT_LT(spread, 0.006) << nameOf(s) << " tints the neutral axis";
    }
}

// Between neighbouring lattice points the LUT is interpolated linearly, so banding comes
// from steps that are large (a steep edge that 10-bit input cannot resolve) or that stand
// out from their neighbours (a kink or a jump).
void noLatticeStepLargeEnoughToBand(const Shipped& s) {
    constexpr double kLargest = 0.2;
    constexpr double kJump = 0.06;
    const int n = static_cast<int>(s.lut.edge);
    const size_t stride[3] = {1, static_cast<size_t>(n), static_cast<size_t>(n) * n};
    // The largest channel difference between lattice points a and b.
    auto step = [&](size_t a, size_t b) {
        double d = 0.0;
        for (int k = 0; k < 3; ++k) {
            d = std::max(d, static_cast<double>(
                                std::abs(s.lut.samples[b * 3 + k] - s.lut.samples[a * 3 + k])));
        }
        return d;
    };
    double largest = 0.0;
    int jumps = 0;
    for (int axis = 0; axis < 3; ++axis) {
        for (size_t base = 0; base < stride[2] * n; ++base) {
            if (base / stride[axis] % n != 0) {
                continue;
            }
            double before = 0.0;
            for (int i = 0; i + 1 < n; ++i) {
                const size_t a = base + i * stride[axis];
                const double here = step(a, a + stride[axis]);
                const double after = i + 2 < n ? step(a + stride[axis], a + 2 * stride[axis]) : 0.0;
                largest = std::max(largest, here);
                if (here > kJump && here > 3.0 * std::max(before, after)) {
                    ++jumps;
                }
                before = here;
            }
        }
    }
    EXPECT_LE(largest, kLargest) << nameOf(s);
    EXPECT_EQ(jumps, 0) << nameOf(s);
}

void saturatedColoursStayDistinctInsteadOfClipping(const Shipped& s) {
    const colour::Gamut edge =
        s.encoding == colour::Encoding::Rec709 ? colour::Gamut::Rec709 : colour::Gamut::Rec2020;
    const colour::Mat3 toScene = colour::gamutMatrix(edge, colour::Gamut::Rec2020);
    for (int h = 0; h < 12; ++h) {
        // From a moderate colour out to the edge of the camera's gamut (Rec.2020 for log
        // footage; for video, Rec.709, where the camera already put everything beyond).
        Rgb previous{};
        for (int i = 0; i <= 5; ++i) {
            const double sat = 0.5 + 0.1 * i;
            const Rgb full = fullySaturated(h * 30.0);
            const Rgb mixed{1.0 - sat + sat * full[0], 1.0 - sat + sat * full[1],
                            1.0 - sat + sat * full[2]};
            const Rgb out =
                sampleLook(s, chart::encodeScene(colour::mul(toScene, mixed * 0.3), s.encoding));
            if (i > 0) {
                // Compression narrows the steps towards the edge; a clip would make
                // them zero.
                EXPECT_GT(deltaE(out, previous), 0.2)
                    << nameOf(s) << " flattens hue " << h * 30 << " at saturation " << sat;
            }
            previous = out;
        }
    }
}

// What a colourist reads off a look.
struct Measures {
    double grey = 0;          // display code (luma) of 18% grey
    double neutral = 0;       // largest |R-G|, |B-G| at 18% grey
    double skin = 0;          // skin hue shift of largest size at 0 EV, degrees (+ yellower)
    double skinExposed = 0;   // largest skin hue shift over -1..+1 EV
    double skinChroma = 1e9;  // smallest fraction of skin chroma kept
    double bright = 0;        // largest hue drift of bright colours over -3..+3 EV
    double fold = 0;          // longest backward run of hue along a hue circle
    double skyStops = 0;      // clear sky against a grey of its luminance, in stops
    double foliageStops = 0;  // sunlit foliage likewise
};

bool isMonochrome(const Shipped& s) {
    return s.recipe.mono > 0.5;
}

bool named(const Shipped& s, const char* word) {
    return std::string(s.recipe.name).find(word) != std::string::npos;
}

// A scene colour (Rec.2020, linear) at an exposure, as the camera records it, and the
// colour it is judged against: the scene for log footage, the video picture for video.
struct Probe {
    Rgb code;
    Rgb referenceXyz;
};

Probe probe(const Shipped& s, const Rgb& scene, double stops) {
    const Rgb exposed = scene * std::exp2(stops);
    const Rgb code = chart::encodeScene(exposed, s.encoding);
    const Rgb ref = s.encoding == colour::Encoding::Rec709
                        ? colour::displayCodeToXyz(code)
                        : colour::mul(colour::rgbToXyz(colour::Gamut::Rec2020), exposed);
    return {code, ref};
}

// How far the look turns a colour's hue (output against reference), in degrees.
double hueShift(const Shipped& s, const Rgb& scene, double stops) {
    const Probe p = probe(s, scene, stops);
    const Rgb out = colour::displayCodeToXyz(sampleLook(s, p.code));
    return colour::hueDifference(colour::chromaticityHue(out),
                                 colour::chromaticityHue(p.referenceXyz));
}

// The exposure of a grey (in stops from the colour's own luminance) that the look renders
// as bright as the colour: what a monochrome's filter does to it.
double equivalentStops(const Shipped& s, const Rgb& scene) {
    const double target = luma(sampleLook(s, chart::encodeScene(scene, s.encoding)));
    const double y = colour::luminance(scene, colour::Gamut::Rec2020);
    double lo = -6.0;
    double hi = 6.0;
    for (int i = 0; i < 40; ++i) {
        const double mid = 0.5 * (lo + hi);
        const double v = y * std::exp2(mid);
        (luma(sampleLook(s, chart::encodeScene({v, v, v}, s.encoding))) < target ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
}

std::vector<Rgb> skinTones() {
    std::vector<Rgb> skin;
    for (const chart::Region* r : chart::regionsOfKind(chart::RegionKind::Skin)) {
        skin.push_back(r->scene);
    }
    skin.push_back(chart::findRegion("dark skin")->scene);
    skin.push_back(chart::findRegion("light skin")->scene);
    skin.push_back(chart::kLitSkin);
    return skin;
}

// Along circles of hue at constant level and saturation (in the camera's working gamut),
// the longest run over which the output hue goes backwards. Hue is taken around the look's
// own rendering of the circle's grey, so that a tinted look's offset does not count.
double worstFold(const Shipped& s) {
    const bool video = s.encoding == colour::Encoding::Rec709;
    const colour::Mat3 toScene = colour::gamutMatrix(
        video ? colour::Gamut::Rec709 : colour::Gamut::Rec2020, colour::Gamut::Rec2020);
    double worst = 0.0;
    for (const double level : {0.045, 0.18, video ? 0.45 : 0.72}) {
        const Rgb grey = colour::displayCodeToLab(sampleLook(
            s, chart::encodeScene(colour::mul(toScene, Rgb{level, level, level}), s.encoding)));
        for (const double sat : {0.3, 0.7}) {
            double previous = 0.0;
            double run = 0.0;
            for (int i = 0; i <= 360; ++i) {
                // Channels at level * (1 + sat * cos(hue - 120 k)): a ring around grey.
                const double h = i * 3.14159265358979323846 / 180.0;
                const Rgb ring{level * (1.0 + sat * std::cos(h)),
                               level * (1.0 + sat * std::cos(h - 2.0943951023931953)),
                               level * (1.0 + sat * std::cos(h + 2.0943951023931953))};
                const Rgb out =
                    sampleLook(s, chart::encodeScene(colour::mul(toScene, ring), s.encoding));
                const Rgb lab = colour::displayCodeToLab(out);
                const double hue = colour::labHue({0.0, lab[1] - grey[1], lab[2] - grey[2]});
                if (i > 0) {
                    const double d = colour::hueDifference(hue, previous);
                    run = d < 0.0 ? run - d : 0.0;
                    worst = std::max(worst, run);
                }
                previous = hue;
            }
        }
    }
    return worst;
}

Measures measure(const Shipped& s) {
    Measures m;
    const Rgb grey = sampleLook(s, chart::encodeScene({0.18, 0.18, 0.18}, s.encoding));
    m.grey = luma(grey);
    m.neutral = std::max(std::abs(grey[0] - grey[1]), std::abs(grey[2] - grey[1]));
    for (const Rgb& skin : skinTones()) {
        for (const double ev : {-1.0, -0.5, 0.0, 0.5, 1.0}) {
            const double signedShift = hueShift(s, skin, ev);
            const double shift = std::abs(signedShift);
            m.skinExposed = std::max(m.skinExposed, shift);
            if (ev == 0.0 && shift >= std::abs(m.skin)) {
                m.skin = signedShift;
                const Probe p = probe(s, skin, 0.0);
                const double before = colour::labChroma(colour::xyzToLab(p.referenceXyz));
                const double after =
                    colour::labChroma(colour::displayCodeToLab(sampleLook(s, p.code)));
                m.skinChroma = std::min(m.skinChroma, after / before);
            }
        }
    }
    for (const Rgb& c : {chart::kClearSky, chart::kSunlitFoliage, chart::kBrightOrange}) {
        const double atZero = hueShift(s, c, 0.0);
        for (int ev = -3; ev <= 3; ++ev) {
            // A video camera has already clipped what lies above its white.
            const Rgb code = probe(s, c, ev).code;
            if (*std::max_element(code.begin(), code.end()) >= 0.999) {
                continue;
            }
            m.bright =
                std::max(m.bright, std::abs(colour::hueDifference(hueShift(s, c, ev), atZero)));
        }
    }
    if (isMonochrome(s)) {
        m.skyStops = equivalentStops(s, chart::kClearSky);
        m.foliageStops = equivalentStops(s, chart::kSunlitFoliage);
    } else {
        m.fold = worstFold(s);
    }
    return m;
}

// Mean CIEDE2000 between two files over a 17^3 grid of input codes (every fourth lattice
// point, so no interpolation).
std::vector<Rgb> labGrid(const Shipped& s) {
    std::vector<Rgb> lab;
    const int n = static_cast<int>(s.lut.edge);
    for (int b = 0; b < n; b += 4) {
        for (int g = 0; g < n; g += 4) {
            for (int r = 0; r < n; r += 4) {
                const float* p = &s.lut.samples[((static_cast<size_t>(b) * n + g) * n + r) * 3];
                lab.push_back(colour::displayCodeToLab({p[0], p[1], p[2]}));
            }
        }
    }
    return lab;
}

// One test, so that the 58 files are read and decoded once per run: each check names the
// look and what it found.
TEST(ShippedLooksTest, EveryShippedLookPassesTheLookChecks) {
    const std::vector<Shipped>& all = shipped();
    ASSERT_EQ(all.size(), 58u);
    ASSERT_EQ(recipes::shippedLooks().size(), 58u);
    std::vector<std::vector<Rgb>> grids;
    for (const Shipped& s : all) {
        ASSERT_EQ(s.lut.edge, 65u) << s.file << " is missing or does not decode";
        ASSERT_NE(std::string(s.recipe.name), "") << s.file << " has no recipe";
        grids.push_back(labGrid(s));
    }
    for (size_t i = 0; i < all.size(); ++i) {
        const Shipped& s = all[i];
        matchesItsRecipe(s);
        neutralAxisIsMonotonicAndUntintedUnlessToned(s);
        noLatticeStepLargeEnoughToBand(s);
        if (!isMonochrome(s)) {  // black and white looks drop colour on purpose
            saturatedColoursStayDistinctInsteadOfClipping(s);
        }
        const Measures m = measure(s);
        EXPECT_GE(m.grey, 0.38) << nameOf(s) << " puts 18% grey too low";
        EXPECT_LE(m.grey, 0.50) << nameOf(s) << " puts 18% grey too high";
        for (size_t j = 0; j < all.size(); ++j) {
            if (j == i) {
                continue;
            }
            double sum = 0.0;
            for (size_t k = 0; k < grids[i].size(); ++k) {
                sum += colour::deltaE2000(grids[i][k], grids[j][k]);
            }
            const double mean = sum / static_cast<double>(grids[i].size());
            EXPECT_GE(mean, all[i].pack == all[j].pack ? 4.0 : 2.0)
                << nameOf(s) << " and " << nameOf(all[j]) << " look alike";
        }
        // Looks named for an overall tint (warm, sepia, ...) tint neutrals and skin on purpose.
        if (!s.recipe.toned) {
            EXPECT_LE(m.neutral, 0.01) << nameOf(s) << " tints 18% grey";
        }
        if (!s.recipe.toned && !isMonochrome(s)) {
            EXPECT_LE(std::abs(m.skin), 5.0) << nameOf(s) << " turns skin";
            EXPECT_LE(m.skinExposed, 8.0) << nameOf(s) << " turns skin with exposure";
        }
        if (named(s, "night") || named(s, "dusk")) {
            EXPECT_GE(m.skinChroma, 0.5) << nameOf(s) << " leaves faces ashen";
        }
        if (s.recipe.natural) {
            EXPECT_LE(m.bright, 12.0) << nameOf(s) << " turns bright colours with exposure";
        }
        EXPECT_LE(m.fold, 1.0) << nameOf(s) << " folds hues";
        if (named(s, "red filter")) {
            EXPECT_LE(m.skyStops, -1.0) << nameOf(s) << " does not darken the sky";
            EXPECT_LT(m.foliageStops, 0.0) << nameOf(s) << " does not darken foliage";
        }
    }
}

}  // namespace
}  // namespace vd
