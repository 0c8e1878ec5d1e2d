// The decoder of raw LZMA streams that look files are compressed with: a range decoder,
// adaptive bit probabilities, literals, matches and the four repeated distances.
//
// Owns: the five-byte properties header (lc/lp/pb and dictionary size) and decoding one
// stream into a buffer of known size. Does not own: the look file around the stream
// (LookFile.h), encoding (the look writer uses liblzma), streams of unknown size.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vd {

struct LzmaProperties {
    unsigned lc = 3;  // literal context bits
    unsigned lp = 0;  // literal position bits
    unsigned pb = 2;  // position bits
    std::uint32_t dictSize = 0;
};

// Reads the properties byte and the little-endian dictionary size. False when the byte is
// out of range or lc + lp exceeds 4 (which would need more than 0x300 << 4 literal
// probabilities; encoders never write it).
bool readLzmaProperties(const std::uint8_t header[5], LzmaProperties& out);

// Decodes the stream in into exactly outLen bytes at out. An end marker right after the
// last byte is accepted, as is a stream that ends without one (the range coder's code
// must then be zero). Bytes after the end are ignored. False on a stream that is
// malformed (first byte not zero, a distance reaching before the output or beyond the
// dictionary, a match or literal past outLen), that ends early, or whose input runs out;
// out then holds an unspecified prefix. Never reads out of bounds; never allocates.
bool lzmaDecodeExact(const LzmaProperties& properties, const std::uint8_t* in, std::size_t inLen,
                     std::uint8_t* out, std::size_t outLen);

}  // namespace vd
