// The render action and the regions-of-interest action: host images and controls in,
// exactly one back end called. No pixel maths here.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "grade/Grade.h"
#include "grade/GradeContext.h"
#include "looks/Catalogue.h"
#include "looks/LutStore.h"
#include "ofx/PendingSteps.h"
#include "ofx/Plugin.h"
#include "ofx/Properties.h"

namespace vd {
namespace {

// An image fetched from a clip, released when the holder goes out of scope.
class HeldImage {
  public:
    HeldImage(const OfxImageEffectSuiteV1* suite, OfxPropertySetHandle image)
        : suite_(suite), image_(image) {}
    ~HeldImage() {
        if (image_ && suite_->clipReleaseImage) {
            suite_->clipReleaseImage(image_);
        }
    }
    HeldImage(const HeldImage&) = delete;
    HeldImage& operator=(const HeldImage&) = delete;
    OfxPropertySetHandle get() const { return image_; }

  private:
    const OfxImageEffectSuiteV1* suite_;
    OfxPropertySetHandle image_;
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

// Reads parameters of one instance at one time through the parameter suite.
struct ParamReader {
    const OfxParameterSuiteV1* suite;
    OfxParamSetHandle set;
    double time;

    OfxParamHandle handle(const char* name) const {
        OfxParamHandle h = nullptr;
        if (!suite->paramGetHandle || suite->paramGetHandle(set, name, &h, nullptr) != kOfxStatOK) {
            return nullptr;
        }
        return h;
    }
    bool number(const char* name, double& out) const {
        const OfxParamHandle h = handle(name);
        double v = 0.0;
        if (!h || !suite->paramGetValueAtTime ||
            suite->paramGetValueAtTime(h, time, &v) != kOfxStatOK) {
            return false;
        }
        out = v;
        return true;
    }
    bool integer(const char* name, int& out) const {
        const OfxParamHandle h = handle(name);
        int v = 0;
        if (!h || !suite->paramGetValueAtTime ||
            suite->paramGetValueAtTime(h, time, &v) != kOfxStatOK) {
            return false;
        }
        out = v;
        return true;
    }
    bool colour(const char* name, std::array<double, 3>& out) const {
        const OfxParamHandle h = handle(name);
        std::array<double, 3> v{};
        if (!h || !suite->paramGetValueAtTime ||
            suite->paramGetValueAtTime(h, time, &v[0], &v[1], &v[2]) != kOfxStatOK) {
            return false;
        }
        out = v;
        return true;
    }
};

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

}  // namespace

OfxStatus renderAction(OfxImageEffectHandle instance, OfxPropertySetHandle inArgs) {
    const HostSuites s = hostSuites();
    if (!s.property || !s.effect || !s.parameter) {
        return kOfxStatErrMissingHostFeature;
    }
    const OfxPropertySuiteV1* p = s.property;

    // 1. Render mode: OpenGL and Metal are not supported.
    if (flagOn(p, inArgs, kOfxImageEffectPropOpenGLEnabled) ||
        flagOn(p, inArgs, kOfxImageEffectPropMetalEnabled)) {
        return kOfxStatGPURenderFailed;
    }
    const bool cuda = flagOn(p, inArgs, kOfxImageEffectPropCudaEnabled);
    const bool openCL = flagOn(p, inArgs, kOfxImageEffectPropOpenCLEnabled);
    // 2. The grade looks at neighbouring pixels, so it cannot run without them.
    if (getString(p, inArgs, kOfxImageEffectPropNoSpatialAwareness) == "true") {
        return kOfxStatErrUnsupported;
    }
    // 3. Time, render window and clips.
    const std::optional<double> time = getDouble(p, inArgs, kOfxPropTime);
    const std::optional<std::array<int, 4>> window =
        getInts4(p, inArgs, kOfxImageEffectPropRenderWindow);
    if (!time || !window || !s.effect->clipGetHandle) {
        return kOfxStatFailed;
    }
    OfxImageClipHandle outputClip = nullptr;
    OfxImageClipHandle sourceClip = nullptr;
    if (s.effect->clipGetHandle(instance, kOfxImageEffectOutputClipName, &outputClip, nullptr) !=
            kOfxStatOK ||
        s.effect->clipGetHandle(instance, kOfxImageEffectSimpleSourceClipName, &sourceClip,
                                nullptr) != kOfxStatOK) {
        return kOfxStatFailed;
    }
    // 4. Images; the source is released before the output (reverse declaration order).
    const HeldImage output(s.effect, fetchImage(s.effect, outputClip, *time));
    if (!output.get()) {
        return kOfxStatFailed;
    }
    const HeldImage source(s.effect, fetchImage(s.effect, sourceClip, *time));
    // 5. Image descriptions.
    ImageView dst;
    ImageView src;
    bool premultiplied = false;
    if (!describeImage(p, output.get(), dst, nullptr)) {
        return kOfxStatErrUnsupported;
    }
    if (source.get() && !describeImage(p, source.get(), src, &premultiplied)) {
        return kOfxStatErrUnsupported;
    }
    const ImageView* srcView = source.get() ? &src : nullptr;
    // 6. Frame rectangle: the output's region of definition when the host gives it.
    PixelRect frame = imageBounds(dst);
    if (const auto rod = getInts4(p, output.get(), kOfxImagePropRegionOfDefinition)) {
        frame = {(*rod)[0], (*rod)[1], (*rod)[2], (*rod)[3]};
    }
    // 7. Controls at the render time; every one of them must be readable.
    OfxParamSetHandle set = nullptr;
    if (!s.effect->getParamSet || s.effect->getParamSet(instance, &set) != kOfxStatOK || !set) {
        return kOfxStatFailed;
    }
    const ParamReader read{s.parameter, set, *time};
    int footage = 0;
    if (!read.integer("footage", footage)) {
        return kOfxStatFailed;
    }
    double exposure = 0, intensity = 0, highlights = 0, shadows = 0, contrast = 0;
    double saturation = 0, temperature = 0, tint = 0, grainAmount = 0, grainSize = 0;
    double halationAmount = 0, halationRadius = 0, bloomAmount = 0, bloomRadius = 0;
    double bloomThreshold = 0, vignetteAmount = 0, vignetteSize = 0, vignetteFeather = 0;
    double borderTop = 0, borderSide = 0;
    const std::array<std::pair<const char*, double*>, 20> controls{{
        {"exposure", &exposure},
        {"intensity", &intensity},
        {"highlights", &highlights},
        {"shadows", &shadows},
        {"contrast", &contrast},
        {"saturation", &saturation},
        {"temperature", &temperature},
        {"tint", &tint},
        {"grainAmount", &grainAmount},
        {"grainSize", &grainSize},
        {"halationAmount", &halationAmount},
        {"halationRadius", &halationRadius},
        {"bloomAmount", &bloomAmount},
        {"bloomRadius", &bloomRadius},
        {"bloomThreshold", &bloomThreshold},
        {"vignetteAmount", &vignetteAmount},
        {"vignetteSize", &vignetteSize},
        {"vignetteFeather", &vignetteFeather},
        {"borderTop", &borderTop},
        {"borderSide", &borderSide},
    }};
    for (const auto& [name, out] : controls) {
        if (!read.number(name, *out)) {
            return kOfxStatFailed;
        }
    }
    std::array<double, 3> border{};
    if (!read.colour("borderColour", border)) {
        return kOfxStatFailed;
    }
    // 8. Pack and look option.
    const int pack = footage >= 0 && footage < packCount() ? footage : 0;
    int option = 0;
    if (!read.integer(packLutParam(pack).c_str(), option)) {
        option = 0;
    }
    // 9. The look: a private copy of its samples for this render. A look that cannot be
    // loaded leaves the picture without it.
    std::vector<float> samples;
    std::uint32_t edge = 0;
    if (pack != 0 && !getLookLut(pack, option, samples, edge)) {
        samples.clear();
        edge = 0;
    }
    // 10. Render scale.
    const double scale = verticalRenderScale(p, inArgs);
    // 11. The settings record.
    GradeSettings g;
    g.exposure = static_cast<float>(exposure);
    g.encoding = packEncoding(pack);
    g.highlights = static_cast<float>(highlights / 100.0);
    g.shadows = static_cast<float>(shadows / 100.0);
    g.premultiplied = srcView ? premultiplied : false;
    g.lutData = samples.empty() ? nullptr : samples.data();
    g.lutEdge = samples.empty() ? 0 : static_cast<std::int32_t>(edge);
    g.intensity = static_cast<float>(intensity / 100.0);
    g.contrast = static_cast<float>(contrast / 100.0);
    g.saturation = static_cast<float>(saturation / 100.0);
    g.temperature = static_cast<float>(temperature / 100.0);
    g.tint = static_cast<float>(tint / 100.0);
    g.grainAmount = static_cast<float>(grainAmount / 100.0);
    g.grainSize = static_cast<float>(grainSize);
    g.halationAmount = static_cast<float>(halationAmount / 100.0);
    g.halationRadius = static_cast<float>(halationRadius);
    g.bloomAmount = static_cast<float>(bloomAmount / 100.0);
    g.bloomRadius = static_cast<float>(bloomRadius);
    g.bloomThreshold = static_cast<float>(bloomThreshold / 100.0);
    g.vignetteAmount = static_cast<float>(vignetteAmount / 100.0);
    g.vignetteSize = static_cast<float>(vignetteSize);
    g.vignetteFeather = static_cast<float>(vignetteFeather);
    g.borderTop = static_cast<float>(borderTop / 100.0);
    g.borderSide = static_cast<float>(borderSide / 100.0);
    for (std::size_t i = 0; i < 3; ++i) {
        g.borderColour[i] = static_cast<float>(border[i]);
    }
    int beforeAfter = 0;
    int splitScreen = 0;
    double splitPosition = 50.0;
    read.integer("beforeAfter", beforeAfter);
    read.integer("splitScreen", splitScreen);
    read.number("splitPosition", splitPosition);
    g.beforeAfter = beforeAfter != 0;
    g.splitScreen = splitScreen != 0;
    g.splitPosition = static_cast<float>(splitPosition / 100.0);
    g.frame = roundToInt(*time);
    g.renderScale = static_cast<float>(scale);
    g.frameHeight = roundToInt((static_cast<double>(frame.y2) - frame.y1) / scale);
    // 12. Threads: the host's pool when it has one.
    unsigned int cpus = 0;
    if (s.multiThread && s.multiThread->multiThreadNumCPUs &&
        s.multiThread->multiThreadNumCPUs(&cpus) == kOfxStatOK && cpus != 0) {
        g.threadCount = static_cast<std::int32_t>(
            std::min<unsigned int>(cpus, std::numeric_limits<std::int32_t>::max()));
        g.multiThread = &hostMultiThread;
        g.multiThreadContext = const_cast<OfxMultiThreadSuiteV1*>(s.multiThread);
    }
    // 13. Exactly one back end. A failed GPU render is reported as such so that the host
    // may render again on the CPU; the plug-in does not fall back by itself.
    const PixelRect renderWindow{(*window)[0], (*window)[1], (*window)[2], (*window)[3]};
    const bool allFloat = dst.depth == kDepthFloat && (!srcView || src.depth == kDepthFloat);
    if (cuda) {
        if (!allFloat) {
            return kOfxStatGPURenderFailed;
        }
        void* stream = getPointer(p, inArgs, kOfxImageEffectPropCudaStream).value_or(nullptr);
        return renderCuda(srcView, dst, renderWindow, frame, g, stream) ? kOfxStatOK
                                                                        : kOfxStatGPURenderFailed;
    }
    if (openCL) {
        if (!allFloat) {
            return kOfxStatGPURenderFailed;
        }
        void* queue =
            getPointer(p, inArgs, kOfxImageEffectPropOpenCLCommandQueue).value_or(nullptr);
        if (!queue) {
            return kOfxStatGPURenderFailed;
        }
        return renderOpenCL(srcView, dst, renderWindow, frame, g, queue) ? kOfxStatOK
                                                                         : kOfxStatGPURenderFailed;
    }
    return renderCpu(srcView, dst, renderWindow, frame, g) ? kOfxStatOK : kOfxStatFailed;
}

OfxStatus regionsOfInterest(OfxImageEffectHandle instance, OfxPropertySetHandle inArgs,
                            OfxPropertySetHandle outArgs) {
    const HostSuites s = hostSuites();
    if (!inArgs || !outArgs || !s.property || !s.effect || !s.parameter) {
        return kOfxStatReplyDefault;
    }
    const OfxPropertySuiteV1* p = s.property;
    const double time = getDouble(p, inArgs, kOfxPropTime).value_or(0.0);
    double halationAmount = 0.0;
    double halationRadius = 1.0;
    double bloomAmount = 0.0;
    double bloomRadius = 1.0;
    OfxParamSetHandle set = nullptr;
    if (s.effect->getParamSet && s.effect->getParamSet(instance, &set) == kOfxStatOK && set) {
        const ParamReader read{s.parameter, set, time};
        read.number("halationAmount", halationAmount);
        read.number("halationRadius", halationRadius);
        read.number("bloomAmount", bloomAmount);
        read.number("bloomRadius", bloomRadius);
    }
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
