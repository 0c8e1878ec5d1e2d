// Build-time tool: draws the plug-in's 128x128 RGBA icon (a colour wheel seen through a lens
// barrel) and writes it as a PNG with libpng. Usage: vd_iconmaker <output.png>. Exit status
// 0 on success, 1 on failure.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <vector>

namespace {

constexpr int kSize = 128;

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

// Straight (not premultiplied) 8-bit RGBA, rows top to bottom.
std::vector<std::uint8_t> drawPixels() {
    std::vector<std::uint8_t> raw;
    raw.reserve(static_cast<std::size_t>(kSize) * kSize * 4);
    for (int y = 0; y < kSize; ++y) {
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
    const std::vector<std::uint8_t> pixels = drawPixels();
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = kSize;
    image.height = kSize;
    image.format = PNG_FORMAT_RGBA;
    if (!png_image_write_to_file(&image, argv[1], 0, pixels.data(), 0, nullptr)) {
        std::fprintf(stderr, "could not write %s: %s\n", argv[1], image.message);
        return 1;
    }
    return 0;
}
