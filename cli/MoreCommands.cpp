#include "MoreCommands.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <exception>
#include <optional>

#include "GradeCommand.h"
#include "ImageFile.h"
#include "TestHost.h"
#include "chart/Chart.h"
#include "controls/Controls.h"
#include "grade/Samples.h"
#include "looks/Catalogue.h"

namespace vd::cli {
namespace {

using testhost::BitDepth;
using testhost::Image;

// Runs a command body with the shared exit statuses and "huebench: " messages.
template <typename Body>
int guarded(std::ostream& err, Body body) {
    try {
        return body();
    } catch (const UsageError& e) {
        err << "huebench: " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        err << "huebench: " << e.what() << "\n";
        return 1;
    }
}

// A float RGB image of rows given top to bottom, in OpenFX row order.
Image fromRows(int width, int height, const std::vector<float>& rgb) {
    Image image(BitDepth::float32, 3, {0, 0, width, height});
    for (int row = 0; row < height; ++row) {
        const float* in = rgb.data() + std::size_t(row) * std::size_t(width) * 3;
        auto* out = reinterpret_cast<float*>(image.row(height - 1 - row));
        std::copy(in, in + std::size_t(width) * 3, out);
    }
    return image;
}

void writeWhole(const std::string& path, const Image& image, SampleType type,
                const std::string& colourSpace) {
    if (!knownOutputFormat(path)) {
        throw UsageError("cannot write \"" + path + "\": huebench writes " +
                         std::string(outputExtensions()) + ", chosen by the output's extension");
    }
    try {
        FrameWriter writer(path, image.bounds(), image.bounds(), image.components(), type,
                           colourSpace);
        writer.write(image);
        writer.commit();
    } catch (const ImageFileError& e) {
        throw Failure(e.what());
    }
}

// A 5x7 pixel font for the contact sheet's labels: capitals, digits and a little
// punctuation; rows top to bottom, bit 4 the leftmost pixel. Other characters draw blank.
struct Glyph {
    char c;
    std::array<std::uint8_t, 7> rows;
};
constexpr Glyph kFont[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'/', {0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x10}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}},
    {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
    {'&', {0x0C, 0x12, 0x14, 0x08, 0x15, 0x12, 0x0D}},
    {'\'', {0x04, 0x04, 0x08, 0x00, 0x00, 0x00, 0x00}},
};

const Glyph* glyphOf(char c) {
    const char upper = char(std::toupper(static_cast<unsigned char>(c)));
    for (const Glyph& g : kFont) {
        if (g.c == upper) {
            return &g;
        }
    }
    return nullptr;
}

// A float RGB canvas, rows top to bottom.
struct Canvas {
    int width = 0;
    int height = 0;
    std::vector<float> rgb;
    float* at(int x, int y) { return rgb.data() + (std::size_t(y) * std::size_t(width) + x) * 3; }
};

// Text in white at (x, y), its top left corner, each font pixel scale x scale.
void drawText(Canvas& canvas, int x, int y, const std::string& text, int scale) {
    for (const char c : text) {
        if (const Glyph* g = glyphOf(c)) {
            for (int row = 0; row < 7; ++row) {
                for (int col = 0; col < 5; ++col) {
                    if (!(g->rows[std::size_t(row)] & (0x10 >> col))) {
                        continue;
                    }
                    for (int dy = 0; dy < scale; ++dy) {
                        for (int dx = 0; dx < scale; ++dx) {
                            const int px = x + col * scale + dx;
                            const int py = y + row * scale + dy;
                            if (px >= 0 && px < canvas.width && py >= 0 && py < canvas.height) {
                                float* p = canvas.at(px, py);
                                p[0] = p[1] = p[2] = 1.0f;
                            }
                        }
                    }
                }
            }
        }
        x += 6 * scale;
    }
}

// The chart as the pack's camera records it, a quarter of its size each way (averaged).
Image smallChart(int pack, int factor) {
    const chart::Image chart = chart::encodedChart(packEncoding(pack));
    const int w = chart.width / factor;
    const int h = chart.height / factor;
    Image image(BitDepth::float32, 4, {0, 0, w, h});
    for (int y = 0; y < h; ++y) {
        auto* out = reinterpret_cast<float*>(image.row(h - 1 - y));
        for (int x = 0; x < w; ++x, out += 4) {
            for (int c = 0; c < 3; ++c) {
                float sum = 0.0f;
                for (int dy = 0; dy < factor; ++dy) {
                    for (int dx = 0; dx < factor; ++dx) {
                        sum +=
                            chart.pixels[(std::size_t(y * factor + dy) * std::size_t(chart.width) +
                                          std::size_t(x * factor + dx)) *
                                             3 +
                                         std::size_t(c)];
                    }
                }
                out[c] = sum / float(factor * factor);
            }
            out[3] = 1.0f;
        }
    }
    return image;
}

}  // namespace

int looksCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    return guarded(err, [&] {
        if (!args.empty()) {
            throw UsageError("looks takes no arguments");
        }
        for (int pack = 0; pack < packCount(); ++pack) {
            out << pack << " " << packLabel(pack) << "\n";
            for (int look = 1; look < lookOptionCount(pack); ++look) {
                out << "    " << look << " " << lookOptionLabel(pack, look) << "\n";
            }
        }
        return 0;
    });
}

int chartCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    return guarded(err, [&] {
        std::optional<std::string> encoding;
        std::string path;
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "--encoding" && i + 1 < args.size() && !encoding) {
                encoding = args[++i];
            } else if (args[i].rfind("--", 0) != 0 && path.empty()) {
                path = args[i];
            } else {
                throw UsageError("usage: huebench chart --encoding applelog|dlog|rec709 OUT");
            }
        }
        if (!encoding || path.empty()) {
            throw UsageError("usage: huebench chart --encoding applelog|dlog|rec709 OUT");
        }
        const std::string e = lower(*encoding);
        const std::optional<CameraEncoding> which =
            e == "applelog" ? std::optional(CameraEncoding::AppleLog)
            : e == "dlog"   ? std::optional(CameraEncoding::DLog)
            : e == "rec709" ? std::optional(CameraEncoding::Rec709)
                            : std::nullopt;
        if (!which) {
            throw UsageError("--encoding takes applelog, dlog or rec709, not \"" + *encoding +
                             "\"");
        }
        const chart::Image chart = chart::encodedChart(*which);
        writeWhole(path, fromRows(chart.width, chart.height, chart.pixels), SampleType::uint16,
                   e == "applelog" ? "AppleLog"
                   : e == "dlog"   ? "DLog"
                                   : "Rec709");
        out << "chart " << chart.width << "x" << chart.height << " (" << e << ") -> " << path
            << "\n";
        return 0;
    });
}

int contactSheetCommand(const std::vector<std::string>& args, std::ostream& out,
                        std::ostream& err) {
    return guarded(err, [&] {
        const char* usage = "usage: huebench contact-sheet [BUNDLE_DIR] --pack N|LABEL OUT";
        std::optional<std::string> packText;
        std::vector<std::string> positional;
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "--pack" && i + 1 < args.size() && !packText) {
                packText = args[++i];
            } else if (args[i].rfind("--", 0) != 0) {
                positional.push_back(args[i]);
            } else {
                throw UsageError(usage);
            }
        }
        if (!packText || positional.empty() || positional.size() > 2) {
            throw UsageError(usage);
        }
        const int pack = resolvePack(*packText);
        const std::string path = positional.back();
        if (!knownOutputFormat(path)) {
            throw UsageError("cannot write \"" + path + "\": huebench writes " +
                             std::string(outputExtensions()) +
                             ", chosen by the output's extension");
        }
        const std::string bundle = positional.size() == 2 ? positional[0] : findBundle();

        // Every look of the pack, "None" first, on a quarter-size chart, four to a row, each
        // with its label underneath.
        constexpr int kFactor = 4;
        constexpr int kColumns = 4;
        constexpr int kLabel = 24;
        const Image source = smallChart(pack, kFactor);
        const int cellW = source.width();
        const int cellH = source.height() + kLabel;
        const int looks = lookOptionCount(pack);
        const int rows = (looks + kColumns - 1) / kColumns;
        Canvas sheet{cellW * std::min(looks, kColumns), cellH * rows, {}};
        sheet.rgb.assign(std::size_t(sheet.width) * std::size_t(sheet.height) * 3, 0.08f);

        std::optional<testhost::TestHost> host;
        try {
            host.emplace(bundle);
            host->setUp(kOfxImageEffectContextFilter);
        } catch (const std::exception& e) {
            throw Failure("cannot load the bundle " + bundle + ": " + e.what());
        }
        for (int look = 0; look < looks; ++look) {
            testhost::Instance& fx = host->createInstance(kOfxImageEffectContextFilter);
            fx.userEdit(control::footage, pack);
            fx.userEdit(packLutParam(pack), look);
            testhost::RenderRequest request;
            request.source = source;
            const testhost::RenderResult result = fx.render(request);
            const std::string status = fx.props.has(kLookStatusProperty)
                                           ? fx.props.string(kLookStatusProperty)
                                           : "not reported by the plug-in";
            if (result.status != kOfxStatOK || (look != 0 && status != "applied")) {
                throw Failure("look \"" + lookOptionLabel(pack, look) + "\" was not rendered (" +
                              (result.status != kOfxStatOK
                                   ? "status " + std::to_string(result.status)
                                   : status) +
                              ")");
            }
            host->destroyInstance(fx);
            const int x0 = (look % kColumns) * cellW;
            const int y0 = (look / kColumns) * cellH;
            for (int y = 0; y < source.height(); ++y) {
                for (int x = 0; x < cellW; ++x) {
                    float* p = sheet.at(x0 + x, y0 + y);
                    for (int c = 0; c < 3; ++c) {
                        p[c] = result.output.at(x, source.height() - 1 - y, c);
                    }
                }
            }
            drawText(sheet, x0 + 6, y0 + source.height() + 5, lookOptionLabel(pack, look), 2);
        }
        writeWhole(path, fromRows(sheet.width, sheet.height, sheet.rgb), SampleType::uint8,
                   "Rec709");
        out << "pack \"" << packLabel(pack) << "\", " << looks << " looks -> " << path << "\n";
        return 0;
    });
}

}  // namespace vd::cli
