#include "MoreCommands.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "GradeCommand.h"
#include "ImageFile.h"
#include "chart/Chart.h"
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

int contactSheetCommand(const std::vector<std::string>&, std::ostream&, std::ostream& err) {
    return guarded(err, [&]() -> int { throw Failure("contact-sheet is not built yet"); });
}

}  // namespace vd::cli
