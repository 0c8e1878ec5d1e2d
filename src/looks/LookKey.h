// The key that seals every look file, shared by the plug-in (which opens them) and the
// look-maker tool (which writes them). Kept in this one header so the two cannot drift.
//
// Owns: the key's value and its byte form. Does not own: the cipher (ChaCha20Poly1305.h)
// or the file format (LookFile.h).
#pragma once

#include <cstdint>

namespace vd {

// Eight 32-bit words; the key bytes are the words' little-endian bytes in order.
inline constexpr std::uint32_t kLookKeyWords[8] = {
    0x528d92dfu, 0x78ca5c17u, 0xde6aee2bu, 0x74c93ca8u,
    0x1db41796u, 0x9e68ce83u, 0x0c7d5811u, 0x65522f50u,
};

// Writes the 32 key bytes. Callers wipe their copy when done (wipeBytes in
// ChaCha20Poly1305.h) so the expanded key does not linger in freed memory.
inline void lookKeyBytes(std::uint8_t out[32]) {
    for (int i = 0; i < 8; ++i) {
        for (int b = 0; b < 4; ++b) {
            out[i * 4 + b] = static_cast<std::uint8_t>(kLookKeyWords[i] >> (8 * b));
        }
    }
}

}  // namespace vd
