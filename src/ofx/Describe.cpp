// The describe action (the plug-in's static properties) and the clip definitions.
#include <array>
#include <cstdio>

#include "ofx/Plugin.h"
#include "ofx/Product.h"
#include "ofx/Properties.h"

namespace vd {
namespace {

// The three numbers of a "major.minor.patch" label; a number that does not parse stays 0.
std::array<int, 3> versionNumbers(const char* label) {
    std::array<int, 3> v{0, 0, 0};
    // sscanf stops at the first field that does not match and leaves the rest untouched.
    static_cast<void>(std::sscanf(label, "%d.%d.%d", &v[0], &v[1], &v[2]));
    return v;
}

// Makes sure the suites are there; a describe may come before a successful load.
OfxStatus ensureSuites() {
    const HostSuites s = hostSuites();
    if (s.property && s.effect && s.parameter) {
        return kOfxStatOK;
    }
    return fetchSuites();
}

}  // namespace

OfxStatus describe(OfxImageEffectHandle effect) {
    if (const OfxStatus st = ensureSuites(); st != kOfxStatOK) {
        return st;
    }
    const HostSuites s = hostSuites();
    if (!s.effect->getPropertySet) {
        return kOfxStatFailed;
    }
    OfxPropertySetHandle props = nullptr;
    if (const OfxStatus st = s.effect->getPropertySet(effect, &props); st != kOfxStatOK) {
        return st;
    }
    if (!props) {
        return kOfxStatFailed;
    }
    const OfxPropertySuiteV1* p = s.property;

    static constexpr std::array<const char*, 2> kContexts{kOfxImageEffectContextFilter,
                                                          kOfxImageEffectContextGeneral};
    if (setStrings(p, props, kOfxImageEffectPropSupportedContexts, kContexts,
                   OnIndexFailure::failed) != kOfxStatOK) {
        return kOfxStatFailed;
    }
    static constexpr std::array<const char*, 3> kDepths{kOfxBitDepthByte, kOfxBitDepthShort,
                                                        kOfxBitDepthFloat};
    if (setStrings(p, props, kOfxImageEffectPropSupportedPixelDepths, kDepths,
                   OnIndexFailure::failed) != kOfxStatOK) {
        return kOfxStatFailed;
    }
    setString(p, props, kOfxPropLabel, kProductName);
    // No vector icon (empty first value), then the bitmap icon in the bundle's resources.
    static constexpr std::array<const char*, 2> kIcon{"", kIconFileName};
    setStrings(p, props, kOfxPropIcon, kIcon, OnIndexFailure::stop);
    setString(p, props, kOfxImageEffectPluginPropGrouping, kGrouping);
    setString(p, props, kOfxPropPluginDescription, kDescription);
    setString(p, props, kOfxPropVersionLabel, kVersionLabel);
    const std::array<int, 3> version = versionNumbers(kVersionLabel);
    setInts(p, props, kOfxPropVersion, version, OnIndexFailure::stop);
    setString(p, props, kOfxImageEffectPluginRenderThreadSafety, kOfxImageEffectRenderFullySafe);
    setInt(p, props, kOfxImageEffectPropSupportsTiles, 1);
    setInt(p, props, kOfxImageEffectPropSupportsMultiResolution, 0);
    setInt(p, props, kOfxImageEffectPropTemporalClipAccess, 0);
    setInt(p, props, kOfxImageEffectPluginPropFieldRenderTwiceAlways, 0);
    setInt(p, props, kOfxImageEffectInstancePropSequentialRender, 0);
    setInt(p, props, kOfxImageEffectPropMultipleClipDepths, 0);
    // These GPU and awareness flags are strings holding "true" or "false", not integers.
    setString(p, props, kOfxImageEffectPropNoSpatialAwareness, "false");
    setString(p, props, kOfxImageEffectPropCPURenderSupported, "true");
    setString(p, props, kOfxImageEffectPropMetalRenderSupported, "false");
    setString(p, props, kOfxImageEffectPropCudaRenderSupported, "true");
    setString(p, props, kOfxImageEffectPropCudaStreamSupported, "true");
    setString(p, props, kOfxImageEffectPropOpenCLRenderSupported, "true");
    setString(p, props, kOfxImageEffectPropOpenCLSupported, "false");
    setString(p, props, kOfxImageEffectPropOpenGLRenderSupported, "false");
    return kOfxStatOK;
}

OfxStatus defineClips(OfxImageEffectHandle effect) {
    const HostSuites s = hostSuites();
    if (!s.effect || !s.effect->clipDefine) {
        return kOfxStatFailed;
    }
    static constexpr std::array<const char*, 2> kComponents{kOfxImageComponentRGBA,
                                                            kOfxImageComponentRGB};
    for (const char* name : {kOfxImageEffectOutputClipName, kOfxImageEffectSimpleSourceClipName}) {
        OfxPropertySetHandle clip = nullptr;
        if (const OfxStatus st = s.effect->clipDefine(effect, name, &clip); st != kOfxStatOK) {
            return st;
        }
        if (!clip) {
            return kOfxStatFailed;
        }
        // Only the components: tiles, optional and field extraction keep the host defaults.
        if (setStrings(s.property, clip, kOfxImageEffectPropSupportedComponents, kComponents,
                       OnIndexFailure::failed) != kOfxStatOK) {
            return kOfxStatFailed;
        }
    }
    return kOfxStatOK;
}

}  // namespace vd
