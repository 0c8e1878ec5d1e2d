#include "looks/LookFile.h"

#include <cstring>
#include <vector>

#include "looks/ChaCha20Poly1305.h"
#include "looks/LookKey.h"
#include "looks/Lzma.h"

namespace vd {
namespace {

std::uint16_t load16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t load32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t load64(const std::uint8_t* p) {
    return load32(p) | static_cast<std::uint64_t>(load32(p + 4)) << 32;
}

// The Lorenzo prediction of point (r, g, b) from the plane's values at lower coordinates.
// Sums run in 32 bits; only their value modulo 65536 matters.
std::uint32_t lorenzoPrediction(const std::uint16_t* p, std::size_t i, std::uint32_t r,
                                std::uint32_t g, std::uint32_t b, std::size_t dg, std::size_t db) {
    std::uint32_t sum = 0;
    if (r > 0) {
        sum += p[i - 1];
    }
    if (g > 0) {
        sum += p[i - dg];
    }
    if (b > 0) {
        sum += p[i - db];
    }
    if (r > 0 && g > 0) {
        sum -= p[i - 1 - dg];
    }
    if (r > 0 && b > 0) {
        sum -= p[i - 1 - db];
    }
    if (g > 0 && b > 0) {
        sum -= p[i - dg - db];
    }
    if (r > 0 && g > 0 && b > 0) {
        sum += p[i - 1 - dg - db];
    }
    return sum;
}

bool openPayload(const std::uint8_t* file, std::size_t size, std::vector<std::uint8_t>& plaintext) {
    const std::size_t sealedSize = size - kLookHeaderSize;
    plaintext.resize(sealedSize);
    std::uint8_t key[32];
    lookKeyBytes(key);
    const bool opened =
        aeadOpen(key, file + kLookNonceOffset, file, kLookAadSize, file + kLookHeaderSize,
                 sealedSize, file + kLookTagOffset, plaintext.data());
    wipeBytes(key, sizeof key);
    return opened;
}

}  // namespace

void lorenzoResiduals(std::uint16_t* plane, std::uint32_t edge) {
    const std::size_t dg = edge;
    const std::size_t db = dg * edge;
    // Backwards, so every prediction still reads original values at lower indices.
    for (std::uint32_t b = edge; b-- > 0;) {
        for (std::uint32_t g = edge; g-- > 0;) {
            for (std::uint32_t r = edge; r-- > 0;) {
                const std::size_t i = r + g * dg + b * db;
                plane[i] = static_cast<std::uint16_t>(plane[i] -
                                                      lorenzoPrediction(plane, i, r, g, b, dg, db));
            }
        }
    }
}

void lorenzoReconstruct(std::uint16_t* plane, std::uint32_t edge) {
    const std::size_t dg = edge;
    const std::size_t db = dg * edge;
    for (std::uint32_t b = 0; b < edge; ++b) {
        for (std::uint32_t g = 0; g < edge; ++g) {
            for (std::uint32_t r = 0; r < edge; ++r) {
                const std::size_t i = r + g * dg + b * db;
                plane[i] = static_cast<std::uint16_t>(plane[i] +
                                                      lorenzoPrediction(plane, i, r, g, b, dg, db));
            }
        }
    }
}

bool decodeLookFile(const std::uint8_t* data, std::size_t size, LutCube& out) {
    out.edge = 0;
    std::vector<float>().swap(out.samples);

    // Every header check comes before any deciphering.
    if (data == nullptr || size < kLookHeaderSize) {
        return false;
    }
    if (std::memcmp(data, "VDL1", 4) != 0 || load16(data + 4) != kLookVersion) {
        return false;
    }
    const std::uint32_t edge = load16(data + 6);
    const std::uint16_t layout = load16(data + 8);
    const std::uint32_t rawSize = load32(data + 12);
    const std::uint32_t sealedSize = load32(data + 16);
    if (edge < kLookMinEdge || edge > kLookMaxEdge) {
        return false;
    }
    if (layout != kLayoutPredictedPlanes && layout != kLayoutInterleaved) {
        return false;
    }
    if (sealedSize == 0 || size - kLookHeaderSize != sealedSize) {
        return false;
    }
    // The raw size is authenticated, so checking it before the tag changes no outcome; it
    // bounds the output buffer before anything is allocated for it.
    const std::size_t points = static_cast<std::size_t>(edge) * edge * edge;
    if (rawSize < 1 || rawSize > kLookMaxRawSize || rawSize != points * 6) {
        return false;
    }

    std::vector<std::uint8_t> plaintext;
    if (!openPayload(data, size, plaintext)) {
        return false;
    }
    if (plaintext.size() < kLzmaAloneHeaderSize) {
        return false;
    }
    const std::uint64_t streamSize = load64(plaintext.data() + 5);
    if (streamSize != ~std::uint64_t{0} && streamSize != rawSize) {
        return false;
    }
    LzmaProperties properties;
    if (!readLzmaProperties(plaintext.data(), properties)) {
        return false;
    }
    std::vector<std::uint8_t> raw(rawSize);
    if (!lzmaDecodeExact(properties, plaintext.data() + kLzmaAloneHeaderSize,
                         plaintext.size() - kLzmaAloneHeaderSize, raw.data(), raw.size())) {
        return false;
    }
    std::vector<std::uint8_t>().swap(plaintext);

    std::vector<float> samples(points * 3);
    if (layout == kLayoutInterleaved) {
        for (std::size_t i = 0; i < points * 3; ++i) {
            samples[i] = static_cast<float>(load16(raw.data() + 2 * i) / 65535.0);
        }
    } else {
        std::vector<std::uint16_t> plane(points);
        for (std::size_t channel = 0; channel < 3; ++channel) {
            const std::uint8_t* bytes = raw.data() + channel * points * 2;
            for (std::size_t i = 0; i < points; ++i) {
                plane[i] = load16(bytes + 2 * i);
            }
            lorenzoReconstruct(plane.data(), edge);
            for (std::size_t i = 0; i < points; ++i) {
                samples[3 * i + channel] = static_cast<float>(plane[i] / 65535.0);
            }
        }
    }
    out.samples = std::move(samples);
    out.edge = edge;
    return true;
}

}  // namespace vd
