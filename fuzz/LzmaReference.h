// liblzma as the reference for the plug-in's own LZMA decoder: a raw LZMA1 encoder and a
// decoder configured as the look files need (known output size, end marker optional).
#pragma once

#include <lzma.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "looks/Lzma.h"

namespace vd::fuzz {

struct LzmaStream {
    lzma_stream stream = LZMA_STREAM_INIT;
    ~LzmaStream() { lzma_end(&stream); }
};

// Raw stream (no header) of data; empty on failure.
inline std::vector<std::uint8_t> lzmaEncode(const std::uint8_t* data, std::size_t len,
                                            const LzmaProperties& p, unsigned preset,
                                            bool endMarker) {
    lzma_options_lzma options{};
    if (lzma_lzma_preset(&options, preset)) {
        return {};
    }
    options.lc = p.lc;
    options.lp = p.lp;
    options.pb = p.pb;
    options.dict_size = p.dictSize;
    options.ext_flags = endMarker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    LzmaStream encoder;
    if (lzma_raw_encoder(&encoder.stream, filters) != LZMA_OK) {
        return {};
    }
    std::vector<std::uint8_t> out(len + len / 2 + 1024);
    encoder.stream.next_in = data;
    encoder.stream.avail_in = len;
    encoder.stream.next_out = out.data();
    encoder.stream.avail_out = out.size();
    if (lzma_code(&encoder.stream, LZMA_FINISH) != LZMA_STREAM_END) {
        return {};
    }
    out.resize(encoder.stream.total_out);
    return out;
}

// liblzma's answer for a stream that must decode to exactly outLen bytes.
inline bool lzmaReferenceDecode(const LzmaProperties& p, const std::uint8_t* in, std::size_t inLen,
                                std::uint8_t* out, std::size_t outLen) {
    lzma_options_lzma options{};
    options.lc = p.lc;
    options.lp = p.lp;
    options.pb = p.pb;
    const std::uint32_t cap =
        outLen < LZMA_DICT_SIZE_MIN ? LZMA_DICT_SIZE_MIN : static_cast<std::uint32_t>(outLen);
    options.dict_size = p.dictSize > cap ? cap : p.dictSize;
    if (options.dict_size < LZMA_DICT_SIZE_MIN) {
        options.dict_size = LZMA_DICT_SIZE_MIN;
    }
    options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    options.ext_size_low = static_cast<std::uint32_t>(outLen);
    options.ext_size_high = 0;
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
    for (int call = 0; call < 16 && ret == LZMA_OK; ++call) {
        ret = lzma_code(&decoder.stream, LZMA_FINISH);
    }
    return ret == LZMA_STREAM_END && decoder.stream.total_out == outLen;
}

}  // namespace vd::fuzz
