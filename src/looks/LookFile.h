// The sealed look file (".vdlk"): a 48-byte header, then an AEAD_CHACHA20_POLY1305-sealed
// LZMA-alone stream holding the LUT as unsigned 16-bit samples, either interleaved or as
// planes of three-dimensional Lorenzo prediction residuals.
//
// Owns: the format's constants, the decoder, and the Lorenzo transforms that the decoder and
// the writer (LookWriter.h) share. Does not own: the key (LookKey.h), the cipher
// (ChaCha20Poly1305.h), writing files (LookWriter.h) or finding them (LutStore.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "looks/LutCube.h"

namespace vd {

inline constexpr std::size_t kLookHeaderSize = 48;
inline constexpr std::size_t kLookAadSize = 20;  // header bytes 0..19 are authenticated
inline constexpr std::size_t kLookNonceOffset = 20;
inline constexpr std::size_t kLookTagOffset = 32;
inline constexpr std::uint16_t kLookVersion = 1;
inline constexpr std::uint32_t kLookMinEdge = 2;
inline constexpr std::uint32_t kLookMaxEdge = 129;
inline constexpr std::uint32_t kLookMaxRawSize = 0x1000000;  // 16 MiB
inline constexpr std::uint16_t kLayoutPredictedPlanes = 1;
inline constexpr std::uint16_t kLayoutInterleaved = 2;
// LZMA-alone stream header: properties byte, dictionary size, uncompressed size.
inline constexpr std::size_t kLzmaAloneHeaderSize = 13;

// Decodes the complete bytes of one look file. out is emptied first; on success it holds
// the LUT and the result is true. Any malformed, truncated, altered or foreign input gives
// false with out empty; nothing is thrown for it (only std::bad_alloc can escape). No byte
// of the payload is deciphered or used before its authentication tag has matched.
bool decodeLookFile(const std::uint8_t* data, std::size_t size, LutCube& out);

// One plane of edge^3 values in entry order (red fastest). The prediction of a point is
// the three-dimensional Lorenzo sum of its already visited neighbours (0 outside the
// cube); residual = value - prediction, all modulo 65536.
void lorenzoResiduals(std::uint16_t* plane, std::uint32_t edge);    // values -> residuals
void lorenzoReconstruct(std::uint16_t* plane, std::uint32_t edge);  // residuals -> values

}  // namespace vd
