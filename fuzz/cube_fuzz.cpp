// Fuzzes the .cube text parser that colourists' LUT files go through in the look maker:
// any text either parses into a consistent LUT or is refused with a line number, and a
// parsed LUT survives writing and reading back and resampling onto the unit domain.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cube/CubeFile.h"

namespace {

void require(bool ok) {
    if (!ok) {
        std::abort();  // a fuzz harness reports a broken invariant as a crash
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vd::cube;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CubeLut lut;
    CubeError error;
    if (!parseCube(text, lut, error)) {
        require(lut.samples.empty() && error.line >= 0 && !error.message.empty());
        return 0;
    }
    require(lut.edge >= kMinEdge && lut.edge <= kMaxEdge);
    const std::size_t count = static_cast<std::size_t>(lut.edge) * lut.edge * lut.edge * 3;
    require(lut.samples.size() == count);
    for (const float v : lut.samples) {
        require(std::isfinite(v));
    }
    CubeLut again;
    require(parseCube(writeCube(lut), again, error));
    require(again.edge == lut.edge);
    const CubeLut unit = toUnitDomain(lut);
    require(unit.samples.size() == count);
    const auto mid = sampleLattice(unit.samples.data(), unit.edge, {0.5f, 0.25f, 0.75f});
    require(std::isfinite(mid[0]) && std::isfinite(mid[1]) && std::isfinite(mid[2]));
    return 0;
}
