// Build-time tool: draws the plug-in's 128x128 RGBA icon (a colour wheel seen through a lens
// barrel) and writes it as a PNG with stored deflate blocks, so it needs no compression
// library. Usage: vd_iconmaker <output.png>. Exit status 0 on success, 1 on failure.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 128;

using Bytes = std::vector<std::uint8_t>;

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1U) ? 0xEDB88320U ^ (c >> 1) : c >> 1;
            }
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFU;
    for (std::size_t i = 0; i < size; ++i) {
        c = table[(c ^ data[i]) & 0xFFU] ^ (c >> 8);
    }
    return c ^ 0xFFFFFFFFU;
}

std::uint32_t adler32(const Bytes& data) {
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (std::uint8_t byte : data) {
        a = (a + byte) % 65521U;
        b = (b + a) % 65521U;
    }
    return (b << 16) | a;
}

void putBig32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

void putChunk(Bytes& png, const char type[4], const Bytes& data) {
    putBig32(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    putBig32(png, crc32(png.data() + start, png.size() - start));
}

// A zlib stream made of stored (uncompressed) deflate blocks.
Bytes zlibStored(const Bytes& raw) {
    Bytes z{0x78, 0x01};
    std::size_t pos = 0;
    do {
        const std::size_t len = std::min<std::size_t>(65535, raw.size() - pos);
        const bool last = pos + len == raw.size();
        z.push_back(last ? 1 : 0);
        const auto n = static_cast<std::uint16_t>(len);
        const auto nn = static_cast<std::uint16_t>(~n);
        z.insert(z.end(), {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                           static_cast<std::uint8_t>(nn), static_cast<std::uint8_t>(nn >> 8)});
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos),
                 raw.begin() + static_cast<std::ptrdiff_t>(pos + len));
        pos += len;
    } while (pos < raw.size());
    putBig32(z, adler32(raw));
    return z;
}

struct Colour {
    double r, g, b, a;
};

Colour hsv(double hue, double sat, double val) {
    const double h = std::fmod(hue, 1.0) * 6.0;
    const double c = val * sat;
    const double x = c * (1.0 - std::fabs(std::fmod(h, 2.0) - 1.0));
    const double m = val - c;
    double r = 0, g = 0, b = 0;
    if (h < 1) {
        r = c, g = x;
    } else if (h < 2) {
        r = x, g = c;
    } else if (h < 3) {
        g = c, b = x;
    } else if (h < 4) {
        g = x, b = c;
    } else if (h < 5) {
        r = x, b = c;
    } else {
        r = c, b = x;
    }
    return {r + m, g + m, b + m, 1.0};
}

// Coverage of a disc edge at distance d from the centre for a radius R, over one pixel.
double inside(double d, double radius) {
    return std::clamp(radius - d + 0.5, 0.0, 1.0);
}

Colour over(Colour top, Colour under) {
    const double a = top.a + under.a * (1.0 - top.a);
    if (a <= 0.0) {
        return {0, 0, 0, 0};
    }
    auto mix = [&](double t, double u) { return (t * top.a + u * under.a * (1.0 - top.a)) / a; };
    return {mix(top.r, under.r), mix(top.g, under.g), mix(top.b, under.b), a};
}

Colour pixel(double x, double y) {
    const double c = kSize / 2.0;
    const double dx = x - c;
    const double dy = y - c;
    const double d = std::hypot(dx, dy);
    // Barrel: a dark ring with a soft top light; glass: the hue wheel, white at the centre.
    Colour out{0, 0, 0, 0};
    const double shade = 0.18 + 0.10 * (-dy / c);
    out = over({shade, shade, shade + 0.02, inside(d, 61.0)}, out);
    const double hue = (std::atan2(dy, dx) + std::numbers::pi) / (2.0 * std::numbers::pi);
    Colour wheel = hsv(hue, std::clamp(d / 50.0, 0.0, 1.0), 0.95);
    wheel.a = inside(d, 52.0);
    out = over(wheel, out);
    // A small reflection near the upper left of the glass.
    const double hl = std::hypot(x - 46.0, y - 44.0);
    out = over({1, 1, 1, 0.55 * inside(hl, 9.0)}, out);
    return out;
}

std::uint8_t toByte(double v) {
    return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

Bytes drawRows() {
    Bytes raw;
    raw.reserve(static_cast<std::size_t>(kSize) * (kSize * 4 + 1));
    for (int y = 0; y < kSize; ++y) {
        raw.push_back(0);  // filter type None
        for (int x = 0; x < kSize; ++x) {
            const Colour p = pixel(x + 0.5, y + 0.5);
            raw.insert(raw.end(), {toByte(p.r), toByte(p.g), toByte(p.b), toByte(p.a)});
        }
    }
    return raw;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vd_iconmaker <output.png>\n");
        return 1;
    }
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    putBig32(header, kSize);
    putBig32(header, kSize);
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no interlace
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", zlibStored(drawRows()));
    putChunk(png, "IEND", {});

    const std::string path = argv[1];
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        return 1;
    }
    const bool written = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "could not write %s\n", path.c_str());
        return 1;
    }
    return 0;
}
