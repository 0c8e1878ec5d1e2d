#include "TestHost.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <unordered_map>

#include "HostInternal.h"
#include "ThreadPool.h"
#include "platform/Platform.h"

namespace vd::testhost {

// ---- Handle registry and the current host ---------------------------------------------------

namespace {

struct Registry {
    std::mutex mutex;
    std::set<std::pair<HandleKind, const void*>> live;
    // Property sets of instance parameters, so property writes can be traced to a parameter.
    std::unordered_map<const PropertySet*, Param*> instanceParamProps;
    // The effect behind each parameter-set handle.
    std::unordered_map<const void*, Effect*> paramSets;
};
Registry& registry() {
    static Registry* r = new Registry;  // never destroyed: handles may outlive static teardown
    return *r;
}

std::atomic<TestHost*> gHost{nullptr};

// The action running on this thread, for the crash report, and how deep the calls nest.
thread_local const char* tAction = nullptr;
thread_local int tDepth = 0;

#if defined(_WIN32)
// Windows reports a crash itself (and Wine prints the faulting address); the action's name
// is not added there.
void installCrashReport() {}
#else
const int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
struct sigaction gPreviousHandlers[sizeof kCrashSignals / sizeof kCrashSignals[0]];

void writeAll(const char* text) {
    std::size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, text, left);
        if (n <= 0) {
            return;
        }
        text += n;
        left -= std::size_t(n);
    }
}

const char* signalName(int signal) {
    switch (signal) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGFPE:
            return "SIGFPE";
        case SIGILL:
            return "SIGILL";
        case SIGABRT:
            return "SIGABRT";
    }
    return "a signal";
}

// Names the action a crash happened in, then lets the previous handler (the default one, or
// a sanitizer's) deal with the signal.
void onCrash(int signal) {
    if (tAction) {
        writeAll("\nvd_testhost: the plug-in crashed (");
        writeAll(signalName(signal));
        writeAll(") during ");
        writeAll(tAction);
        writeAll("\n");
    }
    for (std::size_t i = 0; i < sizeof kCrashSignals / sizeof kCrashSignals[0]; ++i) {
        if (kCrashSignals[i] == signal) {
            sigaction(signal, &gPreviousHandlers[i], nullptr);
        }
    }
    raise(signal);
}

void installCrashReport() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (std::size_t i = 0; i < sizeof kCrashSignals / sizeof kCrashSignals[0]; ++i) {
            struct sigaction action {};
            action.sa_handler = onCrash;
            sigemptyset(&action.sa_mask);
            sigaction(kCrashSignals[i], &action, &gPreviousHandlers[i]);
        }
    });
}
#endif

const void* fetchSuiteEntry(OfxPropertySetHandle host, const char* name, int version) {
    TestHost* current = HostAccess::current();
    if (!current) {
        return nullptr;
    }
    if (host != current->hostProperties().handle()) {
        HostAccess::problem(std::string("fetchSuite with a handle that is not the host's, for ") +
                            (name ? name : "(null)"));
    }
    return current->fetchSuite(name, version);
}

}  // namespace

void registerHandle(HandleKind kind, const void* object) {
    std::lock_guard lock(registry().mutex);
    registry().live.insert({kind, object});
}

void unregisterHandle(HandleKind kind, const void* object) {
    std::lock_guard lock(registry().mutex);
    registry().live.erase({kind, object});
}

bool isLiveHandle(HandleKind kind, const void* object) {
    std::lock_guard lock(registry().mutex);
    return registry().live.count({kind, object}) != 0;
}

TestHost* HostAccess::current() {
    return gHost.load();
}

void HostAccess::problem(std::string text) {
    if (TestHost* host = current()) {
        host->addProblem(std::move(text));
    }
}

Effect* HostAccess::effect(OfxImageEffectHandle handle, const char* call) {
    if (!isLiveHandle(HandleKind::effect, handle)) {
        problem(std::string(call) + " with an unknown effect handle");
        return nullptr;
    }
    return reinterpret_cast<Effect*>(handle);
}

Effect* HostAccess::effectOfParamSet(OfxParamSetHandle handle, const char* call) {
    if (!isLiveHandle(HandleKind::paramSet, handle)) {
        problem(std::string(call) + " with an unknown parameter set handle");
        return nullptr;
    }
    std::lock_guard lock(registry().mutex);
    auto it = registry().paramSets.find(handle);
    return it == registry().paramSets.end() ? nullptr : it->second;
}

Param* HostAccess::param(OfxParamHandle handle, const char* call) {
    if (!isLiveHandle(HandleKind::param, handle)) {
        problem(std::string(call) + " with an unknown parameter handle");
        return nullptr;
    }
    return reinterpret_cast<Param*>(handle);
}

Clip* HostAccess::clip(OfxImageClipHandle handle, const char* call) {
    if (!isLiveHandle(HandleKind::clip, handle)) {
        problem(std::string(call) + " with an unknown clip handle");
        return nullptr;
    }
    return reinterpret_cast<Clip*>(handle);
}

PropertySet* HostAccess::propertySet(OfxPropertySetHandle handle, const char* call) {
    PropertySet* set = PropertySet::fromHandle(handle);
    if (!set) {
        problem(std::string(call) + " with an unknown property set handle");
    }
    return set;
}

Param* HostAccess::paramOfProperties(PropertySet* set) {
    std::lock_guard lock(registry().mutex);
    auto it = registry().instanceParamProps.find(set);
    return it == registry().instanceParamProps.end() ? nullptr : it->second;
}

ThreadPool* HostAccess::pool() {
    TestHost* host = current();
    return host ? host->pool_.get() : nullptr;
}

const char* HostAccess::setThreadAction(const char* action) {
    const char* previous = tAction;
    tAction = action;
    return previous;
}

// ---- Values ---------------------------------------------------------------------------------

const char* paramKindName(ParamKind kind) {
    switch (kind) {
        case ParamKind::integer:
            return "integer";
        case ParamKind::real:
            return "double";
        case ParamKind::boolean:
            return "boolean";
        case ParamKind::choice:
            return "choice";
        case ParamKind::rgb:
            return "rgb";
        case ParamKind::string:
            return "string";
        case ParamKind::pushButton:
            return "button";
        case ParamKind::group:
            return "group";
        case ParamKind::page:
            return "page";
    }
    return "?";
}

std::ostream& operator<<(std::ostream& out, const Rgb& rgb) {
    return out << "(" << rgb.r << ", " << rgb.g << ", " << rgb.b << ")";
}

std::string toString(const ParamValue& value) {
    std::ostringstream out;
    if (const int* i = std::get_if<int>(&value)) {
        out << *i;
    } else if (const double* d = std::get_if<double>(&value)) {
        out << *d;
    } else if (const Rgb* c = std::get_if<Rgb>(&value)) {
        out << *c;
    } else if (const std::string* s = std::get_if<std::string>(&value)) {
        out << '"' << *s << '"';
    } else {
        out << "(none)";
    }
    return out.str();
}

std::ostream& operator<<(std::ostream& out, const ParamWrite& write) {
    out << write.param;
    if (!write.property.empty()) {
        out << "." << write.property << " = " << write.propertyValue;
    } else {
        out << " = " << toString(write.value);
    }
    if (write.time) {
        out << " at " << *write.time;
    }
    return out;
}

namespace {

// The numbers and text a ParamValue stands for in a parameter of the given kind.
void valueToStorage(const Param& param, const ParamValue& value, std::vector<double>& numbers,
                    std::string& text) {
    numbers.clear();
    text.clear();
    auto fail = [&] {
        throw std::invalid_argument("a " + toString(value) + " value does not fit the " +
                                    paramKindName(param.kind) + " parameter " + param.name);
    };
    switch (param.kind) {
        case ParamKind::integer:
        case ParamKind::boolean:
        case ParamKind::choice:
        case ParamKind::real:
            if (const int* i = std::get_if<int>(&value)) {
                numbers.push_back(*i);
            } else if (const double* d = std::get_if<double>(&value)) {
                numbers.push_back(*d);
            } else {
                fail();
            }
            break;
        case ParamKind::rgb:
            if (const Rgb* c = std::get_if<Rgb>(&value)) {
                numbers = {c->r, c->g, c->b};
            } else {
                fail();
            }
            break;
        case ParamKind::string:
            if (const std::string* s = std::get_if<std::string>(&value)) {
                text = *s;
            } else {
                fail();
            }
            break;
        default:
            if (!std::holds_alternative<std::monostate>(value)) {
                fail();
            }
    }
}

}  // namespace

ParamValue Param::fromNumbers(const std::vector<double>& numbers) const {
    switch (kind) {
        case ParamKind::integer:
        case ParamKind::boolean:
        case ParamKind::choice:
            return numbers.empty() ? 0 : static_cast<int>(numbers[0]);
        case ParamKind::real:
            return numbers.empty() ? 0.0 : numbers[0];
        case ParamKind::rgb:
            return numbers.size() < 3 ? Rgb{} : Rgb{numbers[0], numbers[1], numbers[2]};
        case ParamKind::string:
            return text_;
        default:
            return std::monostate{};
    }
}

std::vector<double> Param::numbersAt(OfxTime time) const {
    if (keys_.empty()) {
        return numbers_;
    }
    auto after = keys_.lower_bound(time);
    if (after == keys_.end()) {
        return std::prev(after)->second;
    }
    if (after->first == time || after == keys_.begin()) {
        return after->second;
    }
    auto before = std::prev(after);
    if (isIntegerKind(kind)) {
        return before->second;  // integer kinds hold their value until the next key
    }
    const double t = (time - before->first) / (after->first - before->first);
    std::vector<double> out(before->second.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = before->second[i] + (after->second[i] - before->second[i]) * t;
    }
    return out;
}

ParamValue Param::value() const {
    return valueAt(owner->time);
}

ParamValue Param::valueAt(OfxTime time) const {
    std::lock_guard lock(owner->valueMutex_);
    if (!owner->isInstance()) {
        // A descriptor has no value of its own: its default stands for it.
        if (kind == ParamKind::string) {
            return props.string(kOfxParamPropDefault);
        }
        if (!hasValue(kind)) {
            return std::monostate{};
        }
        if (isIntegerKind(kind)) {
            return props.integer(kOfxParamPropDefault);
        }
        return fromNumbers(props.reals(kOfxParamPropDefault));
    }
    return fromNumbers(numbersAt(time));
}

std::vector<OfxTime> Param::keyTimes() const {
    std::lock_guard lock(owner->valueMutex_);
    std::vector<OfxTime> times;
    for (const auto& key : keys_) {
        times.push_back(key.first);
    }
    return times;
}

void HostAccess::paramNumbers(const Param& param, std::optional<OfxTime> time,
                              std::vector<double>& numbers) {
    std::lock_guard lock(param.owner->valueMutex_);
    if (!param.owner->isInstance()) {
        if (isIntegerKind(param.kind)) {
            numbers = {double(param.props.integer(kOfxParamPropDefault))};
        } else {
            numbers = param.props.reals(kOfxParamPropDefault);
        }
        return;
    }
    numbers = param.numbersAt(time.value_or(actionTime(*param.owner).value_or(param.owner->time)));
}

const char* HostAccess::paramText(const Param& param) {
    std::lock_guard lock(param.owner->valueMutex_);
    return param.text_.c_str();
}

// ---- Effects --------------------------------------------------------------------------------

Effect::Effect(TestHost& host, std::string context, bool instance)
    : host_(host), context_(std::move(context)), instance_(instance) {
    registerHandle(HandleKind::effect, this);
    registerHandle(HandleKind::paramSet, &paramSetProps);
    std::lock_guard lock(registry().mutex);
    registry().paramSets[&paramSetProps] = this;
}

Effect::~Effect() {
    std::lock_guard lock(registry().mutex);
    registry().live.erase({HandleKind::effect, this});
    registry().live.erase({HandleKind::paramSet, &paramSetProps});
    registry().paramSets.erase(&paramSetProps);
    for (const auto& param : params_) {
        registry().live.erase({HandleKind::param, param.get()});
        registry().instanceParamProps.erase(&param->props);
    }
    for (const auto& clip : clips_) {
        registry().live.erase({HandleKind::clip, clip.get()});
    }
}

std::vector<std::string> Effect::paramNames() const {
    std::vector<std::string> names;
    for (const auto& param : params_) {
        names.push_back(param->name);
    }
    return names;
}

bool Effect::hasParam(const std::string& name) const {
    return const_cast<Effect*>(this)->findParam(name) != nullptr;
}

Param* Effect::findParam(const std::string& name) {
    for (const auto& param : params_) {
        if (param->name == name) {
            return param.get();
        }
    }
    return nullptr;
}

Param& Effect::param(const std::string& name) {
    if (Param* found = findParam(name)) {
        return *found;
    }
    throw std::out_of_range("no parameter named " + name);
}

const Param& Effect::param(const std::string& name) const {
    return const_cast<Effect*>(this)->param(name);
}

std::vector<std::string> Effect::clipNames() const {
    std::vector<std::string> names;
    for (const auto& clip : clips_) {
        names.push_back(clip->name);
    }
    return names;
}

Clip* Effect::findClip(const std::string& name) {
    for (const auto& clip : clips_) {
        if (clip->name == name) {
            return clip.get();
        }
    }
    return nullptr;
}

Clip& Effect::clip(const std::string& name) {
    if (Clip* found = findClip(name)) {
        return *found;
    }
    throw std::out_of_range("no clip named " + name);
}

std::vector<std::string> Effect::editHistory() const {
    std::lock_guard lock(valueMutex_);
    return editHistory_;
}

OfxStatus HostAccess::defineParam(Effect& effect, const char* type, const char* name,
                                  OfxPropertySetHandle* props) {
    if (effect.isInstance()) {
        problem(std::string("paramDefine on an instance, for ") + (name ? name : "(null)"));
        return kOfxStatErrBadHandle;
    }
    ParamKind kind;
    if (!name || !kindFromType(type, kind)) {
        return kOfxStatErrUnknown;
    }
    if (effect.findParam(name)) {
        return kOfxStatErrExists;
    }
    auto param = std::make_unique<Param>();
    param->name = name;
    param->type = type;
    param->kind = kind;
    param->owner = &effect;
    defineParamProperties(*param);
    registerHandle(HandleKind::param, param.get());
    if (props) {
        *props = param->props.handle();
    }
    effect.params_.push_back(std::move(param));
    return kOfxStatOK;
}

OfxStatus HostAccess::defineClip(Effect& effect, const char* name, OfxPropertySetHandle* props) {
    if (effect.isInstance()) {
        problem(std::string("clipDefine on an instance, for ") + (name ? name : "(null)"));
        return kOfxStatErrBadHandle;
    }
    if (!name) {
        return kOfxStatErrUnknown;
    }
    if (effect.findClip(name)) {
        return kOfxStatErrExists;
    }
    auto clip = std::make_unique<Clip>();
    clip->name = name;
    clip->owner = &effect;
    defineClipDescriptorProperties(clip->props, name);
    registerHandle(HandleKind::clip, clip.get());
    if (props) {
        *props = clip->props.handle();
    }
    effect.clips_.push_back(std::move(clip));
    return kOfxStatOK;
}

OfxStatus HostAccess::editBegin(Effect& effect, const char* name) {
    std::lock_guard lock(effect.valueMutex_);
    effect.editBlocks_.push_back(name ? name : "");
    effect.editHistory_.push_back(std::string("begin ") + (name ? name : ""));
    return kOfxStatOK;
}

OfxStatus HostAccess::editEnd(Effect& effect) {
    std::lock_guard lock(effect.valueMutex_);
    if (effect.editBlocks_.empty()) {
        problem("paramEditEnd without paramEditBegin");
        return kOfxStatFailed;
    }
    effect.editBlocks_.pop_back();
    effect.editHistory_.push_back("end");
    return kOfxStatOK;
}

// ---- Plug-in writes -------------------------------------------------------------------------

namespace {

// Sends the report a host makes when the plug-in changed one of the instance's parameters.
void reportPluginEdit(Instance& instance, const Param& param) {
    TestHost* host = HostAccess::current();
    if (!host || !host->profile().reportPluginEdits) {
        return;
    }
    PropertySet inArgs;
    inArgs.defineString(kOfxPropType, {kOfxTypeParameter});
    inArgs.defineString(kOfxPropName, {param.name});
    inArgs.defineString(kOfxPropChangeReason, {kOfxChangePluginEdited});
    inArgs.defineDouble(kOfxPropTime, {instance.time});
    inArgs.defineDouble(kOfxImageEffectPropRenderScale, {1.0, 1.0});
    host->callAction(kOfxActionInstanceChanged, instance.handle(), &inArgs, nullptr);
}

}  // namespace

OfxStatus HostAccess::pluginSetValue(Param& param, const std::vector<double>& numbers,
                                     const std::string& text, std::optional<OfxTime> time) {
    Effect& owner = *param.owner;
    if (!owner.isInstance()) {
        problem("paramSetValue on the descriptor parameter " + param.name);
        return kOfxStatErrBadHandle;
    }
    auto& instance = static_cast<Instance&>(owner);
    ParamValue written;
    {
        std::lock_guard lock(owner.valueMutex_);
        const bool animates = param.kind != ParamKind::string &&
                              param.props.has(kOfxParamPropAnimates) &&
                              param.props.integer(kOfxParamPropAnimates) != 0;
        if (param.kind == ParamKind::string) {
            param.text_ = text;
        } else if (time && animates) {
            param.keys_[*time] = numbers;
        } else if (!param.keys_.empty()) {
            param.keys_[actionTime(owner).value_or(owner.time)] = numbers;
        } else {
            param.numbers_ = numbers;
        }
        written = param.fromNumbers(numbers);
    }
    {
        std::lock_guard lock(instance.writesMutex_);
        instance.writes_.push_back(
            ParamWrite{param.name, "", written, "", time, std::this_thread::get_id()});
    }
    reportPluginEdit(instance, param);
    return kOfxStatOK;
}

void HostAccess::pluginSetProperty(Param& param, const std::string& property) {
    auto& instance = static_cast<Instance&>(*param.owner);
    {
        std::lock_guard lock(instance.writesMutex_);
        instance.writes_.push_back(ParamWrite{param.name, property, std::monostate{},
                                              param.props.valueText(property), std::nullopt,
                                              std::this_thread::get_id()});
    }
    reportPluginEdit(instance, param);
}

// ---- Instances ------------------------------------------------------------------------------

Instance::Instance(TestHost& host, std::string context) : Effect(host, std::move(context), true) {}

Instance::~Instance() = default;

ParamValue Instance::value(const std::string& name) const {
    return param(name).value();
}
int Instance::intValue(const std::string& name) const {
    return std::get<int>(value(name));
}
double Instance::doubleValue(const std::string& name) const {
    return std::get<double>(value(name));
}
Rgb Instance::rgbValue(const std::string& name) const {
    return std::get<Rgb>(value(name));
}
std::string Instance::stringValue(const std::string& name) const {
    return std::get<std::string>(value(name));
}

void Instance::setValue(const std::string& name, const ParamValue& value) {
    Param& p = param(name);
    std::vector<double> numbers;
    std::string text;
    valueToStorage(p, value, numbers, text);
    std::lock_guard lock(valueMutex_);
    p.text_ = text;
    if (!p.keys_.empty()) {
        p.keys_[time] = numbers;
    } else {
        p.numbers_ = numbers;
    }
}

void Instance::setValueAtTime(const std::string& name, OfxTime at, const ParamValue& value) {
    Param& p = param(name);
    std::vector<double> numbers;
    std::string text;
    valueToStorage(p, value, numbers, text);
    std::lock_guard lock(valueMutex_);
    p.keys_[at] = numbers;
}

OfxStatus Instance::instanceChanged(const std::string& name, const std::string& reason,
                                    OfxTime at) {
    PropertySet inArgs;
    inArgs.defineString(kOfxPropType, {kOfxTypeParameter});
    inArgs.defineString(kOfxPropName, {name});
    inArgs.defineString(kOfxPropChangeReason, {reason});
    inArgs.defineDouble(kOfxPropTime, {at});
    inArgs.defineDouble(kOfxImageEffectPropRenderScale, {1.0, 1.0});
    return action(kOfxActionInstanceChanged, &inArgs);
}

OfxStatus Instance::pressButton(const std::string& name, OfxTime at) {
    param(name);  // an unknown name is the test's mistake: throw before sending anything
    time = at;
    PropertySet bracket;
    bracket.defineString(kOfxPropChangeReason, {kOfxChangeUserEdited});
    action(kOfxActionBeginInstanceChanged, &bracket);
    const OfxStatus status = instanceChanged(name, kOfxChangeUserEdited, at);
    action(kOfxActionEndInstanceChanged, &bracket);
    return status;
}

OfxStatus Instance::userEdit(const std::string& name, const ParamValue& value, OfxTime at) {
    time = at;
    setValue(name, value);
    return pressButton(name, at);
}

OfxStatus Instance::action(const char* name, PropertySet* inArgs, PropertySet* outArgs) {
    return host_.callAction(name, handle(), inArgs, outArgs);
}

std::vector<ParamWrite> Instance::writes() const {
    std::lock_guard lock(writesMutex_);
    return writes_;
}

void Instance::clearWrites() {
    std::lock_guard lock(writesMutex_);
    writes_.clear();
}

// ---- The host -------------------------------------------------------------------------------

namespace {

std::string bundleLibraryPath(std::string bundleDir) {
    while (bundleDir.size() > 1 && (bundleDir.back() == '/' || bundleDir.back() == '\\')) {
        bundleDir.pop_back();
    }
    const std::string suffix = ".ofx.bundle";
    const std::size_t slash = bundleDir.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? bundleDir : bundleDir.substr(slash + 1);
    if (folder.size() <= suffix.size() ||
        folder.compare(folder.size() - suffix.size(), suffix.size(), suffix) != 0) {
        throw std::runtime_error("not an OpenFX bundle folder (Name.ofx.bundle): " + bundleDir);
    }
    const std::string name = folder.substr(0, folder.size() - suffix.size());
    // The folder of this platform's binaries, as the build named it (Linux-x86-64, Win64).
    const std::string contents =
        platform::joinPath(platform::joinPath(bundleDir, "Contents"), VD_BUNDLE_ARCH);
    return platform::joinPath(contents, name + ".ofx");
}

}  // namespace

TestHost::TestHost(const std::string& bundleDir, HostProfile profile)
    : profile_(std::move(profile)), libraryPath_(bundleLibraryPath(bundleDir)) {
    TestHost* expected = nullptr;
    if (!gHost.compare_exchange_strong(expected, this)) {
        throw std::runtime_error("only one TestHost may exist at a time");
    }
    try {
        installCrashReport();
        library_ = platform::openLibrary(libraryPath_.c_str());
        if (!library_) {
            throw std::runtime_error("cannot load " + libraryPath_ + ": " +
                                     platform::libraryError());
        }
        ofxGetNumberOfPlugins_ =
            reinterpret_cast<int (*)()>(platform::librarySymbol(library_, "OfxGetNumberOfPlugins"));
        ofxGetPlugin_ = reinterpret_cast<OfxPlugin* (*)(int)>(
            platform::librarySymbol(library_, "OfxGetPlugin"));
        ofxSetHost_ = reinterpret_cast<OfxStatus (*)(const OfxHost*)>(
            platform::librarySymbol(library_, "OfxSetHost"));
        if (!ofxGetNumberOfPlugins_ || !ofxGetPlugin_) {
            throw std::runtime_error(libraryPath_ + " lacks OfxGetNumberOfPlugins or OfxGetPlugin");
        }
        defineHostProperties(hostProps_, profile_);
        ofxHost_.host = hostProps_.handle();
        ofxHost_.fetchSuite = fetchSuiteEntry;
        if (profile_.multiThreadSuite) {
            pool_ = std::make_unique<ThreadPool>(profile_.threads);
        }
        descriptor_.reset(new Effect(*this, "", false));
        defineEffectDescriptorProperties(descriptor_->props, bundleDir);

        // The order of current hosts: OfxSetHost first, then the plug-in list, then setHost.
        if (ofxSetHost_) {
            ofxSetHost_(&ofxHost_);
        }
        if (ofxGetNumberOfPlugins_() < 1 || !(plugin_ = ofxGetPlugin_(0))) {
            throw std::runtime_error(libraryPath_ + " offers no plug-in");
        }
        if (plugin_->setHost) {
            plugin_->setHost(&ofxHost_);
        }
        if (!plugin_->mainEntry) {
            throw std::runtime_error(libraryPath_ + ": plug-in 0 has no main entry");
        }
    } catch (...) {
        gHost.store(nullptr);
        throw;
    }
}

TestHost::~TestHost() {
    while (!instances_.empty()) {
        destroyInstance(*instances_.back());
    }
    if (loaded_) {
        unload();
    }
    contexts_.clear();
    descriptor_.reset();
    pool_.reset();
    // By default the library stays loaded, as most hosts keep plug-ins loaded until they
    // quit; closeLibrary unloads it as hosts that drop unused plug-ins do.
    if (profile_.closeLibrary) {
        platform::closeLibrary(library_);
    }
    gHost.store(nullptr);
}

int TestHost::numberOfPlugins() const {
    return ofxGetNumberOfPlugins_();
}
OfxPlugin* TestHost::pluginAt(int index) const {
    return ofxGetPlugin_(index);
}

const void* TestHost::fetchSuite(const char* name, int version) const {
    return suiteFor(profile_, name, version);
}

void TestHost::addProblem(std::string problem) {
    std::fprintf(stderr, "vd_testhost: %s\n", problem.c_str());
    if (profile_.onProblem) {
        profile_.onProblem(problem);
    }
    std::lock_guard lock(logMutex_);
    problems_.push_back(std::move(problem));
}

std::vector<std::string> TestHost::problems() const {
    std::lock_guard lock(logMutex_);
    return problems_;
}

void TestHost::clearProblems() {
    std::lock_guard lock(logMutex_);
    problems_.clear();
}

std::vector<ActionRecord> TestHost::actions() const {
    std::lock_guard lock(logMutex_);
    return actions_;
}

void TestHost::clearActions() {
    std::lock_guard lock(logMutex_);
    actions_.clear();
}

OfxStatus TestHost::callAction(const char* action, const void* handle, PropertySet* inArgs,
                               PropertySet* outArgs) {
    ActionRecord record;
    record.action = action ? action : "";
    record.handle = handle;
    record.thread = std::this_thread::get_id();
    record.depth = tDepth;
    if (inArgs) {
        if (inArgs->has(kOfxPropName) && inArgs->type(kOfxPropName) == PropType::string) {
            record.name = inArgs->string(kOfxPropName);
        }
        if (inArgs->has(kOfxPropChangeReason)) {
            record.reason = inArgs->string(kOfxPropChangeReason);
        }
    }
    std::size_t index;
    {
        std::lock_guard lock(logMutex_);
        index = actions_.size();
        actions_.push_back(record);
    }
    const char* outer = tAction;
    tAction = action;
    ++tDepth;
    OfxStatus status;
    try {
        status = plugin_->mainEntry(action, handle, inArgs ? inArgs->handle() : nullptr,
                                    outArgs ? outArgs->handle() : nullptr);
    } catch (const std::exception& e) {
        addProblem(std::string("an exception escaped ") + record.action + ": " + e.what());
        status = kOfxStatErrFatal;
    } catch (...) {
        addProblem("an exception escaped " + record.action);
        status = kOfxStatErrFatal;
    }
    --tDepth;
    tAction = outer;
    std::lock_guard lock(logMutex_);
    actions_[index].status = status;
    return status;
}

OfxStatus TestHost::load() {
    const OfxStatus status = callAction(kOfxActionLoad, nullptr, nullptr, nullptr);
    loaded_ = status == kOfxStatOK;
    return status;
}

OfxStatus TestHost::unload() {
    loaded_ = false;
    return callAction(kOfxActionUnload, nullptr, nullptr, nullptr);
}

OfxStatus TestHost::describe() {
    return callAction(kOfxActionDescribe, descriptor_->handle(), nullptr, nullptr);
}

OfxStatus TestHost::describeInContext(const std::string& context) {
    auto effect = std::unique_ptr<Effect>(new Effect(*this, context, false));
    effect->props.copyFrom(descriptor_->props);
    effect->props.defineString(kOfxImageEffectPropContext, {context}, 1);
    PropertySet inArgs;
    inArgs.defineString(kOfxImageEffectPropContext, {context}, 1);
    Effect& described = *effect;
    contexts_[context] = std::move(effect);
    return callAction(kOfxImageEffectActionDescribeInContext, described.handle(), &inArgs, nullptr);
}

void TestHost::setUp(const std::string& context) {
    if (OfxStatus s = load(); s != kOfxStatOK) {
        throw std::runtime_error("OfxActionLoad returned " + std::to_string(s));
    }
    if (OfxStatus s = describe(); s != kOfxStatOK) {
        throw std::runtime_error("OfxActionDescribe returned " + std::to_string(s));
    }
    if (OfxStatus s = describeInContext(context); s != kOfxStatOK) {
        throw std::runtime_error("OfxImageEffectActionDescribeInContext returned " +
                                 std::to_string(s));
    }
}

Effect& TestHost::context(const std::string& context) {
    auto it = contexts_.find(context);
    if (it == contexts_.end()) {
        throw std::out_of_range("context " + context + " was not described");
    }
    return *it->second;
}

Instance& TestHost::createInstance(const std::string& contextName, OfxStatus* status) {
    Effect& described = context(contextName);
    auto instance = std::unique_ptr<Instance>(new Instance(*this, contextName));
    instance->props.copyFrom(described.props);
    defineInstanceProperties(instance->props, contextName);
    instance->paramSetProps.copyFrom(described.paramSetProps);
    for (const auto& source : described.params_) {
        auto param = std::make_unique<Param>();
        param->name = source->name;
        param->type = source->type;
        param->kind = source->kind;
        param->owner = instance.get();
        param->props.copyFrom(source->props);
        param->props.defineString(kOfxPropType, {kOfxTypeParameterInstance}, 1);
        if (param->kind == ParamKind::string) {
            param->text_ = source->props.string(kOfxParamPropDefault);
        } else if (hasValue(param->kind)) {
            std::vector<double> numbers;
            HostAccess::paramNumbers(*source, std::nullopt, numbers);
            param->numbers_ = numbers;
        }
        if (param->kind == ParamKind::choice && profile_.fixedChoiceOptions) {
            param->props.lockDimension(kOfxParamPropChoiceOption);
        }
        registerHandle(HandleKind::param, param.get());
        {
            std::lock_guard lock(registry().mutex);
            registry().instanceParamProps[&param->props] = param.get();
        }
        instance->params_.push_back(std::move(param));
    }
    for (const auto& source : described.clips_) {
        auto clip = std::make_unique<Clip>();
        clip->name = source->name;
        clip->owner = instance.get();
        clip->props.copyFrom(source->props);
        defineClipInstanceProperties(clip->props);
        registerHandle(HandleKind::clip, clip.get());
        instance->clips_.push_back(std::move(clip));
    }
    Instance& created = *instance;
    instances_.push_back(std::move(instance));
    const OfxStatus result =
        callAction(kOfxActionCreateInstance, created.handle(), nullptr, nullptr);
    if (status) {
        *status = result;
    } else if (result != kOfxStatOK) {
        throw std::runtime_error("OfxActionCreateInstance returned " + std::to_string(result));
    }
    return created;
}

OfxStatus TestHost::destroyInstance(Instance& instance) {
    const OfxStatus status =
        callAction(kOfxActionDestroyInstance, instance.handle(), nullptr, nullptr);
    HostAccess::forgetImages(instance);
    for (auto it = instances_.begin(); it != instances_.end(); ++it) {
        if (it->get() == &instance) {
            instances_.erase(it);
            break;
        }
    }
    return status;
}

}  // namespace vd::testhost
