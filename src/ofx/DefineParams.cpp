// Describe-in-context: the context check, the clips and the parameter set.
#include <cstring>
#include <string>
#include <vector>

#include "ofx/ParamTable.h"
#include "ofx/Plugin.h"
#include "ofx/Product.h"
#include "ofx/Properties.h"

namespace vd {
namespace {

struct Definer {
    const OfxPropertySuiteV1* p;
    const OfxParameterSuiteV1* params;
    OfxParamSetHandle set;
};

const char* paramType(ParamKind kind) {
    switch (kind) {
        case ParamKind::group:
            return kOfxParamTypeGroup;
        case ParamKind::choice:
            return kOfxParamTypeChoice;
        case ParamKind::number:
            return kOfxParamTypeDouble;
        case ParamKind::text:
            return kOfxParamTypeString;
        case ParamKind::toggle:
            return kOfxParamTypeBoolean;
        case ParamKind::colour:
            return kOfxParamTypeRGB;
        case ParamKind::button:
            return kOfxParamTypePushButton;
    }
    return kOfxParamTypeDouble;
}

std::vector<const char*> cStrings(const std::vector<std::string>& values) {
    std::vector<const char*> out;
    out.reserve(values.size());
    for (const std::string& v : values) {
        out.push_back(v.c_str());
    }
    return out;
}

void setOptional(const Definer& d, OfxPropertySetHandle props, const char* name,
                 const std::optional<bool>& flag) {
    if (flag) {
        setInt(d.p, props, name, *flag ? 1 : 0);
    }
}

void setHint(const Definer& d, OfxPropertySetHandle props, const ParamSpec& spec) {
    if (spec.hint) {
        setString(d.p, props, kOfxParamPropHint, spec.hint->c_str());
    }
}

void setParent(const Definer& d, OfxPropertySetHandle props, const ParamSpec& spec) {
    if (!spec.parent.empty()) {
        setString(d.p, props, kOfxParamPropParent, spec.parent.c_str());
    }
}

// Sets the properties of one defined parameter. The results of individual sets are not
// checked: a host that refuses one keeps its default for it.
void setProperties(const Definer& d, OfxPropertySetHandle props, const ParamSpec& spec) {
    setString(d.p, props, kOfxPropLabel, spec.label.c_str());
    switch (spec.kind) {
        case ParamKind::group:
            setInt(d.p, props, kOfxParamPropGroupOpen, spec.groupOpen ? 1 : 0);
            return;
        case ParamKind::choice: {
            setHint(d, props, spec);
            const std::vector<const char*> options = cStrings(spec.options);
            setStrings(d.p, props, kOfxParamPropChoiceOption, options, OnIndexFailure::stop);
            // The order pins each option to its number, so saved projects load by index even
            // after a label changes. Hosts without propSetIntN get no order at all.
            if (d.p->propSetIntN) {
                std::vector<int> order(spec.options.size());
                for (std::size_t i = 0; i < order.size(); ++i) {
                    order[i] = static_cast<int>(i);
                }
                d.p->propSetIntN(props, kOfxParamPropChoiceOrder, static_cast<int>(order.size()),
                                 order.data());
            }
            setInt(d.p, props, kOfxParamPropDefault, static_cast<int>(spec.defaultValue));
            setOptional(d, props, kOfxParamPropSecret, spec.secret);
            setInt(d.p, props, kOfxParamPropAnimates, 0);
            setOptional(d, props, kOfxParamPropEvaluateOnChange, spec.evaluateOnChange);
            setParent(d, props, spec);
            return;
        }
        case ParamKind::number:
            setHint(d, props, spec);
            setString(d.p, props, kOfxParamPropDoubleType, kOfxParamDoubleTypePlain);
            setDouble(d.p, props, kOfxParamPropDefault, spec.defaultValue);
            setDouble(d.p, props, kOfxParamPropMin, spec.min);
            setDouble(d.p, props, kOfxParamPropMax, spec.max);
            setDouble(d.p, props, kOfxParamPropDisplayMin, spec.displayMin);
            setDouble(d.p, props, kOfxParamPropDisplayMax, spec.displayMax);
            setDouble(d.p, props, kOfxParamPropIncrement, spec.increment);
            setInt(d.p, props, kOfxParamPropDigits, spec.digits);
            setInt(d.p, props, kOfxParamPropAnimates, 1);
            setParent(d, props, spec);
            return;
        case ParamKind::text:
            setHint(d, props, spec);
            setString(d.p, props, kOfxParamPropDefault, spec.defaultText.c_str());
            setString(d.p, props, kOfxParamPropStringMode,
                      spec.labelMode ? kOfxParamStringIsLabel : kOfxParamStringIsSingleLine);
            setOptional(d, props, kOfxParamPropEnabled, spec.enabled);
            setInt(d.p, props, kOfxParamPropAnimates, 0);
            setInt(d.p, props, kOfxParamPropEvaluateOnChange, 0);
            setOptional(d, props, kOfxParamPropSecret, spec.secret);
            setParent(d, props, spec);
            return;
        case ParamKind::toggle:
            setHint(d, props, spec);
            setInt(d.p, props, kOfxParamPropDefault, static_cast<int>(spec.defaultValue));
            setInt(d.p, props, kOfxParamPropAnimates, 0);
            setOptional(d, props, kOfxParamPropSecret, spec.secret);
            setOptional(d, props, kOfxParamPropEvaluateOnChange, spec.evaluateOnChange);
            setParent(d, props, spec);
            return;
        case ParamKind::colour:
            setHint(d, props, spec);
            for (int i = 0; i < 3; ++i) {
                setDouble(d.p, props, kOfxParamPropDefault,
                          spec.defaultColour[static_cast<std::size_t>(i)], i);
            }
            setInt(d.p, props, kOfxParamPropAnimates, 1);
            setParent(d, props, spec);
            return;
        case ParamKind::button:
            setHint(d, props, spec);
            setInt(d.p, props, kOfxParamPropAnimates, 0);
            setInt(d.p, props, kOfxParamPropEvaluateOnChange, 0);
            setOptional(d, props, kOfxParamPropSecret, spec.secret);
            setOptional(d, props, kOfxParamPropEnabled, spec.enabled);
            setParent(d, props, spec);
            return;
    }
}

// Hides a number and stops it animating through its handle, as a later visibility rule
// will show it again.
void freezeAndHide(const Definer& d, const ParamSpec& spec) {
    if (!d.params->paramGetHandle) {
        return;
    }
    OfxParamHandle handle = nullptr;
    OfxPropertySetHandle props = nullptr;
    if (d.params->paramGetHandle(d.set, spec.name.c_str(), &handle, &props) != kOfxStatOK) {
        return;
    }
    if (!props && handle && d.params->paramGetPropertySet) {
        d.params->paramGetPropertySet(handle, &props);
    }
    setInt(d.p, props, kOfxParamPropAnimates, 0);
    setInt(d.p, props, kOfxParamPropSecret, 1);
}

// Defines one parameter. False when the host refused it (an error status or no property
// set), or when a choice has no options to offer.
bool define(const Definer& d, const ParamSpec& spec) {
    if (spec.kind == ParamKind::choice && spec.options.empty()) {
        return false;
    }
    OfxPropertySetHandle props = nullptr;
    if (d.params->paramDefine(d.set, paramType(spec.kind), spec.name.c_str(), &props) !=
            kOfxStatOK ||
        !props) {
        return false;
    }
    setProperties(d, props, spec);
    if (spec.frozenAndHidden) {
        freezeAndHide(d, spec);
    }
    return true;
}

void definePage(const Definer& d, const std::vector<std::string>& children) {
    OfxPropertySetHandle props = nullptr;
    if (d.params->paramDefine(d.set, kOfxParamTypePage, kPageName, &props) != kOfxStatOK ||
        !props) {
        return;  // the controls still exist; the host lays them out itself
    }
    setString(d.p, props, kOfxPropLabel, kProductName);
    const std::vector<const char*> names = cStrings(children);
    setStrings(d.p, props, kOfxParamPropPageChild, names, OnIndexFailure::stop);
}

bool supportedContext(const std::optional<std::string>& context) {
    return context &&
           (*context == kOfxImageEffectContextFilter || *context == kOfxImageEffectContextGeneral);
}

}  // namespace

OfxStatus describeInContext(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs) {
    HostSuites s = hostSuites();
    if (!s.property || !s.effect || !s.parameter) {
        if (const OfxStatus st = fetchSuites(); st != kOfxStatOK) {
            return st;
        }
        s = hostSuites();
    }
    if (!inArgs || !supportedContext(getString(s.property, inArgs, kOfxImageEffectPropContext))) {
        return kOfxStatErrUnsupported;
    }
    if (const OfxStatus st = defineClips(effect); st != kOfxStatOK) {
        return st;
    }
    OfxParamSetHandle set = nullptr;
    if (!s.effect->getParamSet || s.effect->getParamSet(effect, &set) != kOfxStatOK || !set ||
        !s.parameter->paramDefine) {
        return kOfxStatFailed;
    }
    const Definer d{s.property, s.parameter, set};

    // Page children are the parameters that really exist, in page order, so a host never
    // meets a child it was not given.
    const std::vector<ParamSpec>& table = paramTable();
    std::vector<bool> defined(table.size(), false);
    for (const bool lastPass : {false, true}) {
        for (std::size_t i = 0; i < table.size(); ++i) {
            const ParamSpec& spec = table[i];
            if (spec.definedLast != lastPass) {
                continue;
            }
            defined[i] = define(d, spec);
            if (!defined[i] && spec.onFailure == OnDefineFailure::endAction) {
                return kOfxStatFailed;
            }
        }
    }
    std::vector<std::string> children;
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (defined[i]) {
            children.push_back(table[i].name);
        }
    }
    definePage(d, children);
    return kOfxStatOK;
}

}  // namespace vd
