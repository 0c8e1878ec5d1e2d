// The .cube reader and writer.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "cube/CubeFile.h"

namespace vd {
namespace {

TEST(CubeFileTest, AcceptsCommentsBlankLinesCrlfAndDomains) {
    const std::string text =
        "# made somewhere else\r\n"
        "TITLE \"Warm\"\r\n"
        "\r\n"
        "LUT_3D_SIZE 2   # two points per axis\r\n"
        "DOMAIN_MIN -0.5 -0.5 -0.5\r\n"
        "DOMAIN_MAX 1.5 1.5 1.5\r\n"
        "0 0 0\r\n1 0 0\r\n0 1 0\r\n1 1 0\r\n"
        "0 0 1\r\n1 0 1\r\n0 1 1\r\n+1 1 1.0e0\r\n";
    cube::CubeLut lut;
    cube::CubeError error;
    ASSERT_TRUE(cube::parseCube(text, lut, error)) << error.line << ": " << error.message;
    EXPECT_EQ(lut.title, "Warm");
    EXPECT_EQ(lut.domainMin[1], -0.5);
    EXPECT_EQ(lut.domainMax[2], 1.5);
    // On the 0..1 domain, this LUT maps x to (x + 0.5) / 2 on every axis.
    const cube::CubeLut unit = cube::toUnitDomain(lut);
    EXPECT_EQ(unit.domainMin[0], 0.0);
    EXPECT_NEAR(unit.samples[0], 0.25, 1e-6);
    EXPECT_NEAR(unit.samples[unit.samples.size() - 1], 0.75, 1e-6);
    // Written back with its domain, it parses again.
    cube::CubeLut again;
    ASSERT_TRUE(cube::parseCube(cube::writeCube(lut), again, error));
    EXPECT_EQ(again.domainMin[0], -0.5);
}

TEST(CubeFileTest, MalformedFilesAreRejectedNamingTheLine) {
    const std::string eight = "0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1\n";
    struct Case {
        std::string text;
        int line;
        const char* says;
    };
    const Case cases[] = {
        {"0 0 0\n", 1, "before LUT_3D_SIZE"},
        {"LUT_3D_SIZE 1\n0 0 0\n", 1, "outside 2 to 129"},
        {"# big\nLUT_3D_SIZE 130\n", 2, "outside 2 to 129"},
        {"LUT_3D_SIZE 2.5\n", 1, "whole number"},
        {"LUT_3D_SIZE 2\nLUT_3D_SIZE 2\n", 2, "twice"},
        {"LUT_1D_SIZE 1024\n", 1, "1D"},
        {"LUT_3D_SIZE 2\nGAMMA 2.2\n" + eight, 2, "unknown keyword 'GAMMA'"},
        {"LUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 abc 0\n", 4, "'abc' is not a number"},
        {"LUT_3D_SIZE 2\n0 0 0\n1 0\n", 3, "three numbers"},
        {"LUT_3D_SIZE 2\n0 0 0\nnan 0 0\n", 3, "'nan' is not a number"},
        {"LUT_3D_SIZE 2\n0 0 0\n1e999 0 0\n", 3, "not a number"},
        {"LUT_3D_SIZE 2\n0 0 0\n0 -1e100 0\n", 3, "'-1e100' is too large for a LUT value"},
        {"LUT_3D_SIZE 2\n0 0 0\nTITLE \"late\"\n", 3, "after the LUT data"},
        {"LUT_3D_SIZE 2\n" + eight + "0 0 0\n", 10, "more than the 8 entries"},
        {"LUT_3D_SIZE 2\n0 0 0\n1 0 0\n", 3, "2 of the 8 entries"},
        {"TITLE \"empty\"\n", 1, "no LUT_3D_SIZE"},
        {"LUT_3D_SIZE 2\nDOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 0 1\n" + eight, 3, "domain is empty"},
        {"LUT_3D_SIZE 2\nDOMAIN_MIN 0 0\n", 2, "three numbers"},
        {std::string("LUT_3D_SIZE 2\n0 0\0 0\n", 21), 2, "NUL"},
    };
    for (const Case& c : cases) {
        cube::CubeLut lut;
        lut.edge = 99;
        cube::CubeError error;
        EXPECT_FALSE(cube::parseCube(c.text, lut, error)) << c.says;
        EXPECT_EQ(error.line, c.line) << c.says << " / " << error.message;
        EXPECT_NE(error.message.find(c.says), std::string::npos) << error.message;
        EXPECT_EQ(lut.edge, 0);
        EXPECT_TRUE(lut.samples.empty());
    }
}

TEST(CubeFileTest, TrilinearSamplingReproducesLinearLutsAndClampsInput) {
    // An identity LUT is linear, so trilinear interpolation reproduces its input exactly.
    cube::CubeLut id;
    id.edge = 3;
    for (int b = 0; b < 3; ++b) {
        for (int g = 0; g < 3; ++g) {
            for (int r = 0; r < 3; ++r) {
                id.samples.insert(id.samples.end(),
                                  {static_cast<float>(r) / 2.0f, static_cast<float>(g) / 2.0f,
                                   static_cast<float>(b) / 2.0f});
            }
        }
    }
    const std::array<float, 3> v = cube::sampleLattice(id.samples.data(), 3, {0.1f, 0.62f, 0.97f});
    EXPECT_NEAR(v[0], 0.1f, 1e-6);
    EXPECT_NEAR(v[1], 0.62f, 1e-6);
    EXPECT_NEAR(v[2], 0.97f, 1e-6);
    const std::array<float, 3> out =
        cube::sampleLattice(id.samples.data(), 3, {-2.0f, 7.0f, std::nanf("")});
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 1.0f);
    EXPECT_EQ(out[2], 0.0f);
}

}  // namespace
}  // namespace vd
