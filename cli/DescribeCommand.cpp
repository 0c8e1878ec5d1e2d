#include "DescribeCommand.h"

#include <algorithm>
#include <exception>
#include <iomanip>
#include <set>
#include <sstream>
#include <vector>

#include "TestHost.h"

namespace vd::cli {
namespace {

using testhost::Effect;
using testhost::Param;
using testhost::ParamKind;
using testhost::PropertySet;
using testhost::PropType;

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string number(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

// A property's values as text, or "-" when the plug-in left it at the host's default.
std::string setByPlugin(const PropertySet& props, const std::string& name) {
    return props.writtenByPlugin(name) ? props.valueText(name) : "-";
}

std::string range(const PropertySet& props, const char* min, const char* max) {
    if (!props.writtenByPlugin(min) && !props.writtenByPlugin(max)) {
        return "-";
    }
    auto one = [&props](const char* name) {
        return props.type(name) == PropType::integer ? std::to_string(props.integer(name))
                                                     : number(props.real(name));
    };
    return one(min) + ".." + one(max);
}

std::string defaultText(const Param& param) {
    const PropertySet& p = param.props;
    switch (param.kind) {
        case ParamKind::choice: {
            const int index = p.integer(kOfxParamPropDefault);
            const std::vector<std::string> options = p.strings(kOfxParamPropChoiceOption);
            std::string text = std::to_string(index);
            if (index >= 0 && index < int(options.size())) {
                text += ' ';
                text += quoted(options[index]);
            }
            return text;
        }
        case ParamKind::group:
            return p.integer(kOfxParamPropGroupOpen) ? "open" : "closed";
        case ParamKind::pushButton:
        case ParamKind::page:
            return "";
        default:
            return testhost::toString(param.value());
    }
}

std::string notes(const Param& param) {
    const PropertySet& p = param.props;
    std::string text;
    auto add = [&text](const std::string& note) { text += (text.empty() ? "" : ", ") + note; };
    if (p.has(kOfxParamPropSecret) && p.integer(kOfxParamPropSecret)) {
        add("hidden");
    }
    if (p.has(kOfxParamPropEnabled) && !p.integer(kOfxParamPropEnabled)) {
        add("disabled");
    }
    if (p.has(kOfxParamPropAnimates) && p.writtenByPlugin(kOfxParamPropAnimates)) {
        add(p.integer(kOfxParamPropAnimates) ? "animates" : "static");
    }
    if (param.kind == ParamKind::real && p.writtenByPlugin(kOfxParamPropIncrement)) {
        add("step " + number(p.real(kOfxParamPropIncrement)) + ", " +
            std::to_string(p.integer(kOfxParamPropDigits)) + " digits");
    }
    if (param.kind == ParamKind::string && p.writtenByPlugin(kOfxParamPropStringMode)) {
        add(p.string(kOfxParamPropStringMode));
    }
    return text;
}

void printProperties(const PropertySet& props, std::ostream& out,
                     const std::string& indent = "  ") {
    for (const std::string& name : props.names()) {
        if (props.writtenByPlugin(name)) {
            out << indent << std::left << std::setw(int(50 - indent.size())) << name << " "
                << std::setw(8) << testhost::propTypeName(props.type(name)) << props.valueText(name)
                << "\n";
        }
    }
}

void printParam(const Param& param, bool everyProperty, std::ostream& out) {
    const PropertySet& p = param.props;
    const std::string parent = p.string(kOfxParamPropParent);
    const std::string indent = parent.empty() ? "  " : "    ";
    out << indent << std::left << std::setw(int(24 - indent.size())) << param.name << " "
        << std::setw(8) << testhost::paramKindName(param.kind) << " " << std::setw(24)
        << quoted(p.string(kOfxPropLabel));
    if (const std::string d = defaultText(param); !d.empty()) {
        out << " default " << d;
    }
    if (param.kind == ParamKind::real || param.kind == ParamKind::integer) {
        out << "  range " << range(p, kOfxParamPropMin, kOfxParamPropMax) << "  display "
            << range(p, kOfxParamPropDisplayMin, kOfxParamPropDisplayMax);
    }
    out << "  parent " << (parent.empty() ? "-" : parent);
    if (std::string n = notes(param); !n.empty()) {
        out << "  (" << n << ")";
    }
    out << "\n";
    if (param.kind == ParamKind::choice) {
        out << indent << "  options " << setByPlugin(p, kOfxParamPropChoiceOption) << "\n";
    }
    if (const std::string hint = p.string(kOfxParamPropHint); !hint.empty()) {
        out << indent << "  hint    " << quoted(hint) << "\n";
    }
    if (everyProperty) {
        out << indent << "  type    " << param.type << "\n";
        printProperties(p, out, indent + "  | ");
    }
}

void printParameters(Effect& context, bool everyProperty, std::ostream& out) {
    out << "\nParameters of " << context.context() << " (" << context.params().size()
        << " defined), in page order\n";
    std::set<std::string> shown;
    for (const auto& page : context.params()) {
        if (page->kind != ParamKind::page) {
            continue;
        }
        out << "  page " << page->name << " " << quoted(page->props.string(kOfxPropLabel)) << "\n";
        if (everyProperty) {
            printProperties(page->props, out, "    | ");
        }
        shown.insert(page->name);
        for (const std::string& child : page->props.strings(kOfxParamPropPageChild)) {
            if (const Param* param = context.findParam(child)) {
                printParam(*param, everyProperty, out);
                shown.insert(child);
            } else {
                out << "    " << child << " (on the page, not defined)\n";
            }
        }
    }
    bool header = false;
    for (const auto& param : context.params()) {
        if (!shown.count(param->name)) {
            if (!header) {
                out << "  not on a page\n";
                header = true;
            }
            printParam(*param, everyProperty, out);
        }
    }
    if (everyProperty) {
        out << "  defined in this order:";
        for (const std::string& name : context.paramNames()) {
            out << " " << name;
        }
        out << "\n";
    }
}

}  // namespace

int describeBundle(const std::string& bundleDir, std::ostream& out, std::ostream& err,
                   const DescribeOptions& options) {
    try {
        testhost::TestHost host(bundleDir, options.profile);
        const OfxPlugin& plugin = host.plugin();
        out << "Plug-in\n"
            << "  identifier  " << (plugin.pluginIdentifier ? plugin.pluginIdentifier : "(none)")
            << "\n"
            << "  API         " << (plugin.pluginApi ? plugin.pluginApi : "(none)") << ", version "
            << plugin.apiVersion << "\n"
            << "  record      version " << plugin.pluginVersionMajor << "."
            << plugin.pluginVersionMinor << "\n"
            << "  library     " << host.libraryPath() << "\n"
            << "  plug-ins    " << host.numberOfPlugins() << "\n";
        if (OfxStatus s = host.load(); s != kOfxStatOK) {
            err << "huebench: OfxActionLoad returned " << s << "\n";
            return 1;
        }
        if (OfxStatus s = host.describe(); s != kOfxStatOK) {
            err << "huebench: OfxActionDescribe returned " << s << "\n";
            return 1;
        }
        const PropertySet& described = host.descriptor().props;
        out << "  version     " << described.valueText(kOfxPropVersionLabel) << " ("
            << described.valueText(kOfxPropVersion) << ")\n";
        out << "\nDescribe properties\n";
        printProperties(described, out);

        std::vector<std::string> contexts = described.strings(kOfxImageEffectPropSupportedContexts);
        out << "\nContexts\n";
        Effect* first = nullptr;
        for (const std::string& name : contexts) {
            const OfxStatus status = host.describeInContext(name);
            out << "  " << name
                << (status == kOfxStatOK
                        ? ""
                        : "  (describe-in-context returned " + std::to_string(status) + ")")
                << "\n";
            Effect& context = host.context(name);
            for (const auto& clip : context.clips()) {
                out << "    clip " << std::left << std::setw(10) << clip->name << " components "
                    << clip->props.valueText(kOfxImageEffectPropSupportedComponents) << "\n";
                if (options.everyProperty) {
                    printProperties(clip->props, out, "      | ");
                }
            }
            if (status == kOfxStatOK && !first) {
                first = &context;
            }
        }
        if (!first) {
            err << "huebench: no context could be described\n";
            return 1;
        }
        printParameters(*first, options.everyProperty, out);
        for (const std::string& problem : host.problems()) {
            out << "\nhost noticed: " << problem << "\n";
        }
        return 0;
    } catch (const std::exception& e) {
        err << "huebench: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace vd::cli
