// Fuzzes the look-file decoder. Random bytes almost never carry a valid tag, so each input
// is decoded twice: once as it stands (the header checks and the authentication), and once
// re-sealed under the look key, reading the input as 20 header bytes followed by the
// plaintext, so that the stream header, the LZMA decoder and the layouts are reached too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "looks/LookFile.h"
#include "lookwriter/LookWriter.h"

namespace {

std::uint16_t load16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

void checkResult(bool ok, const vd::LutCube& cube) {
    const std::size_t points = static_cast<std::size_t>(cube.edge) * cube.edge * cube.edge;
    if (ok ? (cube.edge < 2 || cube.edge > 129 || cube.samples.size() != points * 3)
           : (cube.edge != 0 || !cube.samples.empty())) {
        std::abort();
    }
    for (float v : cube.samples) {
        if (!(v >= 0.0f && v <= 1.0f)) {
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vd::LutCube cube;
    checkResult(vd::decodeLookFile(data, size, cube), cube);

    if (size >= vd::kLookAadSize && size - vd::kLookAadSize <= (1u << 20)) {
        vd::LookHeaderFields header;
        header.version = load16(data + 4);
        header.edge = load16(data + 6);
        header.layout = load16(data + 8);
        header.reserved = load16(data + 10);
        header.rawSize = static_cast<std::uint32_t>(load16(data + 12)) |
                         static_cast<std::uint32_t>(load16(data + 14)) << 16;
        const std::vector<std::uint8_t> file =
            vd::sealLookFile(header, "fuzz", data + vd::kLookAadSize, size - vd::kLookAadSize);
        checkResult(vd::decodeLookFile(file.data(), file.size(), cube), cube);
    }
    return 0;
}
