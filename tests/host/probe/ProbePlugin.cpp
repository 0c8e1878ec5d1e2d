// A small OpenFX plug-in that exercises the test host's suites, so the host's tests do not
// depend on the real plug-in. What it does is steered by its own parameters:
// - "behaviour" (choice): how render misbehaves: 0 copies the source, 1 keeps the source image,
//   2 writes one byte past the last output row, 3 throws, 4 copies on the host's threads,
//   5 crashes;
// - pressing "bump" adds 1 to "count" and hides "note" (two plug-in edits);
// - pressing "probeThreads" runs multiThread and writes what it saw to "note".
#include <atomic>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <string>

#include "ofx/OfxApi.h"

#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

OfxHost* gHost = nullptr;
const OfxPropertySuiteV1* gProps = nullptr;
const OfxParameterSuiteV1* gParams = nullptr;
const OfxImageEffectSuiteV1* gEffects = nullptr;
const OfxMultiThreadSuiteV1* gThreads = nullptr;

OfxStatus load() {
    if (!gHost || !gHost->fetchSuite) {
        return kOfxStatErrMissingHostFeature;
    }
    gProps = static_cast<const OfxPropertySuiteV1*>(
        gHost->fetchSuite(gHost->host, kOfxPropertySuite, 1));
    gParams = static_cast<const OfxParameterSuiteV1*>(
        gHost->fetchSuite(gHost->host, kOfxParameterSuite, 1));
    gEffects = static_cast<const OfxImageEffectSuiteV1*>(
        gHost->fetchSuite(gHost->host, kOfxImageEffectSuite, 1));
    gThreads = static_cast<const OfxMultiThreadSuiteV1*>(
        gHost->fetchSuite(gHost->host, kOfxMultiThreadSuite, 1));
    return gProps && gParams && gEffects ? kOfxStatOK : kOfxStatErrMissingHostFeature;
}

void setStrings(OfxPropertySetHandle props, const char* name, int count,
                const char* const* values) {
    gProps->propSetStringN(props, name, count, values);
}

OfxStatus describe(OfxImageEffectHandle effect) {
    OfxPropertySetHandle props;
    gEffects->getPropertySet(effect, &props);
    gProps->propSetString(props, kOfxPropLabel, 0, "Host Probe");
    const char* contexts[] = {kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral};
    setStrings(props, kOfxImageEffectPropSupportedContexts, 2, contexts);
    const char* depths[] = {kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthFloat};
    setStrings(props, kOfxImageEffectPropSupportedPixelDepths, 3, depths);
    const int version[] = {1, 2, 3};
    gProps->propSetIntN(props, kOfxPropVersion, 3, version);
    gProps->propSetString(props, kOfxImageEffectPropCudaRenderSupported, 0, "true");
    return kOfxStatOK;
}

OfxPropertySetHandle define(OfxParamSetHandle set, const char* type, const char* name,
                            const char* label) {
    OfxPropertySetHandle props = nullptr;
    if (gParams->paramDefine(set, type, name, &props) != kOfxStatOK) {
        throw std::runtime_error(std::string("cannot define ") + name);
    }
    gProps->propSetString(props, kOfxPropLabel, 0, label);
    return props;
}

OfxStatus describeInContext(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs) {
    char* context = nullptr;
    if (gProps->propGetString(inArgs, kOfxImageEffectPropContext, 0, &context) != kOfxStatOK ||
        (std::strcmp(context, kOfxImageEffectContextFilter) != 0 &&
         std::strcmp(context, kOfxImageEffectContextGeneral) != 0)) {
        return kOfxStatErrUnsupported;
    }
    const char* components[] = {kOfxImageComponentRGBA, kOfxImageComponentRGB};
    for (const char* clip : {kOfxImageEffectOutputClipName, kOfxImageEffectSimpleSourceClipName}) {
        OfxPropertySetHandle props;
        gEffects->clipDefine(effect, clip, &props);
        setStrings(props, kOfxImageEffectPropSupportedComponents, 2, components);
    }
    OfxParamSetHandle set;
    gEffects->getParamSet(effect, &set);
    OfxPropertySetHandle p = define(set, kOfxParamTypeGroup, "controls", "Controls");
    p = define(set, kOfxParamTypeDouble, "amount", "Amount");
    gProps->propSetDouble(p, kOfxParamPropDefault, 0, 0.5);
    gProps->propSetString(p, kOfxParamPropParent, 0, "controls");
    p = define(set, kOfxParamTypeInteger, "count", "Count");
    gProps->propSetInt(p, kOfxParamPropDefault, 0, 2);
    p = define(set, kOfxParamTypeBoolean, "flag", "Flag");
    gProps->propSetInt(p, kOfxParamPropDefault, 0, 1);
    p = define(set, kOfxParamTypeChoice, "mode", "Mode");
    const char* options[] = {"First", "Second", "Third"};
    setStrings(p, kOfxParamPropChoiceOption, 3, options);
    p = define(set, kOfxParamTypeChoice, "behaviour", "Behaviour");
    const char* behaviours[] = {"copy", "keep source", "overrun", "throw", "threads", "crash"};
    setStrings(p, kOfxParamPropChoiceOption, 6, behaviours);
    p = define(set, kOfxParamTypeString, "note", "Note");
    gProps->propSetString(p, kOfxParamPropDefault, 0, "hello");
    define(set, kOfxParamTypePushButton, "bump", "Bump");
    define(set, kOfxParamTypePushButton, "probeThreads", "Probe threads");
    p = define(set, kOfxParamTypePage, "page", "Page");
    const char* children[] = {"controls", "amount", "count"};
    setStrings(p, kOfxParamPropPageChild, 3, children);
    return kOfxStatOK;
}

OfxParamHandle param(OfxImageEffectHandle effect, const char* name,
                     OfxPropertySetHandle* props = nullptr) {
    OfxParamSetHandle set;
    gEffects->getParamSet(effect, &set);
    OfxParamHandle handle = nullptr;
    gParams->paramGetHandle(set, name, &handle, props);
    return handle;
}

int intValue(OfxImageEffectHandle effect, const char* name) {
    int v = 0;
    gParams->paramGetValue(param(effect, name), &v);
    return v;
}

void setNote(OfxImageEffectHandle effect, const std::string& text) {
    gParams->paramSetValue(param(effect, "note"), text.c_str());
}

struct ThreadProbe {
    std::atomic<unsigned> calls{0};
    std::atomic<unsigned> indexSum{0};
    std::atomic<unsigned> spawned{0};
    std::atomic<unsigned> nested{0};
};

void probeThread(unsigned index, unsigned count, void* arg) {
    auto* probe = static_cast<ThreadProbe*>(arg);
    unsigned reported = 99;
    if (gThreads->multiThreadIndex(&reported) == kOfxStatOK && reported == index && index < count) {
        probe->indexSum += index;
    }
    probe->spawned += unsigned(gThreads->multiThreadIsSpawnedThread());
    if (gThreads->multiThread(probeThread, 1, arg) == kOfxStatErrExists) {
        ++probe->nested;
    }
    ++probe->calls;
}

OfxStatus instanceChanged(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs) {
    char* name = nullptr;
    char* reason = nullptr;
    gProps->propGetString(inArgs, kOfxPropName, 0, &name);
    gProps->propGetString(inArgs, kOfxPropChangeReason, 0, &reason);
    if (!name || !reason || std::strcmp(reason, kOfxChangeUserEdited) != 0) {
        return kOfxStatOK;
    }
    if (std::strcmp(name, "bump") == 0) {
        gParams->paramSetValue(param(effect, "count"), intValue(effect, "count") + 1);
        OfxPropertySetHandle noteProps;
        param(effect, "note", &noteProps);
        gProps->propSetInt(noteProps, kOfxParamPropSecret, 0, 1);
    } else if (std::strcmp(name, "probeThreads") == 0) {
        ThreadProbe probe;
        const OfxStatus status = gThreads->multiThread(probeThread, 8, &probe);
        unsigned cpus = 0;
        gThreads->multiThreadNumCPUs(&cpus);
        setNote(effect, "status " + std::to_string(status) + " calls " +
                            std::to_string(probe.calls.load()) + " indexSum " +
                            std::to_string(probe.indexSum.load()) + " spawned " +
                            std::to_string(probe.spawned.load()) + " nested " +
                            std::to_string(probe.nested.load()) + " cpus " + std::to_string(cpus) +
                            " main " + std::to_string(gThreads->multiThreadIsSpawnedThread()));
    }
    return kOfxStatOK;
}

// ---- Render: a copy of the source through the host's memory layout --------------------------

struct View {
    unsigned char* data = nullptr;
    int rowBytes = 0;
    OfxRectI bounds{};
    int components = 0;
    int sampleBytes = 0;
};

bool describeImage(OfxPropertySetHandle image, View& view) {
    char* depth = nullptr;
    char* components = nullptr;
    void* data = nullptr;
    if (gProps->propGetString(image, kOfxImageEffectPropPixelDepth, 0, &depth) != kOfxStatOK ||
        gProps->propGetString(image, kOfxImageEffectPropComponents, 0, &components) != kOfxStatOK ||
        gProps->propGetPointer(image, kOfxImagePropData, 0, &data) != kOfxStatOK ||
        gProps->propGetIntN(image, kOfxImagePropBounds, 4, &view.bounds.x1) != kOfxStatOK ||
        gProps->propGetInt(image, kOfxImagePropRowBytes, 0, &view.rowBytes) != kOfxStatOK) {
        return false;
    }
    view.data = static_cast<unsigned char*>(data);
    view.components = std::strcmp(components, kOfxImageComponentRGBA) == 0 ? 4 : 3;
    view.sampleBytes = std::strcmp(depth, kOfxBitDepthByte) == 0    ? 1
                       : std::strcmp(depth, kOfxBitDepthShort) == 0 ? 2
                                                                    : 4;
    return true;
}

unsigned char* pixel(const View& v, int x, int y) {
    return v.data + std::ptrdiff_t(y - v.bounds.y1) * v.rowBytes +
           std::ptrdiff_t(x - v.bounds.x1) * v.components * v.sampleBytes;
}

struct CopyJob {
    View source;
    View output;
    OfxRectI window;
    bool hasSource;
};

void copyRows(const CopyJob& job, int y1, int y2) {
    const int bytes = job.output.components * job.output.sampleBytes;
    for (int y = y1; y < y2; ++y) {
        for (int x = job.window.x1; x < job.window.x2; ++x) {
            if (job.hasSource) {
                std::memcpy(pixel(job.output, x, y), pixel(job.source, x, y), std::size_t(bytes));
            } else {
                std::memset(pixel(job.output, x, y), 0, std::size_t(bytes));
            }
        }
    }
}

void copySlice(unsigned index, unsigned count, void* arg) {
    const auto& job = *static_cast<const CopyJob*>(arg);
    const int height = job.window.y2 - job.window.y1;
    copyRows(job, job.window.y1 + int(index) * height / int(count),
             job.window.y1 + int(index + 1) * height / int(count));
}

OfxStatus render(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs) {
    const int behaviour = intValue(effect, "behaviour");
    if (behaviour == 3) {
        throw std::runtime_error("the probe throws on request");
    }
    if (behaviour == 5) {
        std::raise(SIGSEGV);
    }
    double time = 0;
    gProps->propGetDouble(inArgs, kOfxPropTime, 0, &time);
    CopyJob job{};
    gProps->propGetIntN(inArgs, kOfxImageEffectPropRenderWindow, 4, &job.window.x1);

    OfxImageClipHandle sourceClip, outputClip;
    gEffects->clipGetHandle(effect, kOfxImageEffectSimpleSourceClipName, &sourceClip, nullptr);
    gEffects->clipGetHandle(effect, kOfxImageEffectOutputClipName, &outputClip, nullptr);
    OfxPropertySetHandle source = nullptr, output = nullptr;
    if (gEffects->clipGetImage(outputClip, time, nullptr, &output) != kOfxStatOK) {
        return kOfxStatFailed;
    }
    job.hasSource = gEffects->clipGetImage(sourceClip, time, nullptr, &source) == kOfxStatOK;
    if (!describeImage(output, job.output) ||
        (job.hasSource && !describeImage(source, job.source))) {
        return kOfxStatErrUnsupported;
    }
    if (behaviour == 4 && gThreads) {
        gThreads->multiThread(copySlice, 0, &job);
    } else {
        copyRows(job, job.window.y1, job.window.y2);
    }
    if (behaviour == 2) {
        const int bytes = job.output.components * job.output.sampleBytes;
        *(pixel(job.output, job.output.bounds.x2 - 1, job.output.bounds.y1) + bytes) = 0;
    }
    if (job.hasSource && behaviour != 1) {
        gEffects->clipReleaseImage(source);
    }
    gEffects->clipReleaseImage(output);
    return kOfxStatOK;
}

OfxStatus mainEntry(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                    OfxPropertySetHandle) {
    auto effect = static_cast<OfxImageEffectHandle>(const_cast<void*>(handle));
    if (std::strcmp(action, kOfxActionLoad) == 0) {
        return load();
    }
    if (std::strcmp(action, kOfxActionDescribe) == 0) {
        return describe(effect);
    }
    if (std::strcmp(action, kOfxImageEffectActionDescribeInContext) == 0) {
        return describeInContext(effect, inArgs);
    }
    if (std::strcmp(action, kOfxActionCreateInstance) == 0 ||
        std::strcmp(action, kOfxActionDestroyInstance) == 0 ||
        std::strcmp(action, kOfxActionUnload) == 0) {
        return kOfxStatOK;
    }
    if (std::strcmp(action, kOfxActionInstanceChanged) == 0) {
        return instanceChanged(effect, inArgs);
    }
    if (std::strcmp(action, kOfxImageEffectActionRender) == 0) {
        return render(effect, inArgs);
    }
    return kOfxStatReplyDefault;
}

void setHost(OfxHost* host) {
    gHost = host;
}

OfxPlugin gPlugin = {
    kOfxImageEffectPluginApi, 1, "com.vandrel.HostProbe", 1, 2, setHost, mainEntry};

}  // namespace

PROBE_EXPORT int OfxGetNumberOfPlugins() {
    return 1;
}
PROBE_EXPORT OfxPlugin* OfxGetPlugin(int index) {
    return index == 0 ? &gPlugin : nullptr;
}
PROBE_EXPORT OfxStatus OfxSetHost(const OfxHost* host) {
    gHost = const_cast<OfxHost*>(host);
    return kOfxStatOK;
}
