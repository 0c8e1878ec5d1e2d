// The PNG files of the command-line tool for the Windows test build, which has no libpng:
// writing uses deflate's stored blocks (no compression), which every PNG reader accepts;
// reading is not offered. Enough for grading the built-in chart under Wine.
#include <cstdio>
#include <memory>

#include "PngFile.h"

namespace vd::cli {
namespace {

std::uint32_t crc32(const std::uint8_t* p, std::size_t n, std::uint32_t crc = 0) {
    crc = ~crc;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

void chunk(std::vector<std::uint8_t>& out, const char type[4],
           const std::vector<std::uint8_t>& data) {
    put32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put32(out, crc32(out.data() + start, out.size() - start));
}

}  // namespace

bool readPng(const std::string& path, PngPicture&, std::string& error) {
    error = path + ": reading PNG files is not part of the Windows test build";
    return false;
}

bool writePng(const std::string& path, const PngPicture& picture, std::string& error) {
    const std::size_t bytesPerSample = picture.bits == 16 ? 2 : 1;
    const std::size_t row = 1 + static_cast<std::size_t>(picture.width) * 3 * bytesPerSample;
    std::vector<std::uint8_t> raw;
    raw.reserve(row * static_cast<std::size_t>(picture.height));
    for (std::size_t i = 0; i < picture.samples.size(); ++i) {
        if (i % (static_cast<std::size_t>(picture.width) * 3) == 0) {
            raw.push_back(0);  // filter: none
        }
        if (bytesPerSample == 2) {
            raw.push_back(static_cast<std::uint8_t>(picture.samples[i] >> 8));
        }
        raw.push_back(static_cast<std::uint8_t>(picture.samples[i]));
    }
    // zlib stream of stored blocks of at most 65535 bytes, then the Adler-32 of the data.
    std::vector<std::uint8_t> z = {0x78, 0x01};
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (std::size_t at = 0; at == 0 || at < raw.size();) {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
        z.push_back(at + n == raw.size() ? 1 : 0);
        z.push_back(static_cast<std::uint8_t>(n));
        z.push_back(static_cast<std::uint8_t>(n >> 8));
        z.push_back(static_cast<std::uint8_t>(~n));
        z.push_back(static_cast<std::uint8_t>(~n >> 8));
        for (std::size_t i = at; i < at + n; ++i) {
            a = (a + raw[i]) % 65521;
            b = (b + a) % 65521;
            z.push_back(raw[i]);
        }
        at += n;
        if (n == 0) {
            break;
        }
    }
    put32(z, b << 16 | a);

    std::vector<std::uint8_t> header;
    put32(header, static_cast<std::uint32_t>(picture.width));
    put32(header, static_cast<std::uint32_t>(picture.height));
    header.insert(header.end(), {static_cast<std::uint8_t>(picture.bits), 2, 0, 0, 0});  // RGB
    std::vector<std::uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    chunk(file, "IHDR", header);
    chunk(file, "IDAT", z);
    chunk(file, "IEND", {});

    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "wb"),
                                                            &std::fclose);
    if (!f || std::fwrite(file.data(), 1, file.size(), f.get()) != file.size()) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace vd::cli
