// The image files of the command-line tool for the Windows build, which has no
// OpenImageIO: PNG output only, written with deflate's stored blocks (no compression), which
// every PNG reader accepts; reading is not offered. Enough for grading the built-in chart
// under Wine.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "ImageFile.h"

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

// A zlib stream of stored blocks of at most 65535 bytes, then the Adler-32 of the data.
std::vector<std::uint8_t> storedZlib(const std::vector<std::uint8_t>& raw) {
    std::vector<std::uint8_t> z = {0x78, 0x01};
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    std::size_t at = 0;
    do {
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
    } while (at < raw.size());
    put32(z, b << 16 | a);
    return z;
}

bool isPng(const std::string& path) {
    const std::string ext = std::filesystem::path(path).extension().string();
    return ext == ".png" || ext == ".PNG";
}

}  // namespace

FrameInfo probeImage(const std::string& path) {
    throw ImageFileError(path + ": reading image files is not part of the Windows test build");
}

testhost::Image readImage(const std::string& path, const FrameInfo&, testhost::BitDepth) {
    throw ImageFileError(path + ": reading image files is not part of the Windows test build");
}

const char* outputExtensions() {
    return ".png";
}

bool knownOutputFormat(const std::string& path) {
    return isPng(path);
}

SampleType storedType(const std::string&, SampleType wanted) {
    return wanted == SampleType::uint8 ? SampleType::uint8 : SampleType::uint16;
}

// The whole data window is kept in memory, rows top to bottom, and written on commit.
struct FrameWriter::State {
    std::string path;
    int width = 0;
    int height = 0;
    int channels = 3;
    int bits = 8;
    std::vector<std::uint8_t> raw;  // PNG scanlines with their filter bytes
    int rowsWritten = 0;
};

FrameWriter::FrameWriter(const std::string& path, OfxRectI, OfxRectI data, int channels,
                         SampleType type, const std::string&)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    if (!isPng(path)) {
        throw ImageFileError("cannot write " + path + ": this build writes only .png");
    }
    s.path = path;
    s.width = data.x2 - data.x1;
    s.height = data.y2 - data.y1;
    s.channels = channels == 4 ? 4 : 3;
    s.bits = storedType(path, type) == SampleType::uint8 ? 8 : 16;
}

FrameWriter::~FrameWriter() = default;

void FrameWriter::write(const testhost::Image& band) {
    State& s = *state_;
    const float top = s.bits == 8 ? 255.0f : 65535.0f;
    for (int y = band.bounds().y2 - 1; y >= band.bounds().y1; --y) {
        s.raw.push_back(0);  // filter: none
        for (int x = band.bounds().x1; x < band.bounds().x2; ++x) {
            for (int c = 0; c < s.channels; ++c) {
                const float v = c < band.components() ? band.at(x, y, c) : 1.0f;
                const float clamped = std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f;
                const auto q = static_cast<std::uint16_t>(std::lround(clamped * top));
                if (s.bits == 16) {
                    s.raw.push_back(static_cast<std::uint8_t>(q >> 8));
                }
                s.raw.push_back(static_cast<std::uint8_t>(q));
            }
        }
        ++s.rowsWritten;
    }
}

void FrameWriter::commit() {
    State& s = *state_;
    if (s.rowsWritten != s.height) {
        throw ImageFileError("cannot write " + s.path + ": the picture is incomplete");
    }
    std::vector<std::uint8_t> header;
    put32(header, static_cast<std::uint32_t>(s.width));
    put32(header, static_cast<std::uint32_t>(s.height));
    const std::uint8_t colourType = s.channels == 4 ? 6 : 2;  // RGBA or RGB
    header.insert(header.end(), {static_cast<std::uint8_t>(s.bits), colourType, 0, 0, 0});
    std::vector<std::uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    chunk(file, "IHDR", header);
    chunk(file, "IDAT", storedZlib(s.raw));
    chunk(file, "IEND", {});

    const std::string temporary = s.path + ".huebench-tmp";
    {
        const std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(temporary.c_str(), "wb"),
                                                                &std::fclose);
        if (!f || std::fwrite(file.data(), 1, file.size(), f.get()) != file.size()) {
            std::remove(temporary.c_str());
            throw ImageFileError("cannot write " + s.path);
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, s.path, ec);
    if (ec) {
        std::remove(temporary.c_str());
        throw ImageFileError("cannot write " + s.path + ": " + ec.message());
    }
}

}  // namespace vd::cli
