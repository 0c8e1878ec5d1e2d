// Contact sheets: the test chart in a pack's camera encoding, then every look of the pack
// applied to it, as labelled thumbnails on one PNG per pack.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "chart/Chart.h"
#include "chart/Font.h"
#include "cube/CubeFile.h"
#include "looks/Catalogue.h"
#include "looks/LookFile.h"
#include "recipes/Recipes.h"
#include "vdlook/LookMaker.h"

namespace vd::lookmaker {
namespace {

constexpr int kThumbWidth = 384;
constexpr int kThumbHeight = 216;
constexpr int kCaption = 22;
constexpr int kGap = 8;
constexpr int kColumns = 4;
constexpr int kHeader = 34;
constexpr int kScale = chart::kChartWidth / kThumbWidth;  // 5: box filter size

struct Canvas {
    int width;
    int height;
    std::vector<unsigned char> rgb;

    void fill(int x0, int y0, int w, int h, unsigned char v) {
        for (int y = std::max(y0, 0); y < std::min(y0 + h, height); ++y) {
            for (int x = std::max(x0, 0); x < std::min(x0 + w, width); ++x) {
                unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
                p[0] = p[1] = p[2] = v;
            }
        }
    }

    // Upper-case text at twice the font size; characters without a glyph are blanks.
    void text(int x, int y, const std::string& s, unsigned char v) {
        constexpr int scale = 2;
        for (const char raw : s) {
            if (const chart::GlyphRows* g = chart::glyphOf(raw)) {
                for (int row = 0; row < 7; ++row) {
                    for (int col = 0; col < 5; ++col) {
                        if (((*g)[static_cast<std::size_t>(row)] >> (4 - col)) & 1) {
                            fill(x + col * scale, y + row * scale, scale, scale, v);
                        }
                    }
                }
            }
            x += 6 * scale;
        }
    }
};

unsigned char toByte(float v) {
    return static_cast<unsigned char>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
}

// The chart through a LUT (or as it is, for a null LUT), box-filtered down to a thumbnail
// and placed on the canvas.
void drawThumbnail(Canvas& canvas, int x0, int y0, const chart::Image& chart, const LutCube* lut) {
    for (int ty = 0; ty < kThumbHeight; ++ty) {
        for (int tx = 0; tx < kThumbWidth; ++tx) {
            float sum[3] = {0, 0, 0};
            for (int sy = 0; sy < kScale; ++sy) {
                for (int sx = 0; sx < kScale; ++sx) {
                    const size_t at =
                        (static_cast<size_t>(ty * kScale + sy) * chart.width + tx * kScale + sx) *
                        3;
                    std::array<float, 3> v{chart.pixels[at], chart.pixels[at + 1],
                                           chart.pixels[at + 2]};
                    if (lut != nullptr) {
                        v = cube::sampleLattice(lut->samples.data(), static_cast<int>(lut->edge),
                                                v);
                    }
                    for (int k = 0; k < 3; ++k) {
                        sum[k] += v[static_cast<size_t>(k)];
                    }
                }
            }
            unsigned char* p =
                &canvas.rgb[(static_cast<size_t>(y0 + ty) * canvas.width + x0 + tx) * 3];
            for (int k = 0; k < 3; ++k) {
                p[k] = toByte(sum[k] / (kScale * kScale));
            }
        }
    }
}

bool writePng(const std::string& path, const Canvas& canvas, std::string& error) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(canvas.width);
    image.height = static_cast<png_uint_32>(canvas.height);
    image.format = PNG_FORMAT_RGB;
    const std::string tmp = path + ".tmp";
    if (png_image_write_to_file(&image, tmp.c_str(), 0, canvas.rgb.data(), canvas.width * 3,
                                nullptr) == 0) {
        error = path + ": cannot be written (" + image.message + ")";
        std::error_code ec;
        std::filesystem::remove(tmp, ec);
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    if (ec) {
        error = path + ": cannot be written";
        return false;
    }
    return true;
}

// "iphone-apple-log-01" -> "iphone-apple-log".
std::string packStem(int pack) {
    for (int i = 0; i < lookCount(); ++i) {
        const LookEntry* e = lookEntry(i);
        if (e->pack == pack) {
            const std::string id = e->id;
            return id.substr(0, id.size() - 3);
        }
    }
    return {};
}

}  // namespace

bool writeContactSheets(const std::string& looksDir, const std::string& outDir,
                        std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    for (int pack = 1; pack < packCount(); ++pack) {
        const int looks = lookOptionCount(pack) - 1;
        const int tiles = looks + 1;
        const int rows = (tiles + kColumns - 1) / kColumns;
        Canvas canvas{kColumns * kThumbWidth + (kColumns + 1) * kGap,
                      kHeader + rows * (kThumbHeight + kCaption + kGap) + kGap,
                      {}};
        canvas.rgb.assign(static_cast<size_t>(canvas.width) * canvas.height * 3, 24);
        canvas.text(kGap, 10, packLabel(pack), 235);
        const chart::Image chart = chart::encodedChart(packEncoding(pack));
        for (int t = 0; t < tiles; ++t) {
            const int x = kGap + (t % kColumns) * (kThumbWidth + kGap);
            const int y = kHeader + (t / kColumns) * (kThumbHeight + kCaption + kGap);
            std::string caption = "NONE (CAMERA FOOTAGE)";
            if (t == 0) {
                drawThumbnail(canvas, x, y, chart, nullptr);
            } else {
                const std::optional<int> index = findLook(pack, t);
                const std::string path =
                    (std::filesystem::path(looksDir) / lookFileName(*index)).string();
                std::string bytes;
                LutCube lut;
                if (!readFile(path, bytes) ||
                    !decodeLookFile(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                    bytes.size(), lut)) {
                    error = path + ": cannot be read or decoded";
                    return false;
                }
                drawThumbnail(canvas, x, y, chart, &lut);
                char number[16];
                std::snprintf(number, sizeof number, "%02d ", t);
                const recipes::ShippedLook* look = recipes::findShippedLook(pack, t);
                caption = number + std::string(look != nullptr ? look->recipe.name : "");
            }
            canvas.text(x + 2, y + kThumbHeight + 4, caption, 220);
        }
        if (!writePng((std::filesystem::path(outDir) / (packStem(pack) + ".png")).string(), canvas,
                      error)) {
            return false;
        }
    }
    return true;
}

}  // namespace vd::lookmaker
