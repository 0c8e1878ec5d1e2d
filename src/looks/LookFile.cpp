#include "looks/LookFile.h"

#include <lzma.h>

#include <cstring>
#include <vector>

#include "looks/ChaCha20Poly1305.h"
#include "looks/LookKey.h"

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

// Releases the decoder's memory however the decode ends.
struct LzmaStream {
    lzma_stream stream{};
    ~LzmaStream() { lzma_end(&stream); }
};

// Decodes an LZMA1 stream that must produce exactly outLen bytes; an end marker right after
// the last byte is accepted, as is a stream without one. False on any decoder error, on
// input that ends early and on a stream that ends before outLen bytes.
bool lzmaDecodeExact(const std::uint8_t properties[5], const std::uint8_t* in, std::size_t inLen,
                     std::uint8_t* out, std::size_t outLen) {
    const unsigned lclppb = properties[0];
    if (lclppb >= 9 * 5 * 5) {
        return false;
    }
    // liblzma also refuses lc + lp above 4 (invalid properties here), which the stream
    // format itself would allow; the writer always uses lc 3, lp 0.
    lzma_options_lzma options{};
    options.lc = lclppb % 9;
    options.lp = (lclppb / 9) % 5;
    options.pb = lclppb / 45;
    // No match can reach further back than the output written so far, so a dictionary
    // larger than the output never changes the result; capping it keeps a hostile
    // dictionary size from reserving gigabytes.
    std::uint32_t dictSize = load32(properties + 1);
    const std::uint32_t cap =
        outLen < LZMA_DICT_SIZE_MIN ? LZMA_DICT_SIZE_MIN : static_cast<std::uint32_t>(outLen);
    if (dictSize > cap) {
        dictSize = cap;
    }
    if (dictSize < LZMA_DICT_SIZE_MIN) {
        dictSize = LZMA_DICT_SIZE_MIN;
    }
    options.dict_size = dictSize;
    options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    options.ext_size_low = static_cast<std::uint32_t>(outLen);
    options.ext_size_high = static_cast<std::uint32_t>(static_cast<std::uint64_t>(outLen) >> 32);

    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    LzmaStream decoder;
    if (lzma_raw_decoder(&decoder.stream, filters) != LZMA_OK) {
        return false;
    }
    decoder.stream.next_in = in;
    decoder.stream.avail_in = inLen;
    decoder.stream.next_out = out;
    decoder.stream.avail_out = outLen;
    lzma_ret ret = LZMA_OK;
    // liblzma answers LZMA_BUF_ERROR on the second call that makes no progress, so this
    // loop ends; the bound is only a guard.
    for (int call = 0; call < 16 && ret == LZMA_OK; ++call) {
        ret = lzma_code(&decoder.stream, LZMA_FINISH);
    }
    return ret == LZMA_STREAM_END && decoder.stream.total_out == outLen;
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
    std::vector<std::uint8_t> raw(rawSize);
    if (!lzmaDecodeExact(plaintext.data(), plaintext.data() + kLzmaAloneHeaderSize,
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
