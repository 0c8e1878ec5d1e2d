#include "looks/ChaCha20Poly1305.h"

#include <cstring>

namespace vd {
namespace {

std::uint32_t load32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void store32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

void store64(std::uint8_t* p, std::uint64_t v) {
    store32(p, static_cast<std::uint32_t>(v));
    store32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

std::uint32_t rotl(std::uint32_t v, int n) {
    return (v << n) | (v >> (32 - n));
}

}  // namespace

void chachaQuarterRound(std::uint32_t x[16], int a, int b, int c, int d) {
    x[a] += x[b];
    x[d] = rotl(x[d] ^ x[a], 16);
    x[c] += x[d];
    x[b] = rotl(x[b] ^ x[c], 12);
    x[a] += x[b];
    x[d] = rotl(x[d] ^ x[a], 8);
    x[c] += x[d];
    x[b] = rotl(x[b] ^ x[c], 7);
}

namespace {

// Poly1305 input framing of the AEAD: pads a piece to a multiple of 16 with zeros.
void updatePadded(Poly1305& mac, const std::uint8_t* data, std::size_t len) {
    mac.update(data, len);
    static constexpr std::uint8_t kZeros[16] = {};
    if (len % 16 != 0) {
        mac.update(kZeros, 16 - len % 16);
    }
}

void aeadTag(const std::uint8_t oneTimeKey[32], const std::uint8_t* aad, std::size_t aadLen,
             const std::uint8_t* ciphertext, std::size_t len, std::uint8_t tag[16]) {
    Poly1305 mac(oneTimeKey);
    updatePadded(mac, aad, aadLen);
    updatePadded(mac, ciphertext, len);
    std::uint8_t lengths[16];
    store64(lengths, aadLen);
    store64(lengths + 8, len);
    mac.update(lengths, sizeof lengths);
    mac.finish(tag);
}

// Blocks available from counter up to and including 0xffffffff.
bool counterCovers(std::uint32_t counter, std::size_t len) {
    const std::uint64_t blocks = (static_cast<std::uint64_t>(len) + 63) / 64;
    return blocks <= 0x100000000ull - counter;
}

}  // namespace

void wipeBytes(void* data, std::size_t n) {
    volatile std::uint8_t* p = static_cast<volatile std::uint8_t*>(data);
    for (std::size_t i = 0; i < n; ++i) {
        p[i] = 0;
    }
}

void chacha20Block(const std::uint8_t key[32], std::uint32_t counter, const std::uint8_t nonce[12],
                   std::uint8_t out[64]) {
    std::uint32_t state[16];
    state[0] = 0x61707865u;  // "expand 32-byte k"
    state[1] = 0x3320646eu;
    state[2] = 0x79622d32u;
    state[3] = 0x6b206574u;
    for (int i = 0; i < 8; ++i) {
        state[4 + i] = load32(key + 4 * i);
    }
    state[12] = counter;
    for (int i = 0; i < 3; ++i) {
        state[13 + i] = load32(nonce + 4 * i);
    }
    std::uint32_t x[16];
    std::memcpy(x, state, sizeof x);
    for (int round = 0; round < 10; ++round) {
        chachaQuarterRound(x, 0, 4, 8, 12);
        chachaQuarterRound(x, 1, 5, 9, 13);
        chachaQuarterRound(x, 2, 6, 10, 14);
        chachaQuarterRound(x, 3, 7, 11, 15);
        chachaQuarterRound(x, 0, 5, 10, 15);
        chachaQuarterRound(x, 1, 6, 11, 12);
        chachaQuarterRound(x, 2, 7, 8, 13);
        chachaQuarterRound(x, 3, 4, 9, 14);
    }
    for (int i = 0; i < 16; ++i) {
        store32(out + 4 * i, x[i] + state[i]);
    }
    wipeBytes(x, sizeof x);
    wipeBytes(state, sizeof state);
}

bool chacha20Xor(const std::uint8_t key[32], std::uint32_t counter, const std::uint8_t nonce[12],
                 const std::uint8_t* in, std::uint8_t* out, std::size_t len) {
    if (!counterCovers(counter, len)) {
        return false;
    }
    std::uint8_t stream[64];
    for (std::size_t done = 0; done < len; done += 64) {
        chacha20Block(key, counter++, nonce, stream);
        const std::size_t n = len - done < 64 ? len - done : 64;
        for (std::size_t i = 0; i < n; ++i) {
            out[done + i] = static_cast<std::uint8_t>(in[done + i] ^ stream[i]);
        }
    }
    wipeBytes(stream, sizeof stream);
    return true;
}

// Poly1305 with the accumulator and r in five 26-bit limbs, so every product of a limb of h
// and a limb of r (times 5 at most) fits comfortably in 64 bits.
Poly1305::Poly1305(const std::uint8_t key[32]) {
    // r is clamped as the algorithm requires: some bits of r are always zero.
    r_[0] = load32(key + 0) & 0x3ffffffu;
    r_[1] = (load32(key + 3) >> 2) & 0x3ffff03u;
    r_[2] = (load32(key + 6) >> 4) & 0x3ffc0ffu;
    r_[3] = (load32(key + 9) >> 6) & 0x3f03fffu;
    r_[4] = (load32(key + 12) >> 8) & 0x00fffffu;
    for (int i = 0; i < 4; ++i) {
        pad_[i] = load32(key + 16 + 4 * i);
    }
}

Poly1305::~Poly1305() {
    wipeBytes(r_, sizeof r_);
    wipeBytes(h_, sizeof h_);
    wipeBytes(pad_, sizeof pad_);
    wipeBytes(buffer_, sizeof buffer_);
}

void Poly1305::block(const std::uint8_t* m, std::uint32_t hibit) {
    constexpr std::uint32_t kMask = 0x3ffffffu;
    const std::uint64_t r0 = r_[0], r1 = r_[1], r2 = r_[2], r3 = r_[3], r4 = r_[4];
    // 2^130 = 5 (mod p), so limbs that overflow past 2^130 wrap round multiplied by 5.
    const std::uint64_t s1 = r1 * 5, s2 = r2 * 5, s3 = r3 * 5, s4 = r4 * 5;

    std::uint64_t h0 = h_[0] + (load32(m + 0) & kMask);
    std::uint64_t h1 = h_[1] + ((load32(m + 3) >> 2) & kMask);
    std::uint64_t h2 = h_[2] + ((load32(m + 6) >> 4) & kMask);
    std::uint64_t h3 = h_[3] + ((load32(m + 9) >> 6) & kMask);
    std::uint64_t h4 = h_[4] + ((load32(m + 12) >> 8) | hibit);

    std::uint64_t d0 = h0 * r0 + h1 * s4 + h2 * s3 + h3 * s2 + h4 * s1;
    std::uint64_t d1 = h0 * r1 + h1 * r0 + h2 * s4 + h3 * s3 + h4 * s2;
    std::uint64_t d2 = h0 * r2 + h1 * r1 + h2 * r0 + h3 * s4 + h4 * s3;
    std::uint64_t d3 = h0 * r3 + h1 * r2 + h2 * r1 + h3 * r0 + h4 * s4;
    std::uint64_t d4 = h0 * r4 + h1 * r3 + h2 * r2 + h3 * r1 + h4 * r0;

    d1 += d0 >> 26;
    d2 += d1 >> 26;
    d3 += d2 >> 26;
    d4 += d3 >> 26;
    std::uint64_t c = d4 >> 26;
    h0 = (d0 & kMask) + c * 5;
    h_[1] = static_cast<std::uint32_t>((d1 & kMask) + (h0 >> 26));
    h_[0] = static_cast<std::uint32_t>(h0 & kMask);
    h_[2] = static_cast<std::uint32_t>(d2 & kMask);
    h_[3] = static_cast<std::uint32_t>(d3 & kMask);
    h_[4] = static_cast<std::uint32_t>(d4 & kMask);
}

void Poly1305::update(const std::uint8_t* data, std::size_t len) {
    if (len == 0) {
        return;
    }
    if (buffered_ > 0) {
        const std::size_t take = len < 16 - buffered_ ? len : 16 - buffered_;
        std::memcpy(buffer_ + buffered_, data, take);
        buffered_ += take;
        data += take;
        len -= take;
        if (buffered_ < 16) {
            return;
        }
        block(buffer_, 1u << 24);
        buffered_ = 0;
    }
    for (; len >= 16; data += 16, len -= 16) {
        block(data, 1u << 24);
    }
    if (len > 0) {
        std::memcpy(buffer_, data, len);
        buffered_ = len;
    }
}

void Poly1305::finish(std::uint8_t tag[16]) {
    if (buffered_ > 0) {
        // A short last block gets its 1 bit right after its bytes instead of at bit 128.
        buffer_[buffered_] = 1;
        for (std::size_t i = buffered_ + 1; i < 16; ++i) {
            buffer_[i] = 0;
        }
        block(buffer_, 0);
        buffered_ = 0;
    }
    constexpr std::uint32_t kMask = 0x3ffffffu;
    std::uint32_t h0 = h_[0], h1 = h_[1], h2 = h_[2], h3 = h_[3], h4 = h_[4];
    std::uint32_t c = h1 >> 26;
    h1 &= kMask;
    h2 += c;
    c = h2 >> 26;
    h2 &= kMask;
    h3 += c;
    c = h3 >> 26;
    h3 &= kMask;
    h4 += c;
    c = h4 >> 26;
    h4 &= kMask;
    h0 += c * 5;
    c = h0 >> 26;
    h0 &= kMask;
    h1 += c;

    // g = h + 5 - 2^130; if that does not go negative, h was at least p and g is h mod p.
    std::uint32_t g0 = h0 + 5;
    c = g0 >> 26;
    g0 &= kMask;
    std::uint32_t g1 = h1 + c;
    c = g1 >> 26;
    g1 &= kMask;
    std::uint32_t g2 = h2 + c;
    c = g2 >> 26;
    g2 &= kMask;
    std::uint32_t g3 = h3 + c;
    c = g3 >> 26;
    g3 &= kMask;
    std::uint32_t g4 = h4 + c - (1u << 26);
    // Selected by mask, not by branch, so the timing does not depend on h.
    const std::uint32_t useG = (g4 >> 31) - 1u;
    h0 = (h0 & ~useG) | (g0 & useG);
    h1 = (h1 & ~useG) | (g1 & useG);
    h2 = (h2 & ~useG) | (g2 & useG);
    h3 = (h3 & ~useG) | (g3 & useG);
    h4 = (h4 & ~useG) | (g4 & useG);

    const std::uint32_t w0 = h0 | (h1 << 26);
    const std::uint32_t w1 = (h1 >> 6) | (h2 << 20);
    const std::uint32_t w2 = (h2 >> 12) | (h3 << 14);
    const std::uint32_t w3 = (h3 >> 18) | (h4 << 8);
    std::uint64_t f = static_cast<std::uint64_t>(w0) + pad_[0];
    store32(tag + 0, static_cast<std::uint32_t>(f));
    f = static_cast<std::uint64_t>(w1) + pad_[1] + (f >> 32);
    store32(tag + 4, static_cast<std::uint32_t>(f));
    f = static_cast<std::uint64_t>(w2) + pad_[2] + (f >> 32);
    store32(tag + 8, static_cast<std::uint32_t>(f));
    f = static_cast<std::uint64_t>(w3) + pad_[3] + (f >> 32);
    store32(tag + 12, static_cast<std::uint32_t>(f));
}

void poly1305Mac(const std::uint8_t key[32], const std::uint8_t* message, std::size_t len,
                 std::uint8_t tag[16]) {
    Poly1305 mac(key);
    mac.update(message, len);
    mac.finish(tag);
}

void poly1305KeyGen(const std::uint8_t key[32], const std::uint8_t nonce[12],
                    std::uint8_t oneTimeKey[32]) {
    std::uint8_t block[64];
    chacha20Block(key, 0, nonce, block);
    std::memcpy(oneTimeKey, block, 32);
    wipeBytes(block, sizeof block);
}

bool tagsEqual(const std::uint8_t a[16], const std::uint8_t b[16]) {
    std::uint32_t diff = 0;
    for (int i = 0; i < 16; ++i) {
        diff |= static_cast<std::uint32_t>(a[i] ^ b[i]);
    }
    return diff == 0;
}

bool aeadSeal(const std::uint8_t key[32], const std::uint8_t nonce[12], const std::uint8_t* aad,
              std::size_t aadLen, const std::uint8_t* plaintext, std::size_t len,
              std::uint8_t* ciphertext, std::uint8_t tag[16]) {
    if (!counterCovers(1, len)) {
        return false;
    }
    std::uint8_t oneTimeKey[32];
    poly1305KeyGen(key, nonce, oneTimeKey);
    chacha20Xor(key, 1, nonce, plaintext, ciphertext, len);
    aeadTag(oneTimeKey, aad, aadLen, ciphertext, len, tag);
    wipeBytes(oneTimeKey, sizeof oneTimeKey);
    return true;
}

bool aeadOpen(const std::uint8_t key[32], const std::uint8_t nonce[12], const std::uint8_t* aad,
              std::size_t aadLen, const std::uint8_t* ciphertext, std::size_t len,
              const std::uint8_t tag[16], std::uint8_t* plaintext) {
    if (!counterCovers(1, len)) {
        return false;
    }
    std::uint8_t oneTimeKey[32];
    poly1305KeyGen(key, nonce, oneTimeKey);
    std::uint8_t expected[16];
    aeadTag(oneTimeKey, aad, aadLen, ciphertext, len, expected);
    wipeBytes(oneTimeKey, sizeof oneTimeKey);
    const bool match = tagsEqual(expected, tag);
    wipeBytes(expected, sizeof expected);
    if (!match) {
        return false;
    }
    chacha20Xor(key, 1, nonce, ciphertext, plaintext, len);
    return true;
}

}  // namespace vd
