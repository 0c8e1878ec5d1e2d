// Describe-in-context: the context check, the clips and the parameter set.
#include <cstring>
#include <string>
#include <vector>

#include "controls/Controls.h"
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

void setHint(const Definer& d, OfxPropertySetHandle props, const ParamSpec& row) {
    if (row.hint) {
        setString(d.p, props, kOfxParamPropHint, row.hint->c_str());
    }
}

void setParent(const Definer& d, OfxPropertySetHandle props, const ParamSpec& row) {
    if (!row.parent.empty()) {
        setString(d.p, props, kOfxParamPropParent, row.parent.c_str());
    }
}

// "Vandrel Huebench v0.9.9", built once per process and never freed.
const std::string& pluginVersionText() {
    static const std::string* const text =
        new std::string(std::string(kProductName) + " v" + kVersionLabel);
    return *text;
}

void setChoiceProperties(const Definer& d, OfxPropertySetHandle props, const ParamSpec& row) {
    setHint(d, props, row);
    const std::vector<const char*> options = cStrings(row.options);
    setStrings(d.p, props, kOfxParamPropChoiceOption, options, OnIndexFailure::stop);
    // The order pins each option to its number, so saved projects load by index even after
    // a label changes. Hosts without propSetIntN get no order at all.
    if (d.p->propSetIntN) {
        std::vector<int> order(row.options.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i] = static_cast<int>(i);
        }
        d.p->propSetIntN(props, kOfxParamPropChoiceOrder, static_cast<int>(order.size()),
                         order.data());
    }
    setInt(d.p, props, kOfxParamPropDefault, static_cast<int>(row.defaultValue));
    setOptional(d, props, kOfxParamPropSecret, row.secret);
    setInt(d.p, props, kOfxParamPropAnimates, 0);
    setOptional(d, props, kOfxParamPropEvaluateOnChange, row.evaluateOnChange);
    setParent(d, props, row);
}

void setNumberProperties(const Definer& d, OfxPropertySetHandle props, const ParamSpec& row) {
    setHint(d, props, row);
    setString(d.p, props, kOfxParamPropDoubleType, kOfxParamDoubleTypePlain);
    setDouble(d.p, props, kOfxParamPropDefault, row.defaultValue);
    setDouble(d.p, props, kOfxParamPropMin, row.min);
    setDouble(d.p, props, kOfxParamPropMax, row.max);
    setDouble(d.p, props, kOfxParamPropDisplayMin, row.displayMin);
    setDouble(d.p, props, kOfxParamPropDisplayMax, row.displayMax);
    setDouble(d.p, props, kOfxParamPropIncrement, row.increment);
    setInt(d.p, props, kOfxParamPropDigits, row.digits);
    setInt(d.p, props, kOfxParamPropAnimates, 1);
    setParent(d, props, row);
}

// Sets the properties of one defined parameter. The results of individual sets are not
// checked: a host that refuses one keeps its default for it.
void setProperties(const Definer& d, OfxPropertySetHandle props, const ParamSpec& row) {
    setString(d.p, props, kOfxPropLabel, row.label.c_str());
    switch (row.kind) {
        case ParamKind::group:
            setInt(d.p, props, kOfxParamPropGroupOpen, row.groupOpen ? 1 : 0);
            return;
        case ParamKind::choice:
            setChoiceProperties(d, props, row);
            return;
        case ParamKind::number:
            setNumberProperties(d, props, row);
            return;
        case ParamKind::text:
            setHint(d, props, row);
            setString(d.p, props, kOfxParamPropDefault,
                      row.name == control::pluginVersion ? pluginVersionText().c_str()
                                                         : row.defaultText.c_str());
            setString(d.p, props, kOfxParamPropStringMode,
                      row.labelMode ? kOfxParamStringIsLabel : kOfxParamStringIsSingleLine);
            setOptional(d, props, kOfxParamPropEnabled, row.enabled);
            setInt(d.p, props, kOfxParamPropAnimates, 0);
            setInt(d.p, props, kOfxParamPropEvaluateOnChange, 0);
            setOptional(d, props, kOfxParamPropSecret, row.secret);
            setParent(d, props, row);
            return;
        case ParamKind::toggle:
            setHint(d, props, row);
            setInt(d.p, props, kOfxParamPropDefault, static_cast<int>(row.defaultValue));
            setInt(d.p, props, kOfxParamPropAnimates, 0);
            setOptional(d, props, kOfxParamPropSecret, row.secret);
            setOptional(d, props, kOfxParamPropEvaluateOnChange, row.evaluateOnChange);
            setParent(d, props, row);
            return;
        case ParamKind::colour:
            setHint(d, props, row);
            for (int i = 0; i < 3; ++i) {
                setDouble(d.p, props, kOfxParamPropDefault,
                          row.defaultColour[static_cast<std::size_t>(i)], i);
            }
            setInt(d.p, props, kOfxParamPropAnimates, 1);
            setParent(d, props, row);
            return;
        case ParamKind::button:
            setHint(d, props, row);
            setInt(d.p, props, kOfxParamPropAnimates, 0);
            setInt(d.p, props, kOfxParamPropEvaluateOnChange, 0);
            setOptional(d, props, kOfxParamPropSecret, row.secret);
            setOptional(d, props, kOfxParamPropEnabled, row.enabled);
            setParent(d, props, row);
            return;
    }
}

// Hides a number and stops it animating through its handle, as a later visibility rule
// will show it again.
void freezeAndHide(const Definer& d, const ParamSpec& row) {
    if (!d.params->paramGetHandle) {
        return;
    }
    OfxParamHandle handle = nullptr;
    OfxPropertySetHandle props = nullptr;
    if (d.params->paramGetHandle(d.set, row.name.c_str(), &handle, &props) != kOfxStatOK) {
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
bool define(const Definer& d, const ParamSpec& row) {
    if (row.kind == ParamKind::choice && row.options.empty()) {
        return false;
    }
    OfxPropertySetHandle props = nullptr;
    if (d.params->paramDefine(d.set, paramType(row.kind), row.name.c_str(), &props) != kOfxStatOK ||
        !props) {
        return false;
    }
    setProperties(d, props, row);
    if (row.frozenAndHidden) {
        freezeAndHide(d, row);
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
            const ParamSpec& row = table[i];
            if (row.definedLast != lastPass) {
                continue;
            }
            defined[i] = define(d, row);
            if (!defined[i] && row.onFailure == OnDefineFailure::endAction) {
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
