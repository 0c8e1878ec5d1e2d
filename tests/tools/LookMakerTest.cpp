// The look maker's file operations: .cube to look file and back, verification, the shipped
// looks' bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "../common/TestFiles.h"
#include "looks/Catalogue.h"
#include "looks/LookFile.h"
#include "lookwriter/LookWriter.h"
#include "recipes/Recipes.h"
#include "vdlook/LookMaker.h"

namespace vd {
namespace {
namespace fs = std::filesystem;

class LookMakerTest : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    void write(const std::string& name, const std::string& text) const {
        test::writeFile(path(name), text);
    }
    size_t fileCount() const {
        return static_cast<size_t>(
            std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }

    test::TempDir tmp_;
    const fs::path dir_ = tmp_.path();
};

// A 17-point LUT with values that are not on the 16-bit grid.
std::string cubeText() {
    std::ostringstream s;
    s << "TITLE \"from elsewhere\"\n# comment\nLUT_3D_SIZE 17\n";
    s.precision(9);
    for (int b = 0; b < 17; ++b) {
        for (int g = 0; g < 17; ++g) {
            for (int r = 0; r < 17; ++r) {
                s << std::pow(r / 16.0, 0.8) << ' ' << 0.3 + 0.4 * std::sin(g * 0.1) << ' '
                  << (b * 0.0617) / 1.05 << '\n';
            }
        }
    }
    return s.str();
}

TEST_F(LookMakerTest, CubeToLookToCubeRoundTripsWithin16BitQuantisation) {
    write("in.cube", cubeText());
    cube::CubeLut original;
    cube::CubeError parseError;
    std::string text;
    ASSERT_TRUE(lookmaker::readFile(path("in.cube"), text));
    ASSERT_TRUE(cube::parseCube(text, original, parseError));
    for (const std::uint16_t layout : {kLayoutPredictedPlanes, kLayoutInterleaved}) {
        std::string error;
        ASSERT_TRUE(lookmaker::convertCubeFile(path("in.cube"), path("look.vdlk"), layout, error))
            << error;
        ASSERT_TRUE(lookmaker::convertLookFile(path("look.vdlk"), path("out.cube"), error))
            << error;
        ASSERT_TRUE(lookmaker::readFile(path("out.cube"), text));
        cube::CubeLut back;
        ASSERT_TRUE(cube::parseCube(text, back, parseError)) << parseError.message;
        ASSERT_EQ(back.edge, 17);
        EXPECT_EQ(back.title, "look");
        double worst = 0.0;
        for (size_t i = 0; i < original.samples.size(); ++i) {
            worst = std::max(worst,
                             static_cast<double>(std::abs(back.samples[i] - original.samples[i])));
        }
        // Half a 16-bit step for storing, plus the six decimals of the text.
        EXPECT_LE(worst, 0.5 / 65535.0 + 5e-7) << "layout " << layout;
    }
    EXPECT_EQ(fileCount(), 3u);  // no .tmp left behind
}

TEST_F(LookMakerTest, ValuesALookCannotHoldAreClampedWithAWarning) {
    write("wide.cube",
          "LUT_3D_SIZE 2\n-0.5 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1.5 1 1\n");
    std::string error;
    std::string warning;
    ASSERT_TRUE(lookmaker::convertCubeFile(path("wide.cube"), path("wide.vdlk"),
                                           kLayoutPredictedPlanes, error, &warning));
    EXPECT_EQ(warning, path("wide.cube") +
                           ": 2 values outside 0 to 1 were clamped (a look file holds 0 to 1)");
    std::string bytes;
    LutCube lut;
    ASSERT_TRUE(lookmaker::readFile(path("wide.vdlk"), bytes));
    ASSERT_TRUE(
        decodeLookFile(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), lut));
    EXPECT_EQ(lut.samples.front(), 0.0f);
    EXPECT_EQ(lut.samples[21], 1.0f);
}

TEST_F(LookMakerTest, BadInputGivesAMessageNamingTheLineAndNoOutput) {
    write("bad.cube", "LUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 one 0\n");
    std::string error;
    EXPECT_FALSE(lookmaker::convertCubeFile(path("bad.cube"), path("bad.vdlk"),
                                            kLayoutPredictedPlanes, error));
    EXPECT_EQ(error, path("bad.cube") + ":4: 'one' is not a number");

    EXPECT_FALSE(lookmaker::convertCubeFile(path("missing.cube"), path("m.vdlk"),
                                            kLayoutPredictedPlanes, error));
    EXPECT_NE(error.find("cannot be read"), std::string::npos);

    // A damaged look file does not become a .cube.
    write("in.cube", cubeText());
    ASSERT_TRUE(lookmaker::convertCubeFile(path("in.cube"), path("good.vdlk"),
                                           kLayoutPredictedPlanes, error));
    std::string bytes;
    ASSERT_TRUE(lookmaker::readFile(path("good.vdlk"), bytes));
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 1);
    write("damaged.vdlk", bytes);
    EXPECT_FALSE(lookmaker::convertLookFile(path("damaged.vdlk"), path("damaged.cube"), error));
    EXPECT_NE(error.find("not a valid look file"), std::string::npos);

    EXPECT_FALSE(fs::exists(path("bad.vdlk")));
    EXPECT_FALSE(fs::exists(path("damaged.cube")));
    EXPECT_EQ(fileCount(), 4u);  // the inputs, good.vdlk and damaged.vdlk only
}

TEST_F(LookMakerTest, VerifyListsEdgeAndChecksumAndFailsOnADamagedFile) {
    write("in.cube", cubeText());
    std::string error;
    ASSERT_TRUE(
        lookmaker::convertCubeFile(path("in.cube"), path("a.vdlk"), kLayoutPredictedPlanes, error));
    ASSERT_TRUE(
        lookmaker::convertCubeFile(path("in.cube"), path("b.vdlk"), kLayoutInterleaved, error));
    std::ostringstream report;
    ASSERT_TRUE(lookmaker::verifyLooks(dir_.string(), report)) << report.str();
    const std::string text = report.str();
    // Same samples in both layouts, so the same checksum on both lines.
    const size_t a = text.find("a.vdlk  edge 17  checksum ");
    const size_t b = text.find("b.vdlk  edge 17  checksum ");
    ASSERT_NE(a, std::string::npos) << text;
    ASSERT_NE(b, std::string::npos) << text;
    EXPECT_EQ(text.substr(a + 26, 16), text.substr(b + 26, 16));

    write("c.vdlk", "VDL1 but not really");
    std::ostringstream again;
    EXPECT_FALSE(lookmaker::verifyLooks(dir_.string(), again));
    EXPECT_NE(again.str().find("c.vdlk  FAILED"), std::string::npos);

    std::ostringstream empty;
    EXPECT_FALSE(lookmaker::verifyLooks(path("nothing-here"), empty));
}

// What each shipped file holds is checked against its recipe in ShippedLooksTest.
TEST_F(LookMakerTest, ShippedLookBytesAreTheOnesTheBuildPutIntoTheBundle) {
    const std::vector<std::uint8_t> first = lookmaker::shippedLookFile(1, kLayoutPredictedPlanes);
    ASSERT_FALSE(first.empty());
    std::string built;
    ASSERT_TRUE(
        lookmaker::readFile((fs::path(VD_TEST_LOOKS_DIR) / lookFileName(1)).string(), built));
    EXPECT_TRUE(
        std::equal(first.begin(), first.end(), built.begin(), built.end(),
                   [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); }));
    EXPECT_TRUE(lookmaker::shippedLookFile(58, kLayoutPredictedPlanes).empty());
}

TEST(RecipeTest, BakingDoesNotDependOnThreadsAndStaysInRange) {
    const recipes::PreparedLook look =
        recipes::prepareLook(recipes::findShippedLook(1, 3)->recipe, colour::Encoding::AppleLog);
    const std::vector<float> one = recipes::bakeLattice(look, 9, 1);
    EXPECT_EQ(one, recipes::bakeLattice(look, 9, 4));
    for (const float v : one) {
        EXPECT_GE(v, 0.0f);
        EXPECT_LE(v, 1.0f);
    }
    // Non-finite input is treated as black rather than spreading through the maths.
    const colour::Rgb out = recipes::applyLook(look, {std::nan(""), INFINITY, -INFINITY});
    for (const double v : out) {
        EXPECT_TRUE(std::isfinite(v));
    }
}

TEST(RecipeTest, FilmicCurveHasASoftToeAndNeverReachesWhite) {
    for (const recipes::ShippedLook& s : recipes::shippedLooks()) {
        if (s.pack == 2) {
            continue;  // video looks have no scene curve
        }
        const recipes::PreparedLook look = recipes::prepareLook(s.recipe, colour::Encoding::DLog);
        EXPECT_EQ(recipes::filmicCurve(look, 0.0), 0.0);
        // Toe: the first stop above deep black stays close to black.
        EXPECT_LT(recipes::filmicCurve(look, 0.001), 0.001) << s.recipe.name;
        // Shoulder: still rising at the top of D-Log's range, and below 1.
        const double top = recipes::filmicCurve(look, 42.0);
        EXPECT_LT(top, 1.0) << s.recipe.name;
        EXPECT_GT(top, recipes::filmicCurve(look, 21.0)) << s.recipe.name;
    }
}

}  // namespace
}  // namespace vd
