#include "GradeCommand.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

#include "PngFile.h"
#include "TestHost.h"
#include "chart/Chart.h"
#include "controls/Controls.h"
#include "grade/Samples.h"
#include "looks/Catalogue.h"

namespace vd::cli {
namespace {

namespace fs = std::filesystem;
using testhost::BitDepth;
using testhost::Image;
using testhost::Instance;
using testhost::Param;
using testhost::ParamKind;
using testhost::ParamValue;

// A mistake in the command line: reported with exit status 2 before anything is loaded.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// Anything else that stops the command: exit status 1.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The control a "--NAME" option sets, from the control table; null when none does.
const ParamSpec* controlForOption(const std::string& option) {
    for (const ParamSpec& row : paramTable()) {
        if (!row.option.empty() && option == "--" + row.option) {
            return &row;
        }
    }
    return nullptr;
}

constexpr int kDefaultPack = 1;  // "iPhone Apple Log"

struct Edit {
    std::string param;
    std::string value;
    std::string origin;  // the option as typed, for messages
};

struct GradeOptions {
    bool help = false;
    bool everyPack = false;  // the chosen look number of every pack that has looks
    std::string bundle;
    std::optional<std::string> pack;
    std::optional<std::string> look;
    std::vector<Edit> edits;  // in the order given
    std::string input;
    std::string output;
    BitDepth depth = BitDepth::float32;
};

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::optional<long> wholeNumber(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || std::isspace(static_cast<unsigned char>(text[0]))) {
        return std::nullopt;
    }
    return value;
}

// Finite numbers only: "nan" and "inf" would pass straight into the grade.
std::optional<double> finiteNumber(const std::string& text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

BitDepth parseDepth(const std::string& text) {
    const std::string d = lower(text);
    if (d == "8" || d == "byte") {
        return BitDepth::byte;
    }
    if (d == "16" || d == "short") {
        return BitDepth::short16;
    }
    if (d == "32" || d == "float") {
        return BitDepth::float32;
    }
    throw UsageError("--depth takes 8, 16 or float, not \"" + text + "\"");
}

GradeOptions parseOptions(const std::vector<std::string>& args) {
    GradeOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-' && arg[1] != '-') {
            throw UsageError("unknown option " + arg + " (huebench grade --help lists them)");
        }
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            if (!options.bundle.empty()) {
                throw UsageError("one bundle only; \"" + arg + "\" is a second one");
            }
            options.bundle = arg;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        std::optional<std::string> inlineValue;
        if (equals != std::string::npos) {
            inlineValue = arg.substr(equals + 1);
        }
        if (name == "--help" || name == "--before-after" || name == "--every-pack") {
            if (inlineValue) {
                throw UsageError(name + " takes no value");
            }
            if (name == "--help") {
                options.help = true;
            } else if (name == "--every-pack") {
                options.everyPack = true;
            } else {
                options.edits.push_back({control::beforeAfter, "1", name});
            }
            continue;
        }
        auto value = [&]() -> std::string {
            if (inlineValue) {
                return *inlineValue;
            }
            if (i + 1 >= args.size()) {
                throw UsageError(name + " needs a value");
            }
            return args[++i];
        };
        if (name == "--pack") {
            options.pack = value();
        } else if (name == "--look") {
            options.look = value();
        } else if (name == "--input") {
            options.input = value();
        } else if (name == "--output") {
            options.output = value();
        } else if (name == "--depth") {
            options.depth = parseDepth(value());
        } else if (name == "--split") {
            const std::string position = value();
            options.edits.push_back({control::splitScreen, "1", name});
            options.edits.push_back({control::splitPosition, position, name});
        } else if (name == "--set") {
            const std::string assignment = value();
            const std::size_t at = assignment.find('=');
            if (at == 0 || at == std::string::npos) {
                throw UsageError("--set takes NAME=VALUE, not \"" + assignment + "\"");
            }
            options.edits.push_back(
                {assignment.substr(0, at), assignment.substr(at + 1), "--set " + assignment});
        } else {
            const ParamSpec* row = controlForOption(name);
            if (!row) {
                throw UsageError("unknown option " + name + " (huebench grade --help lists them)");
            }
            options.edits.push_back({row->name, value(), name});
        }
    }
    return options;
}

// A pack by number (0..5), label or id, ignoring case.
int resolvePack(const std::string& text) {
    if (const auto n = wholeNumber(text)) {
        if (*n >= 0 && *n < packCount()) {
            return int(*n);
        }
    }
    for (int p = 0; p < packCount(); ++p) {
        if (lower(text) == lower(packLabel(p)) || lower(text) == lower(packEntry(p)->id)) {
            return p;
        }
    }
    std::string known;
    for (int p = 0; p < packCount(); ++p) {
        known += (p ? ", " : "") + std::to_string(p) + " \"" + packLabel(p) + "\"";
    }
    throw UsageError("no pack \"" + text + "\"; the packs are " + known);
}

// A look of the pack by option number (0 = "None") or menu label, ignoring case.
int resolveLook(int pack, const std::string& text) {
    const int count = lookOptionCount(pack);
    if (const auto n = wholeNumber(text)) {
        if (*n >= 0 && *n < count) {
            return int(*n);
        }
    }
    for (int option = 1; option < count; ++option) {
        if (lower(text) == lower(lookOptionLabel(pack, option))) {
            return option;
        }
    }
    throw UsageError(
        "pack \"" + packLabel(pack) + "\" has no look \"" + text + "\"; its looks are " +
        (count > 1 ? "1 to " + std::to_string(count - 1) + ", and 0 for None" : "0 (None) only"));
}

// Where the picture goes without --output: the chart named by pack and look, for example
// out/chart-apple-log-01.png; a given input picture goes to out/graded.png.
std::string defaultOutput(const GradeOptions& options, int pack, int look) {
    if (!options.input.empty()) {
        return "out/graded.png";
    }
    std::string id = packEntry(pack)->id;
    std::replace(id.begin(), id.end(), '_', '-');
    std::string number = std::to_string(look);
    if (number.size() < 2) {
        number.insert(number.begin(), '0');
    }
    return "out/chart-" + id + "-" + number + ".png";
}

// A picture as the camera recorded it: RGB code values, rows top to bottom.
struct Picture {
    std::string name;
    int width = 0;
    int height = 0;
    std::vector<float> rgb;
};

// The picture as the camera recorded it, in OpenFX row order (bottom row first), opaque.
Image sourceImage(const Picture& picture, BitDepth depth) {
    Image image(depth, 4, {0, 0, picture.width, picture.height});
    const std::size_t sample = testhost::bytesPerSample(depth);
    for (int row = 0; row < picture.height; ++row) {
        const float* in = picture.rgb.data() + std::size_t(row) * std::size_t(picture.width) * 3;
        unsigned char* out = image.row(picture.height - 1 - row);
        for (int x = 0; x < picture.width; ++x, in += 3, out += 4 * sample) {
            const int code = testhost::engineDepth(depth);
            storeSample(out, code, in[0]);
            storeSample(out + sample, code, in[1]);
            storeSample(out + 2 * sample, code, in[2]);
            storeSample(out + 3 * sample, code, 1.0f);
        }
    }
    return image;
}

// Pixels of a float output whose every sample still holds the host's initial NaN.
long long unwrittenPixels(const Image& output) {
    long long count = 0;
    const int components = output.components();
    for (int y = output.bounds().y1; y < output.bounds().y2; ++y) {
        const unsigned char* in = output.row(y);
        for (int x = 0; x < output.width(); ++x) {
            bool untouched = true;
            for (int c = 0; c < components; ++c, in += sizeof(float)) {
                untouched = untouched && std::isnan(loadSample(in, kDepthFloat));
            }
            count += untouched ? 1 : 0;
        }
    }
    return count;
}

// The graded output as display values, rows top to bottom: 8-bit renders give an 8-bit PNG,
// deeper ones a 16-bit PNG, converted as the engine writes integer samples (Samples.h):
// values outside 0..1 are clipped, non-finite values become black.
PngPicture outputPicture(const Image& output) {
    PngPicture picture;
    picture.width = output.width();
    picture.height = output.height();
    picture.bits = output.depth() == BitDepth::byte ? 8 : 16;
    picture.samples.reserve(std::size_t(picture.width) * std::size_t(picture.height) * 3);
    const std::size_t sample = testhost::bytesPerSample(output.depth());
    const int depth = testhost::engineDepth(output.depth());
    const std::size_t pixel = output.pixelBytes();
    const OfxRectI b = output.bounds();
    for (int y = b.y2 - 1; y >= b.y1; --y) {
        const unsigned char* in = output.row(y);
        for (int x = 0; x < picture.width; ++x, in += pixel) {
            for (int c = 0; c < 3; ++c) {
                const float v = loadSample(in + std::size_t(c) * sample, depth);
                picture.samples.push_back(picture.bits == 8 ? floatToByte(v) : floatToShort(v));
            }
        }
    }
    return picture;
}

// A user's text for a parameter, as the value its kind takes; ranges the plug-in declared
// are enforced so a typo is reported instead of silently clamped.
ParamValue parseValue(const Param& param, const Edit& edit) {
    const std::string& text = edit.value;
    auto bad = [&](const std::string& why) {
        return UsageError(edit.origin + ": \"" + text + "\" " + why + " (parameter " + param.name +
                          ")");
    };
    auto checkRange = [&](double v) {
        if (param.props.has(kOfxParamPropMin) && param.props.writtenByPlugin(kOfxParamPropMin)) {
            const bool real = param.kind == ParamKind::real;
            const double lo = real ? param.props.real(kOfxParamPropMin)
                                   : double(param.props.integer(kOfxParamPropMin));
            const double hi = real ? param.props.real(kOfxParamPropMax)
                                   : double(param.props.integer(kOfxParamPropMax));
            if (v < lo || v > hi) {
                std::ostringstream range;
                range << "is outside " << lo << " to " << hi;
                throw bad(range.str());
            }
        }
    };
    switch (param.kind) {
        case ParamKind::real: {
            const auto v = finiteNumber(text);
            if (!v) {
                throw bad("is not a number");
            }
            checkRange(*v);
            return *v;
        }
        case ParamKind::integer: {
            const auto v = wholeNumber(text);
            if (!v || *v < -2147483647L || *v > 2147483647L) {
                throw bad("is not a whole number");
            }
            checkRange(double(*v));
            return int(*v);
        }
        case ParamKind::boolean: {
            const std::string t = lower(text);
            if (t == "1" || t == "on" || t == "true" || t == "yes") {
                return 1;
            }
            if (t == "0" || t == "off" || t == "false" || t == "no") {
                return 0;
            }
            throw bad("is not on or off");
        }
        case ParamKind::choice: {
            const std::vector<std::string> options = param.props.strings(kOfxParamPropChoiceOption);
            if (const auto n = wholeNumber(text); n && *n >= 0 && *n < long(options.size())) {
                return int(*n);
            }
            for (std::size_t i = 0; i < options.size(); ++i) {
                if (lower(options[i]) == lower(text)) {
                    return int(i);
                }
            }
            throw bad("is not one of its " + std::to_string(options.size()) + " options");
        }
        case ParamKind::rgb: {
            testhost::Rgb rgb;
            double* parts[3] = {&rgb.r, &rgb.g, &rgb.b};
            std::size_t start = 0;
            for (int k = 0; k < 3; ++k) {
                const std::size_t comma = text.find(',', start);
                if ((k < 2) == (comma == std::string::npos)) {
                    throw bad("is not three numbers R,G,B");
                }
                const auto v = finiteNumber(text.substr(start, comma - start));
                if (!v) {
                    throw bad("is not three numbers R,G,B");
                }
                *parts[k] = *v;
                start = comma + 1;
            }
            return rgb;
        }
        case ParamKind::string:
            return text;
        default:
            throw bad("cannot be set: a " + std::string(testhost::paramKindName(param.kind)) +
                      " has no value");
    }
}

void userEdit(Instance& fx, const Param& param, const ParamValue& value,
              const std::string& origin) {
    const OfxStatus status = fx.userEdit(param.name, value);
    if (status != kOfxStatOK && status != kOfxStatReplyDefault) {
        throw Failure(origin + ": the plug-in answered the change of " + param.name +
                      " with status " + std::to_string(status));
    }
}

const char* depthName(BitDepth depth) {
    return depth == BitDepth::byte ? "8-bit" : depth == BitDepth::short16 ? "16-bit" : "float";
}

const char* statusName(OfxStatus status) {
    switch (status) {
        case kOfxStatOK:
            return "OK";
        case kOfxStatFailed:
            return "failed";
        case kOfxStatErrFatal:
            return "fatal error";
        case kOfxStatErrUnsupported:
            return "unsupported";
        case kOfxStatErrMemory:
            return "out of memory";
        case kOfxStatGPURenderFailed:
            return "GPU render failed";
        default:
            return "error";
    }
}

// The built-in chart as the pack's camera records it.
Picture chartFor(int pack) {
    chart::Image chartImage = chart::encodedChart(packEncoding(pack));
    return {"chart", chartImage.width, chartImage.height, std::move(chartImage.pixels)};
}

Picture inputPicture(const std::string& path) {
    PngPicture png;
    std::string error;
    if (!readPng(path, png, error)) {
        throw Failure("cannot read the input picture " + error);
    }
    Picture picture{path, png.width, png.height, {}};
    picture.rgb.reserve(png.samples.size());
    for (const std::uint16_t v : png.samples) {
        picture.rgb.push_back(png.bits == 16 ? shortToFloat(v) : byteToFloat(std::uint8_t(v)));
    }
    return picture;
}

// One picture through one new instance: the edits a user would make, one render, the checks
// that the render really succeeded, the PNG and its summary line.
void gradeOne(testhost::TestHost& host, const GradeOptions& options, int pack, int look,
              const Picture* input, const std::string& output, std::ostream& out) {
    OfxStatus created = kOfxStatOK;
    Instance& fx = host.createInstance(kOfxImageEffectContextFilter, &created);
    if (created != kOfxStatOK) {
        throw Failure("the plug-in refused to create an instance (status " +
                      std::to_string(created) + ")");
    }

    // The order a user works in: the pack, which shows its look menu, then the look, then
    // the controls in the order given on the command line.
    auto findParam = [&fx](const std::string& name, const std::string& origin) -> Param& {
        Param* param = fx.findParam(name);
        if (!param) {
            throw UsageError(origin + ": the plug-in has no parameter \"" + name + "\"");
        }
        return *param;
    };
    userEdit(fx, findParam(control::footage, "--pack"), pack, "--pack");
    userEdit(fx, findParam(packLutParam(pack), "--look"), look, "--look");
    for (const Edit& edit : options.edits) {
        // The summary names the pack and look, so they are chosen in one place only.
        bool lookChoice = edit.param == control::footage;
        for (int p = 0; p < packCount(); ++p) {
            lookChoice = lookChoice || edit.param == packLutParam(p);
        }
        if (lookChoice) {
            throw UsageError(edit.origin + ": choose the pack and look with --pack and --look");
        }
        Param& param = findParam(edit.param, edit.origin);
        userEdit(fx, param, parseValue(param, edit), edit.origin);
    }

    // Made only now, so that a mistake in the edits above costs no chart.
    const Picture chart = input ? Picture{} : chartFor(pack);
    const Picture& picture = input ? *input : chart;
    testhost::RenderRequest request;
    request.source = sourceImage(picture, options.depth);
    request.outputDepth = options.depth;
    request.outputComponents = 4;
    const auto start = std::chrono::steady_clock::now();
    const testhost::RenderResult result = fx.render(request);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();

    std::ostringstream summary;
    summary << "pack \"" << packLabel(pack) << "\", look \"" << lookOptionLabel(pack, look)
            << "\", " << picture.name << " " << picture.width << "x" << picture.height << " "
            << depthName(options.depth) << ", " << ms << " ms, status " << result.status << " ("
            << statusName(result.status) << ")";
    if (result.status != kOfxStatOK) {
        throw Failure("the render failed: " + summary.str() + "; nothing written");
    }
    if (const std::vector<std::string> problems = host.problems(); !problems.empty()) {
        throw Failure("the host noticed the plug-in misbehave: " + problems.front() +
                      (problems.size() > 1
                           ? " (and " + std::to_string(problems.size() - 1) + " more)"
                           : std::string()) +
                      "; nothing written");
    }
    // The plug-in renders without a look it cannot load and still reports success; it says
    // so on the instance, so an ungraded picture is never called graded.
    const std::string lookStatus = fx.props.has(kLookStatusProperty)
                                       ? fx.props.string(kLookStatusProperty)
                                       : "not reported by the plug-in";
    if (look != 0 && lookStatus != "applied") {
        throw Failure("look \"" + lookOptionLabel(pack, look) + "\" was not applied (" +
                      lookStatus + "); nothing written");
    }
    // Float outputs start as NaN, so pixels the plug-in never wrote can be told apart.
    if (options.depth == BitDepth::float32) {
        if (const long long unwritten = unwrittenPixels(result.output); unwritten > 0) {
            throw Failure("the render left " + std::to_string(unwritten) +
                          " pixels unwritten; nothing written");
        }
    }

    if (const fs::path folder = fs::path(output).parent_path(); !folder.empty()) {
        std::error_code ec;
        fs::create_directories(folder, ec);
        if (ec) {
            throw Failure("cannot create the folder " + folder.string() + ": " + ec.message());
        }
    }
    std::string error;
    if (!writePng(output, outputPicture(result.output), error)) {
        throw Failure("cannot write the picture " + error);
    }
    out << summary.str() << " -> " << output << "\n";
    host.destroyInstance(fx);
}

int runGrade(const GradeOptions& options, std::ostream& out) {
    if (options.bundle.empty()) {
        throw UsageError("no bundle given: huebench grade BUNDLE_DIR [options]");
    }
    if (options.everyPack && (options.pack || !options.input.empty() || !options.output.empty())) {
        throw UsageError(
            "--every-pack grades the chart once per pack into out/; it takes no "
            "--pack, --input or --output");
    }
    // Packs and looks are settled from the catalogue before anything is loaded, so a typo
    // costs nothing; without either the tool grades the first look of iPhone Apple Log.
    struct Job {
        int pack;
        int look;
        std::string output;
    };
    std::vector<Job> jobs;
    std::vector<int> packs;
    if (options.everyPack) {
        for (int p = 1; p < packCount(); ++p) {
            packs.push_back(p);
        }
    } else {
        packs.push_back(options.pack ? resolvePack(*options.pack) : kDefaultPack);
    }
    for (const int pack : packs) {
        const int look =
            options.look ? resolveLook(pack, *options.look) : (lookOptionCount(pack) > 1 ? 1 : 0);
        jobs.push_back(
            {pack, look,
             options.output.empty() ? defaultOutput(options, pack, look) : options.output});
    }
    std::optional<Picture> input;
    if (!options.input.empty()) {
        input = inputPicture(options.input);
    }

    testhost::HostProfile profile;
    profile.threads = std::max(1u, std::thread::hardware_concurrency());
    std::optional<testhost::TestHost> host;
    try {
        host.emplace(options.bundle, profile);
        host->setUp(kOfxImageEffectContextFilter);
    } catch (const std::exception& e) {
        throw Failure("cannot load the bundle " + options.bundle + ": " + e.what());
    }
    for (const Job& job : jobs) {
        gradeOne(*host, options, job.pack, job.look, input ? &*input : nullptr, job.output, out);
    }
    return 0;
}

}  // namespace

void printGradeUsage(std::ostream& out) {
    out << "usage: huebench grade BUNDLE_DIR [options]\n"
           "Renders the built-in test chart (or --input) through the plug-in as a host does and\n"
           "writes the graded picture as a PNG. Without --pack and --look: iPhone Apple Log 01.\n"
           "  --pack N|LABEL        pack 0..5 or its label; the chart is recorded in its encoding\n"
           "  --look N|LABEL        look option of the pack (0 = None); default 1\n"
           "  --input FILE.png      grade this picture, taken as the pack's camera code values\n"
           "  --output FILE.png     default out/chart-<pack>-<look>.png (out/graded.png with "
           "--input)\n"
           "  --depth 8|16|float    image depth of the render; default float\n"
           "  --every-pack          grade the look (default 1) of each of the five camera packs\n"
           "  --split POSITION      split screen at 0..100 (left original, right graded)\n"
           "  --before-after        show the original picture\n"
           "  --set NAME=VALUE      any parameter by name (colours as R,G,B; switches on/off)\n";
    out << "Controls, each setting the parameter named on its right (the plug-in's units):\n";
    for (const ParamSpec& row : paramTable()) {
        if (row.option.empty()) {
            continue;
        }
        std::string option = "--" + row.option + " VALUE";
        option.resize(std::max<std::size_t>(option.size() + 1, 26), ' ');
        out << "  " << option << row.name << "\n";
    }
}

int gradeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        const GradeOptions options = parseOptions(args);
        if (options.help) {
            printGradeUsage(out);
            return 0;
        }
        return runGrade(options, out);
    } catch (const UsageError& e) {
        err << "huebench: " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        err << "huebench: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace vd::cli
