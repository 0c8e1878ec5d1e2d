#include "MoreCommands.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>

#include "GradeCommand.h"
#include "ImageFile.h"
#include "OpenClDevice.h"
#include "TestHost.h"
#include "chart/Chart.h"
#include "chart/Font.h"
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
        if (const chart::GlyphRows* g = chart::glyphOf(c)) {
            for (int row = 0; row < 7; ++row) {
                for (int col = 0; col < 5; ++col) {
                    if (!((*g)[std::size_t(row)] & (0x10 >> col))) {
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
        const char* usage =
            "usage: huebench contact-sheet [BUNDLE_DIR] --pack N|LABEL [--gpu opencl] OUT";
        std::optional<std::string> packText;
        bool openCL = false;
        std::vector<std::string> positional;
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "--pack" && i + 1 < args.size() && !packText) {
                packText = args[++i];
            } else if (args[i] == "--gpu" && i + 1 < args.size() && !openCL) {
                openCL = parseGpu(args[++i]);
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

        const std::unique_ptr<testhost::OpenClDevice> device = openCL ? openClDevice() : nullptr;
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
            if (device) {
                request.mode = testhost::RenderMode::openCL;
                request.openCLCommandQueue = device->queue();
                request.device = device.get();
            }
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
        out << "pack \"" << packLabel(pack) << "\", " << looks << " looks"
            << (device ? " on OpenCL device " + device->name() : std::string()) << " -> " << path
            << "\n";
        return 0;
    });
}

}  // namespace vd::cli
