#include "ofx/ParamAccess.h"

#include "ofx/Plugin.h"
#include "ofx/Properties.h"

namespace vd {

std::optional<ParamAccess> paramAccess(OfxImageEffectHandle instance) {
    const HostSuites s = hostSuites();
    if (!instance || !s.effect || !s.parameter || !s.effect->getParamSet) {
        return std::nullopt;
    }
    ParamAccess p;
    p.param = s.parameter;
    p.property = s.property;
    if (s.effect->getParamSet(instance, &p.set) != kOfxStatOK || !p.set) {
        return std::nullopt;
    }
    return p;
}

OfxParamHandle paramHandle(const ParamAccess& p, const char* name) {
    OfxParamHandle handle = nullptr;
    if (!p.param->paramGetHandle ||
        p.param->paramGetHandle(p.set, name, &handle, nullptr) != kOfxStatOK) {
        return nullptr;
    }
    return handle;
}

OfxPropertySetHandle paramProperties(const ParamAccess& p, const char* name) {
    const OfxParamHandle handle = paramHandle(p, name);
    OfxPropertySetHandle props = nullptr;
    if (!handle || !p.param->paramGetPropertySet ||
        p.param->paramGetPropertySet(handle, &props) != kOfxStatOK) {
        return nullptr;
    }
    return props;
}

namespace {

// The handle of a parameter whose value can be read, or null.
OfxParamHandle readable(const ParamAccess& p, const char* name) {
    return p.param->paramGetValue ? paramHandle(p, name) : nullptr;
}

OfxParamHandle readableAtTime(const ParamAccess& p, const char* name) {
    return p.param->paramGetValueAtTime ? paramHandle(p, name) : nullptr;
}

OfxParamHandle writable(const ParamAccess& p, const char* name) {
    return p.param->paramSetValue ? paramHandle(p, name) : nullptr;
}

}  // namespace

std::optional<int> getIntParam(const ParamAccess& p, const char* name) {
    const OfxParamHandle h = readable(p, name);
    int v = 0;
    if (!h || p.param->paramGetValue(h, &v) != kOfxStatOK) {
        return std::nullopt;
    }
    return v;
}

std::optional<double> getDoubleParam(const ParamAccess& p, const char* name) {
    const OfxParamHandle h = readable(p, name);
    double v = 0;
    if (!h || p.param->paramGetValue(h, &v) != kOfxStatOK) {
        return std::nullopt;
    }
    return v;
}

std::optional<std::array<double, 3>> getRgbParam(const ParamAccess& p, const char* name) {
    const OfxParamHandle h = readable(p, name);
    std::array<double, 3> v{};
    if (!h || p.param->paramGetValue(h, &v[0], &v[1], &v[2]) != kOfxStatOK) {
        return std::nullopt;
    }
    return v;
}

std::optional<std::string> getStringParam(const ParamAccess& p, const char* name) {
    const OfxParamHandle h = readable(p, name);
    const char* v = nullptr;
    if (!h || p.param->paramGetValue(h, &v) != kOfxStatOK) {
        return std::nullopt;
    }
    return std::string(v ? v : "");
}

std::optional<int> getIntParamAt(const ParamAccess& p, const char* name, double time) {
    const OfxParamHandle h = readableAtTime(p, name);
    int v = 0;
    if (!h || p.param->paramGetValueAtTime(h, time, &v) != kOfxStatOK) {
        return std::nullopt;
    }
    return v;
}

std::optional<double> getDoubleParamAt(const ParamAccess& p, const char* name, double time) {
    const OfxParamHandle h = readableAtTime(p, name);
    double v = 0;
    if (!h || p.param->paramGetValueAtTime(h, time, &v) != kOfxStatOK) {
        return std::nullopt;
    }
    return v;
}

std::optional<std::array<double, 3>> getRgbParamAt(const ParamAccess& p, const char* name,
                                                   double time) {
    const OfxParamHandle h = readableAtTime(p, name);
    std::array<double, 3> v{};
    if (!h || p.param->paramGetValueAtTime(h, time, &v[0], &v[1], &v[2]) != kOfxStatOK) {
        return std::nullopt;
    }
    return v;
}

void setIntIfChanged(const ParamAccess& p, const char* name, int value) {
    if (getIntParam(p, name) == value) {
        return;
    }
    if (const OfxParamHandle h = writable(p, name)) {
        p.param->paramSetValue(h, value);
    }
}

void setDoubleIfChanged(const ParamAccess& p, const char* name, double value) {
    if (getDoubleParam(p, name) == value) {
        return;
    }
    if (const OfxParamHandle h = writable(p, name)) {
        p.param->paramSetValue(h, value);
    }
}

void setRgbIfChanged(const ParamAccess& p, const char* name, const std::array<double, 3>& value) {
    if (getRgbParam(p, name) == value) {
        return;
    }
    if (const OfxParamHandle h = writable(p, name)) {
        p.param->paramSetValue(h, value[0], value[1], value[2]);
    }
}

void setStringIfChanged(const ParamAccess& p, const char* name, const char* value) {
    if (!value || getStringParam(p, name) == value) {
        return;
    }
    if (const OfxParamHandle h = writable(p, name)) {
        p.param->paramSetValue(h, value);
    }
}

void setSecretIfChanged(const ParamAccess& p, const char* name, bool secret) {
    const OfxPropertySetHandle props = paramProperties(p, name);
    if (!props) {
        return;
    }
    const int wanted = secret ? 1 : 0;
    if (getInt(p.property, props, kOfxParamPropSecret) == wanted) {
        return;
    }
    setInt(p.property, props, kOfxParamPropSecret, wanted);
}

ParamEditBlock::ParamEditBlock(const ParamAccess& p, const char* name) : p_(p) {
    if (p_.param->paramEditBegin) {
        p_.param->paramEditBegin(p_.set, name);
        open_ = true;
    }
}

ParamEditBlock::~ParamEditBlock() {
    if (open_ && p_.param->paramEditEnd) {
        p_.param->paramEditEnd(p_.set);
    }
}

}  // namespace vd
