// Compresses the input with liblzma and demands that the plug-in's decoder give back
// exactly the input. The first two bytes choose lc/lp/pb, the preset, the dictionary
// and whether the stream carries an end marker.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "LzmaReference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    vd::LzmaProperties p;
    p.lc = data[0] % 5;
    p.lp = (data[0] / 5) % (5 - p.lc);
    p.pb = (data[1] >> 4) % 5;
    const unsigned preset = data[1] & 7;
    const bool endMarker = (data[1] & 8) != 0;
    p.dictSize = 4096u << (data[0] >> 6);  // small, so long inputs need distances near it
    const std::uint8_t* text = data + 2;
    const std::size_t len = size - 2;
    const std::vector<std::uint8_t> stream = vd::fuzz::lzmaEncode(text, len, p, preset, endMarker);
    if (stream.empty()) {
        std::abort();
    }
    std::vector<std::uint8_t> out(len + 1);
    if (!vd::lzmaDecodeExact(p, stream.data(), stream.size(), out.data(), len) ||
        std::memcmp(out.data(), text, len) != 0) {
        std::abort();
    }
    // One byte short of the stream, and one byte more output than was encoded: our decision
    // is liblzma's (a short stream can still end cleanly when its last byte was zero).
    std::vector<std::uint8_t> theirs(len + 1);
    if (vd::lzmaDecodeExact(p, stream.data(), stream.size() - 1, out.data(), len) !=
            vd::fuzz::lzmaReferenceDecode(p, stream.data(), stream.size() - 1, theirs.data(),
                                          len) ||
        vd::lzmaDecodeExact(p, stream.data(), stream.size(), out.data(), len + 1) !=
            vd::fuzz::lzmaReferenceDecode(p, stream.data(), stream.size(), theirs.data(),
                                          len + 1)) {
        std::abort();
    }
    return 0;
}
