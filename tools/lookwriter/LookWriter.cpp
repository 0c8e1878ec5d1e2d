#include "lookwriter/LookWriter.h"

#include <lzma.h>
#include <nettle/sha2.h>

#include <cmath>
#include <cstring>

#include "looks/ChaCha20Poly1305.h"
#include "looks/LookKey.h"

namespace vd {
namespace {

void store16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void store32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

void store64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

bool storableCube(const LutCube& cube) {
    if (cube.edge < kLookMinEdge || cube.edge > kLookMaxEdge) {
        return false;
    }
    const std::size_t points = static_cast<std::size_t>(cube.edge) * cube.edge * cube.edge;
    return cube.samples.size() == points * 3;
}

struct LzmaStream {
    lzma_stream stream{};
    ~LzmaStream() { lzma_end(&stream); }
};

}  // namespace

std::uint16_t quantiseSample(float value) {
    if (!(value > 0.0f)) {
        return 0;  // NaN and everything at or below 0
    }
    if (value >= 1.0f) {
        return 65535;
    }
    return static_cast<std::uint16_t>(std::lround(static_cast<double>(value) * 65535.0));
}

std::vector<std::uint8_t> lookSampleBytes(const LutCube& cube, std::uint16_t layout) {
    if (!storableCube(cube) || (layout != kLayoutPredictedPlanes && layout != kLayoutInterleaved)) {
        return {};
    }
    const std::size_t points = static_cast<std::size_t>(cube.edge) * cube.edge * cube.edge;
    std::vector<std::uint8_t> bytes(points * 6);
    if (layout == kLayoutInterleaved) {
        for (std::size_t i = 0; i < points * 3; ++i) {
            store16(bytes.data() + 2 * i, quantiseSample(cube.samples[i]));
        }
        return bytes;
    }
    std::vector<std::uint16_t> plane(points);
    for (std::size_t channel = 0; channel < 3; ++channel) {
        for (std::size_t i = 0; i < points; ++i) {
            plane[i] = quantiseSample(cube.samples[3 * i + channel]);
        }
        lorenzoResiduals(plane.data(), cube.edge);
        std::uint8_t* out = bytes.data() + channel * points * 2;
        for (std::size_t i = 0; i < points; ++i) {
            store16(out + 2 * i, plane[i]);
        }
    }
    return bytes;
}

std::vector<std::uint8_t> compressLzmaAlone(const std::uint8_t* data, std::size_t len,
                                            const LookWriteOptions& options) {
    if (options.preset > 9) {
        return {};
    }
    lzma_options_lzma lzma{};
    if (lzma_lzma_preset(&lzma, options.preset)) {
        return {};
    }
    // A dictionary larger than the data buys nothing and costs the reader memory.
    if (lzma.dict_size > len) {
        lzma.dict_size =
            len < LZMA_DICT_SIZE_MIN ? LZMA_DICT_SIZE_MIN : static_cast<std::uint32_t>(len);
    }
    lzma.ext_flags = options.endMarker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &lzma}, {LZMA_VLI_UNKNOWN, nullptr}};
    LzmaStream encoder;
    if (lzma_raw_encoder(&encoder.stream, filters) != LZMA_OK) {
        return {};
    }

    std::vector<std::uint8_t> out(kLzmaAloneHeaderSize + len / 2 + 4096);
    out[0] = static_cast<std::uint8_t>((lzma.pb * 5 + lzma.lp) * 9 + lzma.lc);
    store32(out.data() + 1, lzma.dict_size);
    store64(out.data() + 5, options.sizeInStreamHeader ? len : ~std::uint64_t{0});

    encoder.stream.next_in = data;
    encoder.stream.avail_in = len;
    std::size_t written = kLzmaAloneHeaderSize;
    lzma_ret ret = LZMA_OK;
    while (ret == LZMA_OK) {
        if (written == out.size()) {
            out.resize(out.size() * 2);
        }
        encoder.stream.next_out = out.data() + written;
        encoder.stream.avail_out = out.size() - written;
        ret = lzma_code(&encoder.stream, LZMA_FINISH);
        written = out.size() - encoder.stream.avail_out;
    }
    if (ret != LZMA_STREAM_END) {
        return {};
    }
    out.resize(written);
    return out;
}

std::vector<std::uint8_t> sealLookFile(const LookHeaderFields& header, std::string_view lookId,
                                       const std::uint8_t* plaintext, std::size_t len) {
    if (len > 0xffffffffu) {
        return {};
    }
    std::vector<std::uint8_t> file(kLookHeaderSize + len);
    std::uint8_t* h = file.data();
    std::memcpy(h, "VDL1", 4);
    store16(h + 4, header.version);
    store16(h + 6, header.edge);
    store16(h + 8, header.layout);
    store16(h + 10, header.reserved);
    store32(h + 12, header.rawSize);
    store32(h + 16, static_cast<std::uint32_t>(len));

    sha256_ctx hash;
    sha256_init(&hash);
    static constexpr char kLabel[] = "vdlk nonce 1";
    sha256_update(&hash, sizeof kLabel, reinterpret_cast<const std::uint8_t*>(kLabel));
    std::uint8_t idLength[4];
    store32(idLength, static_cast<std::uint32_t>(lookId.size()));
    sha256_update(&hash, sizeof idLength, idLength);
    sha256_update(&hash, lookId.size(), reinterpret_cast<const std::uint8_t*>(lookId.data()));
    sha256_update(&hash, kLookAadSize, h);
    sha256_update(&hash, len, plaintext);
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&hash, sizeof digest, digest);
    std::memcpy(h + kLookNonceOffset, digest, 12);

    std::uint8_t key[32];
    lookKeyBytes(key);
    const bool sealed = aeadSeal(key, h + kLookNonceOffset, h, kLookAadSize, plaintext, len,
                                 h + kLookHeaderSize, h + kLookTagOffset);
    wipeBytes(key, sizeof key);
    if (!sealed) {
        return {};
    }
    return file;
}

std::vector<std::uint8_t> encodeLookFile(const LutCube& cube, std::string_view lookId,
                                         const LookWriteOptions& options) {
    const std::vector<std::uint8_t> raw = lookSampleBytes(cube, options.layout);
    if (raw.empty()) {
        return {};
    }
    const std::vector<std::uint8_t> stream = compressLzmaAlone(raw.data(), raw.size(), options);
    if (stream.empty()) {
        return {};
    }
    LookHeaderFields header;
    header.edge = static_cast<std::uint16_t>(cube.edge);
    header.layout = options.layout;
    header.rawSize = static_cast<std::uint32_t>(raw.size());
    return sealLookFile(header, lookId, stream.data(), stream.size());
}

}  // namespace vd
