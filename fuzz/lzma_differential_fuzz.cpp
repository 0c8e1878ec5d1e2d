// Feeds liblzma and the plug-in's decoder the same bytes and demands the same decision
// and, when both accept, the same output. Input: the properties byte, the dictionary size
// in 16-byte units (2 bytes), the expected output size (2 bytes), then the stream.
// liblzma rounds a dictionary up to a multiple of 16, hence the units.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "LzmaReference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) {
        return 0;
    }
    std::uint8_t header[5] = {data[0], 0, 0, 0, 0};
    const std::uint32_t dictSize = static_cast<std::uint32_t>(data[1] | data[2] << 8) * 16;
    std::memcpy(header + 1, &dictSize, 4);  // little-endian hosts only, as fuzzing runs on
    vd::LzmaProperties p;
    if (!vd::readLzmaProperties(header, p)) {
        return 0;
    }
    const std::size_t outLen = static_cast<std::size_t>(data[3] | data[4] << 8);
    std::vector<std::uint8_t> ours(outLen + 1, 0xA5);
    std::vector<std::uint8_t> theirs(outLen + 1, 0x5A);
    const bool oursOk = vd::lzmaDecodeExact(p, data + 5, size - 5, ours.data(), outLen);
    const bool theirsOk =
        vd::fuzz::lzmaReferenceDecode(p, data + 5, size - 5, theirs.data(), outLen);
    if (oursOk != theirsOk) {
        std::abort();
    }
    if (oursOk && std::memcmp(ours.data(), theirs.data(), outLen) != 0) {
        std::abort();
    }
    if (ours[outLen] != 0xA5) {  // nothing written past the end
        std::abort();
    }
    return 0;
}
