// The properties the test host gives each object before the plug-in sees it, with the
// defaults the OpenFX programming reference lists for them.
#include <cfloat>
#include <climits>
#include <cstring>

#include "HostInternal.h"

namespace vd::testhost {

void defineHostProperties(PropertySet& p, const HostProfile& profile) {
    p.defineString(kOfxPropType, {kOfxTypeImageEffectHost}, 1);
    p.defineString(kOfxPropName, {profile.hostName}, 1);
    p.defineString(kOfxPropLabel, {"Vandrel Huebench test host"}, 1);
    p.defineInt(kOfxPropVersion, {1, 0, 0});
    p.defineString(kOfxPropVersionLabel, {"1.0.0"}, 1);
    p.defineInt(kOfxPropAPIVersion, {1, 4});
    p.definePointer(kOfxPropHostOSHandle, {nullptr}, 1);
    p.defineInt("OfxImageEffectHostPropIsBackground", {0}, 1);
    p.defineInt("OfxImageEffectPropSupportsOverlays", {0}, 1);
    p.defineInt(kOfxImageEffectPropSupportsMultiResolution, {1}, 1);
    p.defineInt(kOfxImageEffectPropSupportsTiles, {1}, 1);
    p.defineInt(kOfxImageEffectPropTemporalClipAccess, {1}, 1);
    p.defineInt(kOfxImageEffectPropMultipleClipDepths, {0}, 1);
    p.defineInt("OfxImageEffectPropSupportsMultipleClipPARs", {0}, 1);
    p.defineInt("OfxImageEffectPropSetableFrameRate", {0}, 1);
    p.defineInt("OfxImageEffectPropSetableFielding", {0}, 1);
    p.defineString(kOfxImageEffectPropSupportedComponents,
                   {kOfxImageComponentRGBA, kOfxImageComponentRGB, kOfxImageComponentAlpha});
    p.defineString(kOfxImageEffectPropSupportedContexts,
                   {kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral});
    p.defineString(kOfxImageEffectPropSupportedPixelDepths,
                   {kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthFloat});
    p.defineInt("OfxParamHostPropSupportsCustomInteract", {0}, 1);
    p.defineInt("OfxParamHostPropSupportsStringAnimation", {0}, 1);
    p.defineInt("OfxParamHostPropSupportsChoiceAnimation", {0}, 1);
    p.defineInt("OfxParamHostPropSupportsBooleanAnimation", {0}, 1);
    p.defineInt("OfxParamHostPropSupportsCustomAnimation", {0}, 1);
    p.defineInt("OfxParamHostPropMaxParameters", {-1}, 1);
    p.defineInt("OfxParamHostPropMaxPages", {0}, 1);
    p.defineInt("OfxParamHostPropPageRowColumnCount", {0, 0}, 2);
    p.defineString(kOfxImageEffectPropOpenCLRenderSupported, {"true"}, 1);
    p.defineString(kOfxImageEffectPropCudaRenderSupported, {"true"}, 1);
    p.defineString(kOfxImageEffectPropCudaStreamSupported, {"true"}, 1);
    p.defineString(kOfxImageEffectPropOpenGLRenderSupported, {"false"}, 1);
    p.defineString(kOfxImageEffectPropMetalRenderSupported, {"false"}, 1);
    p.defineString("VandrelHuebenchTestUpdateService",
                   {profile.updateService, profile.updateCaFile}, 2);
    p.defineInt("VandrelHuebenchTestUpdateTimeScale", {profile.updateTimeScale}, 1);
}

void defineEffectDescriptorProperties(PropertySet& p, const std::string& bundlePath) {
    p.defineString(kOfxPropType, {kOfxTypeImageEffect}, 1);
    p.defineString(kOfxPropLabel, {""}, 1);
    p.defineString(kOfxPropShortLabel, {""}, 1);
    p.defineString(kOfxPropLongLabel, {""}, 1);
    p.defineInt(kOfxPropVersion, {0});
    p.defineString(kOfxPropVersionLabel, {""}, 1);
    p.defineString(kOfxPropPluginDescription, {""}, 1);
    p.defineString(kOfxPropIcon, {"", ""}, 2);
    p.defineString(kOfxImageEffectPropSupportedContexts, {});
    p.defineString(kOfxImageEffectPropSupportedPixelDepths, {});
    p.defineString(kOfxImageEffectPluginPropGrouping, {""}, 1);
    p.defineInt("OfxImageEffectPluginPropSingleInstance", {0}, 1);
    p.defineString(kOfxImageEffectPluginRenderThreadSafety, {kOfxImageEffectRenderInstanceSafe}, 1);
    p.defineInt("OfxImageEffectPluginPropHostFrameThreading", {1}, 1);
    p.definePointer("OfxImageEffectPluginPropOverlayInteractV1", {nullptr}, 1);
    p.defineInt(kOfxImageEffectPropSupportsMultiResolution, {1}, 1);
    p.defineInt(kOfxImageEffectPropSupportsTiles, {1}, 1);
    p.defineInt(kOfxImageEffectPropTemporalClipAccess, {0}, 1);
    p.defineInt(kOfxImageEffectPluginPropFieldRenderTwiceAlways, {1}, 1);
    p.defineInt(kOfxImageEffectPropMultipleClipDepths, {0}, 1);
    p.defineInt("OfxImageEffectPropSupportsMultipleClipPARs", {0}, 1);
    p.defineInt(kOfxImageEffectInstancePropSequentialRender, {0}, 1);
    p.defineString("OfxImageEffectPluginPropFilePath", {bundlePath}, 1);
    // The render-mode flags are strings holding "true" or "false".
    p.defineString(kOfxImageEffectPropNoSpatialAwareness, {"false"}, 1);
    p.defineString(kOfxImageEffectPropCPURenderSupported, {"true"}, 1);
    p.defineString(kOfxImageEffectPropOpenGLRenderSupported, {"false"}, 1);
    p.defineString(kOfxImageEffectPropMetalRenderSupported, {"false"}, 1);
    p.defineString(kOfxImageEffectPropCudaRenderSupported, {"false"}, 1);
    p.defineString(kOfxImageEffectPropCudaStreamSupported, {"false"}, 1);
    p.defineString(kOfxImageEffectPropOpenCLRenderSupported, {"false"}, 1);
    p.defineString(kOfxImageEffectPropOpenCLSupported, {"false"}, 1);
}

void defineInstanceProperties(PropertySet& p, const std::string& context) {
    p.defineString(kOfxPropType, {kOfxTypeImageEffectInstance}, 1);
    p.defineString(kOfxImageEffectPropContext, {context}, 1);
    p.definePointer(kOfxPropInstanceData, {nullptr}, 1);
    p.defineDouble("OfxImageEffectPropProjectSize", {1920.0, 1080.0}, 2);
    p.defineDouble("OfxImageEffectPropProjectOffset", {0.0, 0.0}, 2);
    p.defineDouble("OfxImageEffectPropProjectExtent", {1920.0, 1080.0}, 2);
    p.defineDouble("OfxImageEffectPropProjectPixelAspectRatio", {1.0}, 1);
    p.defineDouble("OfxImageEffectInstancePropEffectDuration", {100.0}, 1);
    p.defineDouble("OfxImageEffectPropFrameRate", {24.0}, 1);
    p.defineInt(kOfxPropIsInteractive, {1}, 1);
}

void defineParamProperties(Param& param) {
    PropertySet& p = param.props;
    const std::string& name = param.name;
    p.defineString(kOfxPropType, {kOfxTypeParameter}, 1);
    p.defineString(kOfxPropName, {name}, 1);
    p.defineString(kOfxPropLabel, {name}, 1);
    p.defineString(kOfxPropShortLabel, {name}, 1);
    p.defineString(kOfxPropLongLabel, {name}, 1);
    p.defineString(kOfxParamPropType, {param.type}, 1);
    p.defineInt(kOfxParamPropSecret, {0}, 1);
    p.defineString(kOfxParamPropHint, {""}, 1);
    p.defineString(kOfxParamPropScriptName, {name}, 1);
    p.defineString(kOfxParamPropParent, {""}, 1);
    p.defineInt(kOfxParamPropEnabled, {1}, 1);
    p.definePointer("OfxParamPropDataPtr", {nullptr}, 1);
    p.defineString(kOfxPropIcon, {"", ""}, 2);
    if (hasValue(param.kind)) {
        p.defineInt(kOfxParamPropAnimates, {1}, 1);
        p.defineInt("OfxParamPropIsAnimating", {0}, 1);
        p.defineInt("OfxParamPropIsAutoKeying", {0}, 1);
        p.defineInt(kOfxParamPropPersistant, {1}, 1);
        p.defineInt(kOfxParamPropEvaluateOnChange, {1}, 1);
        p.defineInt("OfxParamPropPluginMayWrite", {0}, 1);
        p.defineInt(kOfxParamPropCanUndo, {1}, 1);
        p.defineString("OfxParamPropCacheInvalidation", {"OfxParamInvalidateValueChange"}, 1);
    }
    switch (param.kind) {
        case ParamKind::integer:
            p.defineInt(kOfxParamPropDefault, {0}, 1);
            p.defineInt(kOfxParamPropMin, {INT_MIN}, 1);
            p.defineInt(kOfxParamPropMax, {INT_MAX}, 1);
            p.defineInt(kOfxParamPropDisplayMin, {INT_MIN}, 1);
            p.defineInt(kOfxParamPropDisplayMax, {INT_MAX}, 1);
            break;
        case ParamKind::real:
            p.defineDouble(kOfxParamPropDefault, {0.0}, 1);
            p.defineDouble(kOfxParamPropMin, {-DBL_MAX}, 1);
            p.defineDouble(kOfxParamPropMax, {DBL_MAX}, 1);
            p.defineDouble(kOfxParamPropDisplayMin, {-DBL_MAX}, 1);
            p.defineDouble(kOfxParamPropDisplayMax, {DBL_MAX}, 1);
            p.defineDouble(kOfxParamPropIncrement, {1.0}, 1);
            p.defineInt(kOfxParamPropDigits, {2}, 1);
            p.defineString(kOfxParamPropDoubleType, {kOfxParamDoubleTypePlain}, 1);
            p.defineInt("OfxParamPropShowTimeMarker", {0}, 1);
            break;
        case ParamKind::boolean:
            p.defineInt(kOfxParamPropDefault, {0}, 1);
            break;
        case ParamKind::choice:
            p.defineInt(kOfxParamPropDefault, {0}, 1);
            p.defineString(kOfxParamPropChoiceOption, {});
            p.defineInt(kOfxParamPropChoiceOrder, {});
            break;
        case ParamKind::rgb:
            p.defineDouble(kOfxParamPropDefault, {0.0, 0.0, 0.0}, 3);
            p.defineDouble(kOfxParamPropMin, {-DBL_MAX, -DBL_MAX, -DBL_MAX}, 3);
            p.defineDouble(kOfxParamPropMax, {DBL_MAX, DBL_MAX, DBL_MAX}, 3);
            p.defineDouble(kOfxParamPropDisplayMin, {0.0, 0.0, 0.0}, 3);
            p.defineDouble(kOfxParamPropDisplayMax, {1.0, 1.0, 1.0}, 3);
            break;
        case ParamKind::string:
            p.defineString(kOfxParamPropDefault, {""}, 1);
            p.defineString(kOfxParamPropStringMode, {kOfxParamStringIsSingleLine}, 1);
            p.defineInt("OfxParamPropStringFilePathExists", {1}, 1);
            break;
        case ParamKind::group:
            p.defineInt(kOfxParamPropGroupOpen, {1}, 1);
            break;
        case ParamKind::page:
            p.defineString(kOfxParamPropPageChild, {});
            break;
        case ParamKind::pushButton:
            break;
    }
}

void defineClipDescriptorProperties(PropertySet& p, const std::string& name) {
    p.defineString(kOfxPropType, {kOfxTypeClip}, 1);
    p.defineString(kOfxPropName, {name}, 1);
    p.defineString(kOfxPropLabel, {name}, 1);
    p.defineString(kOfxPropShortLabel, {name}, 1);
    p.defineString(kOfxPropLongLabel, {name}, 1);
    p.defineString(kOfxImageEffectPropSupportedComponents, {});
    p.defineInt(kOfxImageEffectPropTemporalClipAccess, {0}, 1);
    p.defineInt(kOfxImageClipPropOptional, {0}, 1);
    p.defineString("OfxImageClipPropFieldExtraction", {"OfxImageFieldDoubled"}, 1);
    p.defineInt("OfxImageClipPropIsMask", {0}, 1);
    p.defineInt(kOfxImageEffectPropSupportsTiles, {1}, 1);
}

void defineClipInstanceProperties(PropertySet& p) {
    p.defineString(kOfxImageEffectPropPixelDepth, {kOfxBitDepthFloat}, 1);
    p.defineString(kOfxImageEffectPropComponents, {kOfxImageComponentRGBA}, 1);
    p.defineString(kOfxImageClipPropUnmappedPixelDepth, {kOfxBitDepthFloat}, 1);
    p.defineString(kOfxImageClipPropUnmappedComponents, {kOfxImageComponentRGBA}, 1);
    p.defineString(kOfxImageEffectPropPreMultiplication, {kOfxImageUnPreMultiplied}, 1);
    p.defineDouble(kOfxImagePropPixelAspectRatio, {1.0}, 1);
    p.defineDouble("OfxImageEffectPropFrameRate", {24.0}, 1);
    p.defineDouble(kOfxImageEffectPropFrameRange, {0.0, 100.0}, 2);
    p.defineString("OfxImageClipPropFieldOrder", {"OfxFieldNone"}, 1);
    p.defineInt(kOfxImageClipPropConnected, {1}, 1);
    p.defineDouble("OfxImageEffectPropUnmappedFrameRange", {0.0, 100.0}, 2);
    p.defineDouble("OfxImageEffectPropUnmappedFrameRate", {24.0}, 1);
    p.defineInt("OfxImageClipPropContinuousSamples", {0}, 1);
}

std::size_t valueWidth(ParamKind kind) {
    switch (kind) {
        case ParamKind::integer:
        case ParamKind::real:
        case ParamKind::boolean:
        case ParamKind::choice:
            return 1;
        case ParamKind::rgb:
            return 3;
        case ParamKind::string:
        case ParamKind::pushButton:
        case ParamKind::group:
        case ParamKind::page:
            return 0;
    }
    return 0;
}

bool hasValue(ParamKind kind) {
    return kind != ParamKind::pushButton && kind != ParamKind::group && kind != ParamKind::page;
}

bool isIntegerKind(ParamKind kind) {
    return kind == ParamKind::integer || kind == ParamKind::boolean || kind == ParamKind::choice;
}

bool kindFromType(const char* type, ParamKind& kind) {
    static const struct {
        const char* type;
        ParamKind kind;
    } table[] = {
        {kOfxParamTypeInteger, ParamKind::integer},
        {kOfxParamTypeDouble, ParamKind::real},
        {kOfxParamTypeBoolean, ParamKind::boolean},
        {kOfxParamTypeChoice, ParamKind::choice},
        {kOfxParamTypeRGB, ParamKind::rgb},
        {kOfxParamTypeString, ParamKind::string},
        {kOfxParamTypePushButton, ParamKind::pushButton},
        {kOfxParamTypeGroup, ParamKind::group},
        {kOfxParamTypePage, ParamKind::page},
    };
    if (!type) {
        return false;
    }
    for (const auto& row : table) {
        if (std::strcmp(row.type, type) == 0) {
            kind = row.kind;
            return true;
        }
    }
    return false;
}

}  // namespace vd::testhost
