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
    {
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
}

void neutralAxisIsMonotonicAndUntintedUnlessTonedOnPurpose(const Shipped& s) {
    {
        double previous = -1.0;
        double spread = 0.0;
        for (int i = 0; i <= 256; ++i) {
            const double c = i / 256.0;
            const Rgb out = sampleLook(s, {c, c, c});
            const double y = luma(out);
            // Within an eighth of an 8-bit step; within one step up to two lattice points above
            // the camera's black, where the lattice corners beside grey hold negative light
            // (noise colours).
            const bool belowBlack = c < colour::encodeCurve(0.0, s.encoding) + 2.0 / 64.0;
            EXPECT_GE(y, previous - (belowBlack ? 0.004 : 5e-4))
                << nameOf(s) << " darkens at neutral code " << c;
            previous = y;
            spread = std::max(spread, *std::max_element(out.begin(), out.end()) -
                                          *std::min_element(out.begin(), out.end()));
        }
        if (!s.recipe.toned) {
            // One and a half 8-bit steps between the channels, less than a just noticeable
            // difference; interpolation between lattice points of a strongly saturating
            // look leaves about that much.
            EXPECT_LT(spread, 0.006) << nameOf(s) << " tints the neutral axis";
        }
    }
}

void midGreyLandsBetweenCode038And050(const Shipped& s) {
    {
        const Rgb grey = chart::encodeScene({0.18, 0.18, 0.18}, s.encoding);
        const double y = luma(sampleLook(s, grey));
        EXPECT_GE(y, 0.38) << nameOf(s);
        EXPECT_LE(y, 0.50) << nameOf(s);
    }
}

// Between neighbouring lattice points the LUT is interpolated linearly, so banding comes
// from steps that are large (a steep edge that 10-bit input cannot resolve) or that stand
// out from their neighbours (a kink or a jump).
void noLatticeStepLargeEnoughToBand(const Shipped& s) {
    constexpr double kLargest = 0.2;
    constexpr double kJump = 0.06;
    {
        const int n = static_cast<int>(s.lut.edge);
        const size_t stride[3] = {1, static_cast<size_t>(n), static_cast<size_t>(n) * n};
        double largest = 0.0;
        int jumps = 0;
        for (int axis = 0; axis < 3; ++axis) {
            for (size_t base = 0; base < stride[2] * n; ++base) {
                const int along = static_cast<int>(base / stride[axis] % n);
                if (along != 0) {
                    continue;
                }
                double before = 0.0;
                for (int i = 0; i + 1 < n; ++i) {
                    const float* a = &s.lut.samples[(base + i * stride[axis]) * 3];
                    const float* b = &s.lut.samples[(base + (i + 1) * stride[axis]) * 3];
                    double step = 0.0;
                    for (int k = 0; k < 3; ++k) {
                        step = std::max(step, static_cast<double>(std::abs(b[k] - a[k])));
                    }
                    double after = 0.0;
                    if (i + 2 < n) {
                        const float* c = &s.lut.samples[(base + (i + 2) * stride[axis]) * 3];
                        for (int k = 0; k < 3; ++k) {
                            after = std::max(after, static_cast<double>(std::abs(c[k] - b[k])));
                        }
                    }
                    largest = std::max(largest, step);
                    if (step > kJump && step > 3.0 * std::max(before, after)) {
                        ++jumps;
                    }
                    before = step;
                }
            }
        }
        EXPECT_LE(largest, kLargest) << nameOf(s);
        EXPECT_EQ(jumps, 0) << nameOf(s);
    }
}

// Hue is compared as chromaticity hue, which a look may change by brightening or darkening
// without moving it.
void naturalLookKeepsSkinHue(const Shipped& s) {
    std::vector<const chart::Region*> skin = chart::regionsOfKind(chart::RegionKind::Skin);
    skin.push_back(chart::findRegion("dark skin"));
    skin.push_back(chart::findRegion("light skin"));
    for (const chart::Region* r : skin) {
        const Rgb code = chart::encodeScene(r->scene, s.encoding);
        // Log looks are judged against the scene; video looks against the video picture.
        const Rgb before = s.encoding == colour::Encoding::Rec709
                               ? colour::displayCodeToXyz(code)
                               : colour::mul(colour::rgbToXyz(colour::Gamut::Rec2020), r->scene);
        const Rgb after = colour::displayCodeToXyz(sampleLook(s, code));
        EXPECT_LE(std::abs(colour::hueDifference(colour::chromaticityHue(after),
                                                 colour::chromaticityHue(before))),
                  4.0)
            << nameOf(s) << " turns " << r->name;
    }
}

void saturatedColoursStayDistinctInsteadOfClipping(const Shipped& s) {
    {
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
                const Rgb out = sampleLook(
                    s, chart::encodeScene(colour::mul(toScene, mixed * 0.3), s.encoding));
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
}

void looksWithinAPackAreClearlyDistinct(const std::vector<Shipped>& all) {
    std::vector<Rgb> patches;
    for (const chart::Region& r : chart::chartRegions()) {
        if (r.kind == chart::RegionKind::Checker || r.kind == chart::RegionKind::Skin ||
            r.kind == chart::RegionKind::NeutralStep) {
            patches.push_back(r.scene);
        }
    }
    for (size_t i = 0; i < all.size(); ++i) {
        for (size_t j = i + 1; j < all.size(); ++j) {
            if (all[i].pack != all[j].pack) {
                continue;
            }
            double sum = 0.0;
            for (const Rgb& p : patches) {
                const Rgb code = chart::encodeScene(p, all[i].encoding);
                sum += deltaE(sampleLook(all[i], code), sampleLook(all[j], code));
            }
            EXPECT_GE(sum / static_cast<double>(patches.size()), 3.5)
                << nameOf(all[i]) << " and " << nameOf(all[j]) << " look alike";
        }
    }
}

// One test, so that the 58 files are read and decoded once per run: each check above
// names the look and what it found.
TEST(ShippedLooksTest, EveryShippedLookPassesTheLookChecks) {
    const std::vector<Shipped>& all = shipped();
    ASSERT_EQ(all.size(), 58u);
    ASSERT_EQ(recipes::shippedLooks().size(), 58u);
    int natural = 0;
    for (const Shipped& s : all) {
        ASSERT_EQ(s.lut.edge, 65u) << s.file << " is missing or does not decode";
        ASSERT_NE(std::string(s.recipe.name), "") << s.file << " has no recipe";
        matchesItsRecipe(s);
        neutralAxisIsMonotonicAndUntintedUnlessTonedOnPurpose(s);
        midGreyLandsBetweenCode038And050(s);
        noLatticeStepLargeEnoughToBand(s);
        if (s.recipe.natural) {
            ++natural;
            naturalLookKeepsSkinHue(s);
        }
        if (s.recipe.mono == 0.0) {  // black and white looks drop colour on purpose
            saturatedColoursStayDistinctInsteadOfClipping(s);
        }
    }
    EXPECT_GE(natural, 5);  // at least one per pack
    looksWithinAPackAreClearlyDistinct(all);
}

}  // namespace
}  // namespace vd
