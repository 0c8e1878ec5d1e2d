// The render action and the regions-of-interest action: host images and controls in,
// exactly one back end called. No pixel maths here.
//
// A render runs in three stages: gather (render mode, time, window, clips, images, frame
// rectangle, render scale), read (every control through the control table into a fresh
// GradeSettings, and the look from the LUT store), and dispatch (exactly one back end:
// CUDA, OpenCL or the CPU driver).
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "controls/Controls.h"
#include "grade/Grade.h"
#include "looks/Catalogue.h"
#include "looks/LutStore.h"
#include "ofx/ParamAccess.h"
#include "ofx/PendingSteps.h"
#include "ofx/Plugin.h"
#include "ofx/Properties.h"
#include "support/Support.h"

namespace vd {
namespace {

// An image fetched from a clip, released when the holder goes out of scope.
class HeldImage {
  public:
    HeldImage() = default;
    ~HeldImage() {
        if (image_ && suite_->clipReleaseImage) {
            suite_->clipReleaseImage(image_);
        }
    }
    HeldImage(const HeldImage&) = delete;
    HeldImage& operator=(const HeldImage&) = delete;
    // Takes an image to release later; only called on an empty holder.
    void hold(const OfxImageEffectSuiteV1* suite, OfxPropertySetHandle image) {
        suite_ = suite;
        image_ = image;
    }
    OfxPropertySetHandle get() const { return image_; }

  private:
    const OfxImageEffectSuiteV1* suite_ = nullptr;
    OfxPropertySetHandle image_ = nullptr;
};

OfxPropertySetHandle fetchImage(const OfxImageEffectSuiteV1* effect, OfxImageClipHandle clip,
                                double time) {
    OfxPropertySetHandle image = nullptr;
    if (!clip || !effect->clipGetImage ||
        effect->clipGetImage(clip, time, nullptr, &image) != kOfxStatOK) {
        return nullptr;
    }
    return image;
}

std::optional<std::array<int, 4>> getInts4(const OfxPropertySuiteV1* p, OfxPropertySetHandle props,
                                           const char* name) {
    std::array<int, 4> v{};
    for (int i = 0; i < 4; ++i) {
        const std::optional<int> value = getInt(p, props, name, i);
        if (!value) {
            return std::nullopt;
        }
        v[static_cast<std::size_t>(i)] = *value;
    }
    return v;
}

// Fills a view from an image's properties. Leaves the view untouched and returns false for
// an unknown depth or layout, or without data, bounds or row bytes.
bool describeImage(const OfxPropertySuiteV1* p, OfxPropertySetHandle image, ImageView& view,
                   bool* premultiplied) {
    const std::optional<std::string> depthName = getString(p, image, kOfxImageEffectPropPixelDepth);
    int depth = -1;
    if (depthName == kOfxBitDepthByte) {
        depth = kDepthByte;
    } else if (depthName == kOfxBitDepthShort) {
        depth = kDepthShort;
    } else if (depthName == kOfxBitDepthFloat) {
        depth = kDepthFloat;
    } else {
        return false;
    }
    const std::optional<std::string> layout = getString(p, image, kOfxImageEffectPropComponents);
    int components = 0;
    if (layout == kOfxImageComponentRGBA) {
        components = 4;
    } else if (layout == kOfxImageComponentRGB) {
        components = 3;
    } else {
        return false;
    }
    const std::optional<void*> data = getPointer(p, image, kOfxImagePropData);
    const std::optional<std::array<int, 4>> bounds = getInts4(p, image, kOfxImagePropBounds);
    const std::optional<int> rowBytes = getInt(p, image, kOfxImagePropRowBytes);
    if (!data || !*data || !bounds || !rowBytes || *rowBytes == 0) {
        return false;
    }
    view.data = *data;
    view.rowBytes = *rowBytes;
    view.x1 = (*bounds)[0];
    view.y1 = (*bounds)[1];
    view.x2 = (*bounds)[2];
    view.y2 = (*bounds)[3];
    view.components = components;
    view.depth = depth;
    if (premultiplied) {
        *premultiplied =
            getString(p, image, kOfxImageEffectPropPreMultiplication) == kOfxImagePreMultiplied;
    }
    return true;
}

// Rounds halves away from zero into int range; a non-finite value becomes 0.
std::int32_t roundToInt(double v) {
    if (!std::isfinite(v)) {
        return 0;
    }
    const double limit = static_cast<double>(std::numeric_limits<std::int32_t>::max());
    return static_cast<std::int32_t>(std::round(std::clamp(v, -limit, limit)));
}

double verticalRenderScale(const OfxPropertySuiteV1* p, OfxPropertySetHandle inArgs) {
    const double s = getDouble(p, inArgs, kOfxImageEffectPropRenderScale, 1).value_or(1.0);
    return s > 0.0 ? s : 1.0;  // NaN fails the test too
}

struct HostWork {
    GradeWorker worker;
    void* arg;
};

void hostThread(unsigned int threadIndex, unsigned int threadMax, void* customArg) {
    const auto* work = static_cast<const HostWork*>(customArg);
    work->worker(work->arg, static_cast<int>(threadIndex), static_cast<int>(threadMax));
}

// The engine's thread-pool entry backed by the host's multi-thread suite. When the host
// cannot run the work, it runs once on the calling thread, so it is always done.
void hostMultiThread(void* context, int threadCount, GradeWorker worker, void* arg) {
    const auto* suite = static_cast<const OfxMultiThreadSuiteV1*>(context);
    HostWork work{worker, arg};
    if (suite && suite->multiThread && threadCount > 0 &&
        suite->multiThread(&hostThread, static_cast<unsigned int>(threadCount), &work) ==
            kOfxStatOK) {
        return;
    }
    worker(arg, 0, 1);
}

bool flagOn(const OfxPropertySuiteV1* p, OfxPropertySetHandle inArgs, const char* name) {
    return getInt(p, inArgs, name).value_or(0) != 0;
}

// ---- Gather -------------------------------------------------------------------------

// Everything the render takes from the host before it reads a control. Images are
// released when it goes out of scope, the source before the output.
struct Gathered {
    bool cuda = false;
    bool openCL = false;
    double time = 0.0;
    PixelRect window{};
    PixelRect frame{};
    double scale = 1.0;
    HeldImage output;
    HeldImage source;
    ImageView dst;
    ImageView src;
    bool premultiplied = false;

    const ImageView* srcView() const { return source.get() ? &src : nullptr; }
};

// The render mode: OpenGL and Metal are not supported, and the grade looks at neighbouring
// pixels, so it cannot run without them.
OfxStatus readRenderMode(const OfxPropertySuiteV1* p, OfxPropertySetHandle inArgs, Gathered& g) {
    if (flagOn(p, inArgs, kOfxImageEffectPropOpenGLEnabled) ||
        flagOn(p, inArgs, kOfxImageEffectPropMetalEnabled)) {
        return kOfxStatGPURenderFailed;
    }
    g.cuda = flagOn(p, inArgs, kOfxImageEffectPropCudaEnabled);
    g.openCL = flagOn(p, inArgs, kOfxImageEffectPropOpenCLEnabled);
    if (getString(p, inArgs, kOfxImageEffectPropNoSpatialAwareness) == "true") {
        return kOfxStatErrUnsupported;
    }
    return kOfxStatOK;
}

// Output and source images at the render time and their descriptions. No source image is
// not an error: the render then has no source.
OfxStatus gatherImages(const HostSuites& s, OfxImageEffectHandle instance, Gathered& g) {
    OfxImageClipHandle outputClip = nullptr;
    OfxImageClipHandle sourceClip = nullptr;
    if (!s.effect->clipGetHandle ||
        s.effect->clipGetHandle(instance, kOfxImageEffectOutputClipName, &outputClip, nullptr) !=
            kOfxStatOK ||
        s.effect->clipGetHandle(instance, kOfxImageEffectSimpleSourceClipName, &sourceClip,
                                nullptr) != kOfxStatOK) {
        return kOfxStatFailed;
    }
    g.output.hold(s.effect, fetchImage(s.effect, outputClip, g.time));
    if (!g.output.get()) {
        return kOfxStatFailed;
    }
    g.source.hold(s.effect, fetchImage(s.effect, sourceClip, g.time));
    if (!describeImage(s.property, g.output.get(), g.dst, nullptr)) {
        return kOfxStatErrUnsupported;
    }
    if (g.source.get() && !describeImage(s.property, g.source.get(), g.src, &g.premultiplied)) {
        return kOfxStatErrUnsupported;
    }
    return kOfxStatOK;
}

OfxStatus gather(const HostSuites& s, OfxImageEffectHandle instance, OfxPropertySetHandle inArgs,
                 Gathered& g) {
    const OfxPropertySuiteV1* p = s.property;
    if (const OfxStatus st = readRenderMode(p, inArgs, g); st != kOfxStatOK) {
        return st;
    }
    const std::optional<double> time = getDouble(p, inArgs, kOfxPropTime);
    const std::optional<std::array<int, 4>> window =
        getInts4(p, inArgs, kOfxImageEffectPropRenderWindow);
    if (!time || !window) {
        return kOfxStatFailed;
    }
    g.time = *time;
    g.window = {(*window)[0], (*window)[1], (*window)[2], (*window)[3]};
    if (const OfxStatus st = gatherImages(s, instance, g); st != kOfxStatOK) {
        return st;
    }
    // The frame rectangle: the output's region of definition when the host gives it.
    g.frame = imageBounds(g.dst);
    if (const auto rod = getInts4(p, g.output.get(), kOfxImagePropRegionOfDefinition)) {
        g.frame = {(*rod)[0], (*rod)[1], (*rod)[2], (*rod)[3]};
    }
    g.scale = verticalRenderScale(p, inArgs);
    return kOfxStatOK;
}

// ---- Read -----------------------------------------------------------------------------

// A look's samples, owned by the render for its length, and what became of the look.
struct LookForRender {
    std::shared_ptr<const SharedLook> look;  // the store's, shared read-only; null: none
    std::string status;                      // the value of kLookStatusProperty
};

// Logs a failure once per look and reason for the life of the process.
void logLookFailure(const std::string& reason) {
    // Never freed, like every other process-wide object: a render may still run while the
    // process runs its exit-time destructors.
    static auto* const mutex = new std::mutex();
    static auto* const logged = new std::set<std::string>();
    {
        const std::lock_guard<std::mutex> lock(*mutex);
        if (logged->size() >= 256 || !logged->insert(reason).second) {
            return;
        }
    }
    debugLog("look not applied: " + reason);
}

// The look of the pack's menu, as the store shares it. A look that cannot be
// loaded leaves the picture without it and leaves its reason in the status.
void readLook(const ParamAccess& params, double time, int pack, LookForRender& look) {
    const int option = getIntParamAt(params, packLutParam(pack).c_str(), time).value_or(0);
    if (pack == 0) {
        look.status = "none";
        return;
    }
    std::string reason;
    if (!getSharedLook(pack, option, look.look, &reason)) {
        look.look.reset();
        logLookFailure(reason);
        look.status = "failed: " + reason;
        return;
    }
    look.status = look.look && !look.look->cube.samples.empty() ? "applied" : "none";
}

// Reads one control of the table into the record. False when a required control cannot
// be read; an optional one then keeps the record's fresh value.
bool readControl(const ParamAccess& params, double time, const ParamSpec& row, GradeSettings& g) {
    const char* name = row.name.c_str();
    bool ok = true;
    if (row.engineNumber) {
        const std::optional<double> v = getDoubleParamAt(params, name, time);
        ok = v.has_value();
        if (ok) {
            g.*row.engineNumber = static_cast<float>(*v / row.hostPerEngine);
        }
    } else if (row.engineSwitch) {
        const std::optional<int> v = getIntParamAt(params, name, time);
        ok = v.has_value();
        if (ok) {
            g.*row.engineSwitch = *v != 0;
        }
    } else if (row.engineColour) {
        const std::optional<std::array<double, 3>> v = getRgbParamAt(params, name, time);
        ok = v.has_value();
        for (std::size_t i = 0; ok && i < 3; ++i) {
            g.borderColour[i] = static_cast<float>((*v)[i] / row.hostPerEngine);
        }
    }
    return ok || row.renderRead != RenderRead::required;
}

// Threads: the host's pool when it has one.
void useHostThreads(const HostSuites& s, GradeSettings& g) {
    unsigned int cpus = 0;
    if (s.multiThread && s.multiThread->multiThreadNumCPUs &&
        s.multiThread->multiThreadNumCPUs(&cpus) == kOfxStatOK && cpus != 0) {
        g.threadCount = static_cast<std::int32_t>(
            std::min<unsigned int>(cpus, std::numeric_limits<std::int32_t>::max()));
        g.multiThread = &hostMultiThread;
        g.multiThreadContext = const_cast<OfxMultiThreadSuiteV1*>(s.multiThread);
    }
}

// Fills a fresh record from the controls at the render time, the look and the gathered
// frame. Every required control must be readable.
OfxStatus readSettings(const HostSuites& s, OfxImageEffectHandle instance, const Gathered& f,
                       GradeSettings& g, LookForRender& look) {
    const std::optional<ParamAccess> params = paramAccess(instance);
    if (!params) {
        return kOfxStatFailed;
    }
    const std::optional<int> footage = getIntParamAt(*params, control::footage, f.time);
    if (!footage) {
        return kOfxStatFailed;
    }
    for (const ParamSpec& row : paramTable()) {
        if (row.renderRead == RenderRead::required && !readControl(*params, f.time, row, g)) {
            return kOfxStatFailed;
        }
    }
    const int pack = *footage >= 0 && *footage < packCount() ? *footage : 0;
    readLook(*params, f.time, pack, look);
    for (const ParamSpec& row : paramTable()) {
        if (row.renderRead == RenderRead::optional) {
            readControl(*params, f.time, row, g);
        }
    }
    g.encoding = packEncoding(pack);
    g.premultiplied = f.srcView() ? f.premultiplied : false;
    if (look.look && !look.look->cube.samples.empty()) {
        g.lutData = look.look->cube.samples.data();
        g.lutPacked = look.look->packed.data();
        g.lutEdge = static_cast<std::int32_t>(look.look->cube.edge);
    }
    g.frame = roundToInt(f.time);
    g.renderScale = static_cast<float>(f.scale);
    g.frameHeight = roundToInt((static_cast<double>(f.frame.y2) - f.frame.y1) / f.scale);
    useHostThreads(s, g);
    return kOfxStatOK;
}

// Leaves whether this render applied its look on the instance, for the command line and
// tests. A host that refuses an unknown property loses nothing else.
void reportLookStatus(const HostSuites& s, OfxImageEffectHandle instance,
                      const std::string& status) {
    OfxPropertySetHandle props = nullptr;
    if (s.effect->getPropertySet && s.effect->getPropertySet(instance, &props) == kOfxStatOK &&
        props) {
        setString(s.property, props, kLookStatusProperty, status.c_str());
    }
}

// ---- Dispatch -------------------------------------------------------------------------

// Each instance's CPU render buffers, kept between its renders and released when it is
// destroyed. Never freed, like the other process-wide lists; the mutex is held only for
// a lookup or an update.
struct ScratchList {
    std::mutex mutex;
    std::vector<std::pair<OfxImageEffectHandle, std::shared_ptr<RenderScratch>>> entries;
};
ScratchList& scratchList() {
    static ScratchList* const list = new ScratchList();
    return *list;
}

// The instance's scratch, made on its first render; null for a null handle.
std::shared_ptr<RenderScratch> instanceScratch(OfxImageEffectHandle instance) {
    if (!instance) {
        return nullptr;
    }
    ScratchList& list = scratchList();
    const std::lock_guard lock(list.mutex);
    for (const auto& [owner, scratch] : list.entries) {
        if (owner == instance) {
            return scratch;
        }
    }
    list.entries.emplace_back(instance, std::make_shared<RenderScratch>());
    return list.entries.back().second;
}

// A CPU render on the instance's scratch; a render that finds it in use by another render
// of the same instance takes buffers of its own.
bool renderCpuOn(OfxImageEffectHandle instance, const Gathered& f, const GradeSettings& g) {
    const std::shared_ptr<RenderScratch> scratch = instanceScratch(instance);
    std::unique_lock<std::mutex> held;
    if (scratch) {
        held = std::unique_lock<std::mutex>(scratch->inUse(), std::try_to_lock);
    }
    return renderCpu(f.srcView(), f.dst, f.window, f.frame, g,
                     held.owns_lock() ? scratch.get() : nullptr);
}

// Exactly one back end. A failed GPU render is reported as such so that the host may
// render again on the CPU; the plug-in does not fall back by itself.
OfxStatus dispatch(OfxImageEffectHandle instance, const OfxPropertySuiteV1* p,
                   OfxPropertySetHandle inArgs, const Gathered& f, const GradeSettings& g) {
    const ImageView* src = f.srcView();
    const bool allFloat = f.dst.depth == kDepthFloat && (!src || src->depth == kDepthFloat);
    if (f.cuda) {
        if (!allFloat) {
            return kOfxStatGPURenderFailed;
        }
        void* stream = getPointer(p, inArgs, kOfxImageEffectPropCudaStream).value_or(nullptr);
        return renderCuda(src, f.dst, f.window, f.frame, g, stream) ? kOfxStatOK
                                                                    : kOfxStatGPURenderFailed;
    }
    if (f.openCL) {
        if (!allFloat) {
            return kOfxStatGPURenderFailed;
        }
        void* queue =
            getPointer(p, inArgs, kOfxImageEffectPropOpenCLCommandQueue).value_or(nullptr);
        if (!queue) {
            return kOfxStatGPURenderFailed;
        }
        return renderOpenCL(src, f.dst, f.window, f.frame, g, queue) ? kOfxStatOK
                                                                     : kOfxStatGPURenderFailed;
    }
    return renderCpuOn(instance, f, g) ? kOfxStatOK : kOfxStatFailed;
}

}  // namespace

OfxStatus renderAction(OfxImageEffectHandle instance, OfxPropertySetHandle inArgs) {
    const HostSuites s = hostSuites();
    if (!s.property || !s.effect || !s.parameter) {
        return kOfxStatErrMissingHostFeature;
    }
    Gathered frame;
    if (const OfxStatus st = gather(s, instance, inArgs, frame); st != kOfxStatOK) {
        return st;
    }
    GradeSettings settings;
    LookForRender look;
    if (const OfxStatus st = readSettings(s, instance, frame, settings, look); st != kOfxStatOK) {
        return st;
    }
    reportLookStatus(s, instance, look.status);
    return dispatch(instance, s.property, inArgs, frame, settings);
}

void releaseRenderScratch(OfxImageEffectHandle instance) {
    std::shared_ptr<RenderScratch> dropped;  // freed after the lock, or by a render in flight
    ScratchList& list = scratchList();
    const std::lock_guard lock(list.mutex);
    for (auto& entry : list.entries) {
        if (entry.first == instance) {
            dropped = std::move(entry.second);
        }
    }
    std::erase_if(list.entries, [&](const auto& e) { return e.first == instance; });
}

OfxStatus regionsOfInterest(OfxImageEffectHandle instance, OfxPropertySetHandle inArgs,
                            OfxPropertySetHandle outArgs) {
    const HostSuites s = hostSuites();
    if (!inArgs || !outArgs || !s.property || !s.effect || !s.parameter) {
        return kOfxStatReplyDefault;
    }
    const OfxPropertySuiteV1* p = s.property;
    const double time = getDouble(p, inArgs, kOfxPropTime).value_or(0.0);
    const std::optional<ParamAccess> params = paramAccess(instance);
    // A failed read keeps the control's default.
    const auto read = [&](const char* name) {
        const std::optional<double> v =
            params ? getDoubleParamAt(*params, name, time) : std::nullopt;
        return v.value_or(defaultOf(name));
    };
    const double halationAmount = read(control::halationAmount);
    const double halationRadius = read(control::halationRadius);
    const double bloomAmount = read(control::bloomAmount);
    const double bloomRadius = read(control::bloomRadius);
    if (!(halationAmount > 0.0) && !(bloomAmount > 0.0)) {
        return kOfxStatReplyDefault;
    }
    std::array<double, 4> roi{};
    for (int i = 0; i < 4; ++i) {
        const std::optional<double> v =
            getDouble(p, inArgs, kOfxImageEffectPropRegionOfInterest, i);
        if (!v) {
            return kOfxStatReplyDefault;
        }
        roi[static_cast<std::size_t>(i)] = *v;
    }
    const double scale = verticalRenderScale(p, inArgs);
    double height = 1080.0;
    OfxImageClipHandle source = nullptr;
    OfxRectD rod{};
    if (s.effect->clipGetHandle && s.effect->clipGetRegionOfDefinition &&
        s.effect->clipGetHandle(instance, kOfxImageEffectSimpleSourceClipName, &source, nullptr) ==
            kOfxStatOK &&
        source && s.effect->clipGetRegionOfDefinition(source, time, &rod) == kOfxStatOK &&
        rod.y2 - rod.y1 > 1.0) {
        height = rod.y2 - rod.y1;
    }
    // How far the halation and bloom passes read around a pixel, in pixels of the render.
    // Their blurs and downsampled levels reach beyond the bare radius; asking for less would
    // leave a tile's effects short of source and show seams between tiles.
    const float pixels = static_cast<float>(
        sourceReachPixels(static_cast<float>(halationAmount), static_cast<float>(halationRadius),
                          static_cast<float>(bloomAmount), static_cast<float>(bloomRadius),
                          static_cast<float>(height), static_cast<float>(scale)));
    const double grow = static_cast<double>(pixels) / scale;
    const std::array<double, 4> grown{roi[0] - grow, roi[1] - grow, roi[2] + grow, roi[3] + grow};
    const std::string name =
        std::string(kOfxImageClipPropRoI) + kOfxImageEffectSimpleSourceClipName;
    setDoubles(p, outArgs, name.c_str(), grown, OnIndexFailure::stop);
    return kOfxStatOK;
}

}  // namespace vd
