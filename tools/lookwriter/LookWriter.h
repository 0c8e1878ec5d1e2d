// Writes sealed look files; used by the look-maker tool and by tests and fuzzing, never by
// the plug-in (which only reads them, so it links neither the LZMA encoder nor SHA-256).
//
// Owns: quantising a LUT to 16-bit samples, the two sample layouts, the LZMA-alone stream,
// sealing with the look key and deriving each file's nonce.
// Does not own: the format's decoder and constants (LookFile.h), the key (LookKey.h).
// Output is deterministic: the same cube, id and options give the same bytes (with the same
// liblzma release).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "looks/LookFile.h"
#include "looks/LutCube.h"

namespace vd {

struct LookWriteOptions {
    std::uint16_t layout = kLayoutPredictedPlanes;  // or kLayoutInterleaved
    std::uint32_t preset = 6;                       // liblzma preset level, 0..9
    // The stream header carries the sample data's size; false writes "unknown" (all ones).
    bool sizeInStreamHeader = true;
    // Ends the LZMA stream with an end marker. Readers accept streams with and without one.
    bool endMarker = false;
};

// A float sample as stored: clamped to 0..1 and rounded to the nearest of 65536 codes;
// NaN stores as 0. Decoding gives back code / 65535.
std::uint16_t quantiseSample(float value);

// Writes a LUT as a complete look file. lookId (for example "iphone-apple-log-01") enters
// the nonce, so two looks with the same samples still get different nonces. Empty result
// when the cube is not a storable look (edge outside 2..129, samples not edge^3 * 3 floats),
// the layout or preset is unknown, or the encoder fails.
std::vector<std::uint8_t> encodeLookFile(const LutCube& cube, std::string_view lookId,
                                         const LookWriteOptions& options = {});

// The pieces encodeLookFile is made of, for tests and tools that need a file that is well
// sealed but otherwise unusual.

// The decompressed sample data of a look in a layout (edge^3 * 6 bytes); empty when the cube
// or the layout is not valid.
std::vector<std::uint8_t> lookSampleBytes(const LutCube& cube, std::uint16_t layout);

// An LZMA-alone stream of data (5 property bytes, the 64-bit size or all ones, coded data).
// Empty when the preset is unknown or the encoder fails.
std::vector<std::uint8_t> compressLzmaAlone(const std::uint8_t* data, std::size_t len,
                                            const LookWriteOptions& options);

// Header fields that the tag covers. The sealed size is the plaintext's length.
struct LookHeaderFields {
    std::uint16_t version = kLookVersion;
    std::uint16_t edge = 0;
    std::uint16_t layout = kLayoutPredictedPlanes;
    std::uint16_t reserved = 0;
    std::uint32_t rawSize = 0;
};

// Seals any plaintext under the look key. The nonce is the first 12 bytes of SHA-256 over a
// fixed label, the look id, the authenticated header bytes and the plaintext: never a
// constant, the same for the same input, and different whenever the contents differ.
std::vector<std::uint8_t> sealLookFile(const LookHeaderFields& header, std::string_view lookId,
                                       const std::uint8_t* plaintext, std::size_t len);

}  // namespace vd
