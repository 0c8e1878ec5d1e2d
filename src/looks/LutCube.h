// A decoded 3D LUT, the unit that look files hold and that renders sample.
//
// Owns: the record only. Does not own: decoding (LookFile.h) or caching (LutStore.h).
#pragma once

#include <cstdint>
#include <vector>

namespace vd {

// edge is 2..129 for a look, 0 for "no LUT". samples holds edge^3 entries of red, green,
// blue floats (edge^3 * 3 floats); the entry of grid point (r, g, b) is at
// r + g * edge + b * edge^2, so red varies fastest. Values are 16-bit codes / 65535.
struct LutCube {
    std::uint32_t edge = 0;
    std::vector<float> samples;
};

}  // namespace vd
