#include "GradeCommand.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <iomanip>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

#include "ImageFile.h"
#include "OpenClDevice.h"
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

// Frames A to B of a sequence, both included.
struct FrameRange {
    long first = 0;
    long last = 0;
};

struct GradeOptions {
    bool help = false;
    bool everyPack = false;  // the chosen look number of every pack that has looks
    bool resume = false;
    std::string bundle;
    std::optional<std::string> pack;
    std::optional<std::string> look;
    std::optional<std::string> myLook;
    std::vector<Edit> edits;  // in the order given
    std::string input;
    std::string output;
    std::optional<BitDepth> depth;
    std::optional<FrameRange> frames;
    bool openCL = false;  // --gpu opencl
};

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

FrameRange parseFrames(const std::string& text) {
    const std::size_t dash = text.find('-', 1);
    const auto first = wholeNumber(text.substr(0, dash));
    const auto last = dash == std::string::npos ? first : wholeNumber(text.substr(dash + 1));
    if (!first || !last || *first < 0 || *last < *first || *last - *first > 10000000) {
        throw UsageError("--frames takes A-B (first and last frame, A <= B) or A, not \"" + text +
                         "\"");
    }
    return {*first, *last};
}

GradeOptions parseOptions(const std::vector<std::string>& args) {
    GradeOptions options;
    std::set<std::string> seen;  // options and --set names given so far
    auto once = [&seen](const std::string& key, const std::string& shown) {
        if (!seen.insert(key).second) {
            throw UsageError(shown + " is given twice");
        }
    };
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
        if (name == "--help" || name == "--before-after" || name == "--every-pack" ||
            name == "--resume") {
            if (inlineValue) {
                throw UsageError(name + " takes no value");
            }
            once(name, name);
            if (name == "--help") {
                options.help = true;
            } else if (name == "--every-pack") {
                options.everyPack = true;
            } else if (name == "--resume") {
                options.resume = true;
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
        if (name == "--set") {
            const std::string assignment = value();
            const std::size_t at = assignment.find('=');
            if (at == 0 || at == std::string::npos) {
                throw UsageError("--set takes NAME=VALUE, not \"" + assignment + "\"");
            }
            const std::string param = assignment.substr(0, at);
            once("param:" + param, "parameter " + param);
            options.edits.push_back({param, assignment.substr(at + 1), "--set " + assignment});
            continue;
        }
        once(name, name);
        if (name == "--pack") {
            options.pack = value();
        } else if (name == "--look") {
            options.look = value();
        } else if (name == "--my-look") {
            options.myLook = value();
        } else if (name == "--input") {
            options.input = value();
        } else if (name == "--output") {
            options.output = value();
        } else if (name == "--depth") {
            options.depth = parseDepth(value());
        } else if (name == "--frames") {
            options.frames = parseFrames(value());
        } else if (name == "--gpu") {
            options.openCL = parseGpu(value());
        } else if (name == "--split") {
            const std::string position = value();
            once("param:" + std::string(control::splitScreen), name);
            once("param:" + std::string(control::splitPosition), name);
            options.edits.push_back({control::splitScreen, "1", name});
            options.edits.push_back({control::splitPosition, position, name});
        } else {
            const ParamSpec* row = controlForOption(name);
            if (!row) {
                throw UsageError("unknown option " + name + " (huebench grade --help lists them)");
            }
            once("param:" + row->name, name);
            options.edits.push_back({row->name, value(), name});
        }
    }
    return options;
}

// Two-digit look numbers, as the look files and menus count them.
std::string twoDigits(int n) {
    std::string text = std::to_string(n);
    return text.size() < 2 ? "0" + text : text;
}

// What an output name says about the grade: the pack's label and the look's number
// ("iphone-apple-log-01"), or a saved look's name.
std::string gradeSuffix(int pack, int look, const std::optional<std::string>& myLook) {
    return myLook ? slug(*myLook) : slug(packLabel(pack)) + "-" + twoDigits(look);
}

// A sequence's file name pattern: one "%d" or "%0Nd" standing for the frame number.
struct Pattern {
    std::string prefix;  // everything before the number
    std::string suffix;  // everything after it
    int width = 0;       // the N of %0Nd (0: no padding)
};

std::optional<Pattern> framePattern(const std::string& path) {
    const std::size_t percent = path.find('%');
    if (percent == std::string::npos) {
        return std::nullopt;
    }
    std::size_t at = percent + 1;
    int width = 0;
    while (at < path.size() && std::isdigit(static_cast<unsigned char>(path[at]))) {
        width = width * 10 + (path[at] - '0');
        if (width > 12) {
            break;
        }
        ++at;
    }
    if (at >= path.size() || path[at] != 'd' || width > 12 ||
        path.find('%', at) != std::string::npos) {
        throw UsageError("\"" + path +
                         "\": a sequence names its frames with one %d or %0Nd, as shot.%04d.exr");
    }
    return Pattern{path.substr(0, percent), path.substr(at + 1), width};
}

std::string frameName(const Pattern& pattern, long frame) {
    std::string number = std::to_string(frame);
    if (int(number.size()) < pattern.width) {
        number.insert(0, std::size_t(pattern.width) - number.size(), '0');
    }
    return pattern.prefix + number + pattern.suffix;
}

// The frames of a sequence on disk, when no --frames is given.
std::vector<long> framesOnDisk(const Pattern& pattern) {
    const fs::path folder = fs::path(pattern.prefix).parent_path();
    const std::string start = fs::path(pattern.prefix).filename().string();
    std::vector<long> frames;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder.empty() ? "." : folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() <= start.size() + pattern.suffix.size() || name.rfind(start, 0) != 0 ||
            name.compare(name.size() - pattern.suffix.size(), std::string::npos, pattern.suffix) !=
                0) {
            continue;
        }
        const std::string digits =
            name.substr(start.size(), name.size() - start.size() - pattern.suffix.size());
        const bool allDigits = std::all_of(digits.begin(), digits.end(),
                                           [](unsigned char c) { return std::isdigit(c) != 0; });
        if (allDigits && digits.size() <= 9 &&
            (pattern.width == 0 || int(digits.size()) >= pattern.width)) {
            const long frame = std::stol(digits);
            if (frameName(pattern, frame) == (folder / name).string() ||
                frameName(pattern, frame) == name) {
                frames.push_back(frame);
            }
        }
    }
    std::sort(frames.begin(), frames.end());
    return frames;
}

// Where the picture goes without --output, in out/: the chart named by pack and look
// (out/chart-iphone-apple-log-01.png); a given picture or sequence under its own name with
// the grade added (shot.%04d.exr: out/shot-iphone-apple-log-01.%04d.exr), in its own format
// when huebench writes it, else as EXR.
std::string defaultOutput(const GradeOptions& options, const std::string& suffix) {
    if (options.input.empty()) {
        return "out/chart-" + suffix + ".png";
    }
    const std::string name = fs::path(options.input).filename().string();
    std::string head = name;
    std::string tail;
    if (const std::size_t percent = name.find('%'); percent != std::string::npos) {
        head = name.substr(0, percent);
        tail = name.substr(percent);
        std::string separator;
        while (!head.empty() && (head.back() == '.' || head.back() == '_' || head.back() == '-')) {
            separator.insert(separator.begin(), head.back());
            head.pop_back();
        }
        tail = (separator.empty() ? "." : separator) + tail;
    } else {
        const std::string ext = fs::path(name).extension().string();
        head = name.substr(0, name.size() - ext.size());
        tail = ext;
    }
    if (!knownOutputFormat(name)) {
        tail = tail.substr(0, tail.size() - fs::path(tail).extension().string().size()) + ".exr";
    }
    return "out/" + head + "-" + suffix + tail;
}

// The picture as the camera recorded it, in OpenFX row order (bottom row first), opaque.
Image chartImage(int pack, BitDepth depth) {
    const chart::Image picture = chart::encodedChart(packEncoding(pack));
    Image image(depth, 4, {0, 0, picture.width, picture.height});
    const std::size_t sample = testhost::bytesPerSample(depth);
    const int code = testhost::engineDepth(depth);
    for (int row = 0; row < picture.height; ++row) {
        const float* in = picture.pixels.data() + std::size_t(row) * std::size_t(picture.width) * 3;
        unsigned char* out = image.row(picture.height - 1 - row);
        for (int x = 0; x < picture.width; ++x, in += 3, out += 4 * sample) {
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

// The part of an image inside a rectangle (which must lie inside its bounds).
Image crop(const Image& image, const OfxRectI& r) {
    Image part(image.depth(), image.components(), r);
    part.premultiplied = image.premultiplied;
    const std::size_t offset = std::size_t(r.x1 - image.bounds().x1) * image.pixelBytes();
    for (int y = r.y1; y < r.y2; ++y) {
        std::memcpy(part.row(y), image.row(y) + offset, part.rowBytes());
    }
    return part;
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

// Rows of one band of a tiled render: about 8 MB of output, so a frame of any size is
// rendered through the plug-in's regions of interest with a bounded amount of memory.
int bandRows(const OfxRectI& window, BitDepth depth, int components) {
    const std::size_t row = std::size_t(window.x2 - window.x1) * testhost::bytesPerSample(depth) *
                            std::size_t(components);
    return int(std::clamp<std::size_t>((std::size_t(8) << 20) / std::max<std::size_t>(row, 1), 16,
                                       1 << 20));
}

// One instance of the plug-in, set up with the user's edits, that grades frames.
class Grader {
  public:
    // With a device the plug-in renders through its OpenCL path on it.
    Grader(testhost::TestHost& host, const GradeOptions& options, int pack, int look,
           testhost::OpenClDevice* device)
        : host_(host), options_(options), pack_(pack), look_(look), device_(device) {
        OfxStatus created = kOfxStatOK;
        fx_ = &host.createInstance(kOfxImageEffectContextFilter, &created);
        if (created != kOfxStatOK) {
            throw Failure("the plug-in refused to create an instance (status " +
                          std::to_string(created) + ")");
        }
        applyEdits();
    }
    ~Grader() { host_.destroyInstance(*fx_); }
    Grader(const Grader&) = delete;
    Grader& operator=(const Grader&) = delete;

    int pack() const { return pack_; }
    int look() const { return look_; }
    // Where the plug-in renders, for the summary: "the CPU" or "OpenCL device <name>".
    std::string renderPath() const {
        return device_ ? "OpenCL device " + device_->name() : "the CPU";
    }
    // The plug-in's GPU path takes float images only, as GPU hosts hand them over.
    bool floatOnly() const { return device_ != nullptr; }
    std::string lookName() const {
        return options_.myLook ? "My Looks \"" + *options_.myLook + "\""
                               : "look \"" + lookOptionLabel(pack_, look_) + "\"";
    }

    // Renders source band by band from the top into writer, at time; returns the
    // milliseconds the renders took.
    // Status shows how far the frame is, in percent, when given.
    using Status = std::function<void(const std::string&)>;

    long long render(const Image& source, BitDepth depth, FrameWriter& writer, double time,
                     const Status& status) {
        const OfxRectI frame = source.bounds();
        // The frame's region of definition is its data window, as a host hands it over.
        const OfxRectD rod{double(frame.x1), double(frame.y1), double(frame.x2), double(frame.y2)};
        const int rows = bandRows(frame, depth, source.components());
        long long ms = 0;
        for (int top = frame.y2; top > frame.y1; top -= rows) {
            const OfxRectI band{frame.x1, std::max(frame.y1, top - rows), frame.x2, top};
            testhost::RegionsOfInterestRequest roi;
            roi.time = time;
            roi.region = {double(band.x1), double(band.y1), double(band.x2), double(band.y2)};
            roi.sourceRegionOfDefinition = rod;
            const testhost::RegionsOfInterestResult asked = fx_->regionsOfInterest(roi);
            OfxRectI need = frame;
            // Without an answer of its own the plug-in takes the prefilled region: the band.
            if (asked.status == kOfxStatOK || asked.status == kOfxStatReplyDefault) {
                if (const auto it = asked.regions.find(kOfxImageEffectSimpleSourceClipName);
                    it != asked.regions.end()) {
                    const OfxRectD& want = it->second;
                    need = {std::max(frame.x1, int(std::floor(want.x1))),
                            std::max(frame.y1, int(std::floor(want.y1))),
                            std::min(frame.x2, int(std::ceil(want.x2))),
                            std::min(frame.y2, int(std::ceil(want.y2)))};
                    if (need.x2 <= need.x1 || need.y2 <= need.y1) {
                        need = band;
                    }
                }
            }
            testhost::RenderRequest request;
            request.time = time;
            request.source = need.x1 == frame.x1 && need.x2 == frame.x2 && need.y1 == frame.y1 &&
                                     need.y2 == frame.y2
                                 ? source
                                 : crop(source, need);
            request.outputDepth = depth;
            request.outputComponents = source.components();
            request.outputBounds = band;
            request.sourceRegionOfDefinition = rod;
            request.outputRegionOfDefinition = rod;
            request.sequentialRender = true;
            if (device_) {
                request.mode = testhost::RenderMode::openCL;
                request.openCLCommandQueue = device_->queue();
                request.device = device_;
            }
            const auto start = std::chrono::steady_clock::now();
            testhost::RenderResult result = fx_->render(request);
            ms += std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
            request.source.reset();
            check(result, depth);
            writer.write(result.output);
            if (status) {
                status("grading " +
                       std::to_string(100LL * (frame.y2 - band.y1) / (frame.y2 - frame.y1)) + "%");
            }
        }
        return ms;
    }

  private:
    void check(const testhost::RenderResult& result, BitDepth depth) {
        if (result.status != kOfxStatOK) {
            throw Failure("the render failed with status " + std::to_string(result.status) + " (" +
                          statusName(result.status) + ")");
        }
        if (const std::vector<std::string> problems = host_.problems(); !problems.empty()) {
            throw Failure("the host noticed the plug-in misbehave: " + problems.front() +
                          (problems.size() > 1
                               ? " (and " + std::to_string(problems.size() - 1) + " more)"
                               : std::string()));
        }
        // The plug-in renders without a look it cannot load and still reports success; it
        // says so on the instance, so an ungraded picture is never called graded.
        const std::string lookStatus = fx_->props.has(kLookStatusProperty)
                                           ? fx_->props.string(kLookStatusProperty)
                                           : "not reported by the plug-in";
        if (look_ != 0 && lookStatus != "applied") {
            throw Failure(lookName() + " was not applied (" + lookStatus + ")");
        }
        // Float outputs start as NaN, so pixels the plug-in never wrote can be told apart.
        if (depth == BitDepth::float32) {
            if (const long long unwritten = unwrittenPixels(result.output); unwritten > 0) {
                throw Failure("the render left " + std::to_string(unwritten) + " pixels unwritten");
            }
        }
    }

    Param& findParam(const std::string& name, const std::string& origin) {
        Param* param = fx_->findParam(name);
        if (!param) {
            throw UsageError(origin + ": the plug-in has no parameter \"" + name + "\"");
        }
        return *param;
    }

    // The order a user works in: the pack, which shows its look menu, then the look (or a
    // saved look, which sets both), then the controls in the order given.
    void applyEdits() {
        if (options_.myLook) {
            applyMyLook(*options_.myLook);
        } else {
            userEdit(*fx_, findParam(control::footage, "--pack"), pack_, "--pack");
            userEdit(*fx_, findParam(packLutParam(pack_), "--look"), look_, "--look");
        }
        for (const Edit& edit : options_.edits) {
            // The summary names the pack and look, so they are chosen in one place only.
            bool lookChoice = edit.param == control::footage;
            for (int p = 0; p < packCount(); ++p) {
                lookChoice = lookChoice || edit.param == packLutParam(p);
            }
            if (lookChoice) {
                throw UsageError(edit.origin + ": choose the pack and look with --pack and --look");
            }
            Param& param = findParam(edit.param, edit.origin);
            userEdit(*fx_, param, parseValue(param, edit), edit.origin);
        }
    }

    void applyMyLook(const std::string& name) {
        Param& menu = findParam(control::savedLooks, "--my-look");
        const std::vector<std::string> saved = menu.props.strings(kOfxParamPropChoiceOption);
        int index = -1;
        for (std::size_t i = 0; i < saved.size(); ++i) {
            if (lower(saved[i]) == lower(name)) {
                index = int(i);
            }
        }
        if (index < 0 || saved.empty() || saved[0] == "No saved looks") {
            throw Failure("My Looks has no look \"" + name + "\"" +
                          (saved.empty() || saved[0] == "No saved looks"
                               ? std::string(" (none are saved)")
                               : " (huebench looks lists them)"));
        }
        userEdit(*fx_, menu, index, "--my-look");
        if (fx_->pressButton(control::applyLook) != kOfxStatOK) {
            throw Failure("--my-look: the plug-in did not apply \"" + name + "\"");
        }
        const std::string status = fx_->stringValue(control::myLooksStatus);
        if (status.rfind("Applied", 0) != 0) {
            throw Failure("--my-look \"" + name + "\": " + status);
        }
        pack_ = fx_->intValue(control::footage);
        look_ = fx_->intValue(packLutParam(pack_));
    }

    testhost::TestHost& host_;
    const GradeOptions& options_;
    int pack_;
    int look_;
    testhost::OpenClDevice* device_;
    Instance* fx_ = nullptr;
};

// One frame of the job: where its picture comes from (empty: the chart) and where it goes.
struct Frame {
    long number = 0;
    std::string input;
    std::string output;
};

BitDepth depthOf(SampleType type) {
    return type == SampleType::uint8    ? BitDepth::byte
           : type == SampleType::uint16 ? BitDepth::short16
                                        : BitDepth::float32;
}

SampleType sampleTypeOf(BitDepth depth) {
    return depth == BitDepth::byte      ? SampleType::uint8
           : depth == BitDepth::short16 ? SampleType::uint16
                                        : SampleType::float32;
}

// Grades one frame and writes it; returns its summary line (without the newline).
std::string gradeFrame(Grader& grader, const GradeOptions& options, const Frame& frame,
                       const Grader::Status& status = {}) {
    // The render and the file keep the input's depth unless --depth says otherwise; the
    // chart is rendered in float.
    std::optional<FrameInfo> info;
    if (!frame.input.empty()) {
        try {
            info = probeImage(frame.input);
        } catch (const ImageFileError& e) {
            throw Failure("cannot read the input picture: " + std::string(e.what()));
        }
    }
    const BitDepth depth = grader.floatOnly() ? BitDepth::float32
                           : options.depth    ? *options.depth
                           : info             ? depthOf(info->type)
                                              : BitDepth::float32;
    const SampleType stored = options.depth ? sampleTypeOf(*options.depth)
                              : info        ? info->type
                                            : SampleType::float32;
    Image source;
    try {
        if (status && info) {
            status("reading");
        }
        source = info ? readImage(frame.input, *info, depth) : chartImage(grader.pack(), depth);
    } catch (const ImageFileError& e) {
        throw Failure("cannot read the input picture: " + std::string(e.what()));
    }
    const OfxRectI display = info ? info->display : source.bounds();
    // Colour-space metadata: display Rec.709 once a look is applied; otherwise the camera's
    // encoding passes through unchanged.
    std::string colourSpace = info ? info->colourSpace : std::string();
    if (grader.look() != 0) {
        colourSpace = "Rec709";
    } else if (!info) {
        colourSpace = packEncoding(grader.pack()) == CameraEncoding::AppleLog ? "AppleLog"
                      : packEncoding(grader.pack()) == CameraEncoding::DLog   ? "DLog"
                                                                              : "Rec709";
    }
    long long ms = 0;
    // huebench's own default folder, out/, is made when the first picture goes there, and
    // removed again when that picture fails.
    std::error_code ec;
    const bool madeOut = options.output.empty() && fs::path(frame.output).parent_path() == "out" &&
                         fs::create_directory("out", ec);
    struct RemoveIfEmpty {
        bool active;
        ~RemoveIfEmpty() {
            std::error_code ignored;
            if (active && fs::is_empty("out", ignored)) {
                fs::remove("out", ignored);
            }
        }
    } cleanup{madeOut};
    try {
        FrameWriter writer(frame.output, display, source.bounds(), source.components(), stored,
                           colourSpace);
        ms = grader.render(source, depth, writer, double(frame.number), status);
        writer.commit();
    } catch (const ImageFileError& e) {
        throw Failure(e.what());
    }
    std::ostringstream summary;
    summary << "pack \"" << packLabel(grader.pack()) << "\", " << grader.lookName() << ", "
            << (frame.input.empty() ? std::string("chart") : frame.input) << " " << source.width()
            << "x" << source.height() << " " << depthName(depth) << " on " << grader.renderPath()
            << ", " << ms << " ms -> " << frame.output;
    return summary.str();
}

// Progress of a sequence: a bar redrawn in place on a terminal, a plain line per frame
// otherwise (logs of a render farm).
class Progress {
  public:
    Progress(std::ostream& out, std::size_t total, bool terminal)
        : out_(out), total_(total), terminal_(terminal), start_(std::chrono::steady_clock::now()) {}

    void frameDone(const std::string& summary, bool skipped) {
        ++done_;
        rendered_ += skipped ? 0 : 1;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        const double fps = seconds > 0 && rendered_ > 0 ? double(rendered_) / seconds : 0.0;
        const double left = fps > 0 ? double(total_ - done_) / fps : 0.0;
        std::ostringstream rate;
        rate << std::fixed << std::setprecision(2) << fps << " fps, " << std::setprecision(0)
             << left << " s left";
        if (terminal_) {
            constexpr std::size_t kWidth = 30;
            const std::size_t filled = total_ ? done_ * kWidth / total_ : kWidth;
            out_ << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] "
                 << done_ << "/" << total_ << " frames, " << rate.str() << "   " << std::flush;
            if (done_ == total_) {
                out_ << "\n";
            }
        } else {
            out_ << "frame " << done_ << "/" << total_ << ": " << summary << " (" << rate.str()
                 << ")\n"
                 << std::flush;
        }
    }
    // Ends a bar left unfinished by a failing frame.
    void stop() {
        if (terminal_ && done_ != total_) {
            out_ << "\n";
        }
    }

  private:
    std::ostream& out_;
    std::size_t total_;
    bool terminal_;
    std::chrono::steady_clock::time_point start_;
    std::size_t done_ = 0;
    std::size_t rendered_ = 0;
};

// The frames of the job, checked before anything is loaded.
std::vector<Frame> planFrames(const GradeOptions& options, const std::string& suffix) {
    const std::string output =
        options.output.empty() ? defaultOutput(options, suffix) : options.output;
    if (!knownOutputFormat(output)) {
        throw UsageError("cannot write \"" + output + "\": huebench writes " + outputExtensions() +
                         ", chosen by the output's extension");
    }
    const std::optional<Pattern> in =
        options.input.empty() ? std::nullopt : framePattern(options.input);
    const std::optional<Pattern> out = framePattern(output);
    if (in.has_value() != out.has_value()) {
        throw UsageError(in ? "--output names one picture for the sequence " + options.input +
                                  "; give it a frame number too, as out/shot.%04d.exr"
                            : "--output " + output + " names a sequence; --input names one " +
                                  "picture");
    }
    if (options.frames && !in) {
        throw UsageError("--frames needs an --input sequence, as --input shot.%04d.exr");
    }
    std::vector<Frame> frames;
    if (!in) {
        frames.push_back({0, options.input, output});
    } else {
        std::vector<long> numbers;
        if (options.frames) {
            for (long f = options.frames->first; f <= options.frames->last; ++f) {
                numbers.push_back(f);
            }
        } else {
            numbers = framesOnDisk(*in);
            if (numbers.empty()) {
                throw Failure("no frames of " + options.input + " found");
            }
        }
        for (const long f : numbers) {
            frames.push_back({f, frameName(*in, f), frameName(*out, f)});
        }
    }
    for (const Frame& frame : frames) {
        if (!frame.input.empty() &&
            fs::weakly_canonical(frame.input) == fs::weakly_canonical(frame.output)) {
            throw UsageError("--output " + frame.output + " would overwrite its input");
        }
    }
    // The folder of an output given by the user must exist: huebench creates only files.
    // Its own default folder, out/, it makes.
    const fs::path folder = fs::path(output).parent_path();
    std::error_code ec;
    if (options.output.empty() && folder == "out" && !fs::exists(folder, ec)) {
        // made when the first picture is written (gradeFrame)
    } else if (!folder.empty() && !fs::is_directory(folder, ec)) {
        throw Failure("cannot write " + output + ": the folder " + folder.string() +
                      " does not exist");
    }
    return frames;
}

int runGrade(const GradeOptions& options, std::ostream& out) {
    if (options.everyPack && (options.pack || options.look || options.myLook ||
                              !options.input.empty() || !options.output.empty())) {
        throw UsageError(
            "--every-pack grades the chart once per pack into out/; it takes no "
            "--pack, --look, --my-look, --input or --output");
    }
    if (options.myLook && (options.pack || options.look)) {
        throw UsageError("--my-look sets the pack and look itself; it takes no --pack or --look");
    }
    // Packs and looks are settled from the catalogue before anything is loaded, so a typo
    // costs nothing; without either the tool grades the first look of iPhone Apple Log.
    struct Job {
        int pack;
        int look;
        std::vector<Frame> frames;
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
        jobs.push_back({pack, look, planFrames(options, gradeSuffix(pack, look, options.myLook))});
    }
    const std::string bundle = options.bundle.empty() ? findBundle() : options.bundle;

    // The device is checked before the bundle is loaded: without one nothing is graded (the
    // plug-in's GPU path has no CPU fallback, and a CPU picture is not passed off as GPU).
    const std::unique_ptr<testhost::OpenClDevice> device =
        options.openCL ? openClDevice() : nullptr;
    testhost::HostProfile profile;
    profile.threads = std::max(1u, std::thread::hardware_concurrency());
    std::optional<testhost::TestHost> host;
    try {
        host.emplace(bundle, profile);
        host->setUp(kOfxImageEffectContextFilter);
    } catch (const std::exception& e) {
        throw Failure("cannot load the bundle " + bundle + ": " + e.what());
    }
    for (const Job& job : jobs) {
        Grader grader(*host, options, job.pack, job.look, device.get());
        const bool sequence = !options.input.empty() && framePattern(options.input).has_value();
        if (!sequence) {
            // A large still takes a while: a terminal sees how far it is.
            const Frame& still = job.frames.front();
            Grader::Status status;
            if (::isatty(STDOUT_FILENO) == 1) {
                status = [&out, &still](const std::string& what) {
                    out << "\r\033[K" << (still.input.empty() ? "chart" : still.input) << ": "
                        << what << std::flush;
                };
            }
            std::string summary;
            try {
                summary = gradeFrame(grader, options, still, status);
            } catch (...) {
                if (status) {
                    out << "\r\033[K" << std::flush;
                }
                throw;
            }
            out << (status ? "\r\033[K" : "") << summary << "\n";
            continue;
        }
        Progress progress(out, job.frames.size(), ::isatty(STDOUT_FILENO) == 1);
        for (const Frame& frame : job.frames) {
            std::error_code ec;
            if (options.resume && fs::exists(frame.output, ec)) {
                progress.frameDone("skipped, " + frame.output + " exists", true);
                continue;
            }
            try {
                progress.frameDone(gradeFrame(grader, options, frame), false);
            } catch (const std::exception& e) {
                progress.stop();
                throw Failure("frame " + std::to_string(frame.number) + " (" +
                              (frame.input.empty() ? frame.output : frame.input) +
                              "): " + e.what() + "; the frames before it are written");
            }
        }
    }
    return 0;
}

}  // namespace

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::string slug(const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c)) {
            out += char(std::tolower(c));
        } else if (!out.empty() && out.back() != '-') {
            out += '-';
        }
    }
    while (!out.empty() && out.back() == '-') {
        out.pop_back();
    }
    return out.empty() ? std::string("unnamed") : out;
}

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

int resolveLook(int pack, const std::string& text) {
    const int count = lookOptionCount(pack);
    if (const auto n = wholeNumber(text)) {
        if (*n >= 0 && *n < count) {
            return int(*n);
        }
    }
    for (int option = 0; option < count; ++option) {
        if (lower(text) == lower(lookOptionLabel(pack, option))) {
            return option;
        }
    }
    throw UsageError(
        "pack \"" + packLabel(pack) + "\" has no look \"" + text + "\"; its looks are " +
        (count > 1 ? "1 to " + std::to_string(count - 1) + ", and 0 or None" : "0 (None) only"));
}

bool parseGpu(const std::string& api) {
    if (lower(api) != "opencl") {
        throw UsageError("--gpu takes opencl, not \"" + api + "\"");
    }
    return true;
}

std::unique_ptr<testhost::OpenClDevice> openClDevice() {
    auto device = std::make_unique<testhost::OpenClDevice>();
    if (!device->ok()) {
        throw Failure("--gpu opencl: " + device->error() +
                      "; without --gpu huebench renders on the CPU");
    }
    return device;
}

std::string findBundle() {
    const std::string name = "VandrelHuebench.ofx.bundle";
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        for (const fs::path& dir : {self.parent_path(), self.parent_path().parent_path()}) {
            if (fs::is_directory(dir / name, ec)) {
                return (dir / name).string();
            }
        }
    }
    const fs::path installed = fs::path(VD_OFX_INSTALL_DIR) / name;
    if (fs::is_directory(installed, ec)) {
        return installed.string();
    }
    throw UsageError("no bundle given, and none is installed in " +
                     std::string(VD_OFX_INSTALL_DIR) +
                     " or beside huebench: huebench grade BUNDLE_DIR [options]");
}

void printGradeUsage(std::ostream& out) {
    out << "usage: huebench grade [BUNDLE_DIR] [options]\n"
           "Renders the built-in test chart (or --input) through the plug-in as a host does and\n"
           "writes the graded picture. Without --pack and --look: iPhone Apple Log 01. Without\n"
           "BUNDLE_DIR: the bundle beside huebench, else the installed one.\n"
           "  --pack N|LABEL        pack 0..5 or its label; the chart is recorded in its encoding\n"
           "  --look N|LABEL|None   look option of the pack (0 or None: no look); default 1\n"
           "  --my-look NAME        a look saved in My Looks (sets the pack and look)\n"
           "  --input FILE          grade this picture (EXR, TIFF, DPX, PNG, JPEG ...), taken as\n"
           "                        the pack's camera code values; shot.%04d.exr: a sequence\n"
           "  --output FILE         format by extension: "
        << outputExtensions()
        << "\n"
           "                        default out/chart-<pack>-<look>.png, or out/<input>-<pack>-\n"
           "                        <look> in the input's format; the folder must exist\n"
           "  --frames A-B          frames of a sequence (default: those on disk)\n"
           "  --resume              skip frames whose output exists\n"
           "  --depth 8|16|float    render and file depth; default the input's (chart: float)\n"
           "  --gpu opencl          render through the plug-in's OpenCL path, on the first GPU\n"
           "                        (else any OpenCL device), in float; --depth sets the file's\n"
           "                        depth only. No OpenCL device: an error, no CPU fallback\n"
           "  --every-pack          grade the look (default 1) of each of the five camera packs\n"
           "  --split POSITION      split screen at 0..100 (left original, right graded)\n"
           "  --before-after        show the original picture\n"
           "  --set NAME=VALUE      any parameter by name (colours as R,G,B; switches on/off)\n";
    out << "Controls (a plug-in parameter each, in its units):\n";
    for (const ParamSpec& row : paramTable()) {
        if (row.option.empty()) {
            continue;
        }
        std::string option = "--" + row.option + " VALUE";
        option.resize(std::max<std::size_t>(option.size() + 1, 26), ' ');
        std::ostringstream range;
        if (row.kind == vd::ParamKind::number) {
            const char* unit = row.hostPerEngine == 100.0 ? "%" : "";
            range << ", " << row.min << unit << " to " << row.max << unit << ", default "
                  << row.defaultValue << unit;
        } else if (row.kind == vd::ParamKind::colour) {
            range << ", R,G,B";
        }
        out << "  " << option << row.label << " (" << row.name << range.str() << ")\n";
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
