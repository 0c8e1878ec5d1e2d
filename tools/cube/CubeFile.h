// The common ".cube" text format for 3D LUTs, as grading applications exchange them:
// TITLE, LUT_3D_SIZE, DOMAIN_MIN / DOMAIN_MAX (or LUT_3D_INPUT_RANGE), '#' comments, then
// size^3 lines of red, green, blue with red varying fastest.
//
// Owns: parsing with errors that name the line, writing, resampling a LUT onto the 0..1
// input domain that look files use, and trilinear sampling of a lattice.
// Does not own: look files (src/looks) or files on disk.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace vd::cube {

struct CubeLut {
    std::string title;
    int edge = 0;
    std::array<double, 3> domainMin{0.0, 0.0, 0.0};
    std::array<double, 3> domainMax{1.0, 1.0, 1.0};
    std::vector<float> samples;  // edge^3 RGB triples, red fastest
};

// Sizes a look file can hold.
constexpr int kMinEdge = 2;
constexpr int kMaxEdge = 129;

struct CubeError {
    int line = 0;  // 1-based; the last line of the text for problems found at its end
    std::string message;
};

// Parses .cube text. On failure returns false, leaves out empty and says why in error.
// Rejects: 1D LUTs, a missing, repeated or out-of-range LUT_3D_SIZE, unknown keywords,
// keywords after the data, data lines that are not three finite numbers, an empty or
// inverted domain, and a wrong number of entries.
bool parseCube(std::string_view text, CubeLut& out, CubeError& error);

// The LUT as .cube text (TITLE when not empty, LUT_3D_SIZE, the domain when it is not 0..1,
// then one entry per line with six decimals, enough for 16-bit samples).
std::string writeCube(const CubeLut& lut);

// The same LUT sampled on the 0..1 input domain (the identity when the domain is already
// 0..1); inputs outside the original domain take its nearest edge.
CubeLut toUnitDomain(const CubeLut& lut);

// Trilinear interpolation in an edge^3 lattice (red fastest) at an input in 0..1 per channel
// (clamped; NaN counts as 0).
std::array<float, 3> sampleLattice(const float* samples, int edge, const std::array<float, 3>& in);

}  // namespace vd::cube
