// The C suites the test host hands to the plug-in. Each entry checks its handles, then
// forwards to the host's model (PropertySet, HostAccess).
#include <cstdarg>
#include <cstring>
#include <list>
#include <mutex>

#include "HostInternal.h"
#include "ThreadPool.h"

namespace vd::testhost {
namespace {

// ---- Property suite -------------------------------------------------------------------------

// Runs a write through the set's rules and tells the host when it landed on an instance
// parameter, which a real host reports back to the plug-in.
template <class Write>
OfxStatus writeProperty(OfxPropertySetHandle handle, const char* property, const char* call,
                        Write write) {
    PropertySet* set = HostAccess::propertySet(handle, call);
    if (!set) {
        return kOfxStatErrBadHandle;
    }
    const OfxStatus status = write(*set);
    if (status == kOfxStatOK && property) {
        if (Param* param = HostAccess::paramOfProperties(set)) {
            HostAccess::pluginSetProperty(*param, property);
        }
    }
    return status;
}

template <class Read>
OfxStatus readProperty(OfxPropertySetHandle handle, const char* call, Read read) {
    const PropertySet* set = HostAccess::propertySet(handle, call);
    return set ? read(*set) : kOfxStatErrBadHandle;
}

OfxStatus propSetPointer(OfxPropertySetHandle h, const char* p, int i, void* v) {
    return writeProperty(h, p, "propSetPointer",
                         [&](PropertySet& s) { return s.setPointer(p, i, v); });
}
OfxStatus propSetString(OfxPropertySetHandle h, const char* p, int i, const char* v) {
    return writeProperty(h, p, "propSetString",
                         [&](PropertySet& s) { return s.setString(p, i, v); });
}
OfxStatus propSetDouble(OfxPropertySetHandle h, const char* p, int i, double v) {
    return writeProperty(h, p, "propSetDouble",
                         [&](PropertySet& s) { return s.setDouble(p, i, v); });
}
OfxStatus propSetInt(OfxPropertySetHandle h, const char* p, int i, int v) {
    return writeProperty(h, p, "propSetInt", [&](PropertySet& s) { return s.setInt(p, i, v); });
}
OfxStatus propSetPointerN(OfxPropertySetHandle h, const char* p, int n, void* const* v) {
    return writeProperty(h, p, "propSetPointerN",
                         [&](PropertySet& s) { return s.setPointerN(p, n, v); });
}
OfxStatus propSetStringN(OfxPropertySetHandle h, const char* p, int n, const char* const* v) {
    return writeProperty(h, p, "propSetStringN",
                         [&](PropertySet& s) { return s.setStringN(p, n, v); });
}
OfxStatus propSetDoubleN(OfxPropertySetHandle h, const char* p, int n, const double* v) {
    return writeProperty(h, p, "propSetDoubleN",
                         [&](PropertySet& s) { return s.setDoubleN(p, n, v); });
}
OfxStatus propSetIntN(OfxPropertySetHandle h, const char* p, int n, const int* v) {
    return writeProperty(h, p, "propSetIntN", [&](PropertySet& s) { return s.setIntN(p, n, v); });
}
OfxStatus propGetPointer(OfxPropertySetHandle h, const char* p, int i, void** v) {
    return readProperty(h, "propGetPointer",
                        [&](const PropertySet& s) { return s.getPointer(p, i, v); });
}
OfxStatus propGetString(OfxPropertySetHandle h, const char* p, int i, char** v) {
    return readProperty(h, "propGetString",
                        [&](const PropertySet& s) { return s.getString(p, i, v); });
}
OfxStatus propGetDouble(OfxPropertySetHandle h, const char* p, int i, double* v) {
    return readProperty(h, "propGetDouble",
                        [&](const PropertySet& s) { return s.getDouble(p, i, v); });
}
OfxStatus propGetInt(OfxPropertySetHandle h, const char* p, int i, int* v) {
    return readProperty(h, "propGetInt", [&](const PropertySet& s) { return s.getInt(p, i, v); });
}
OfxStatus propGetPointerN(OfxPropertySetHandle h, const char* p, int n, void** v) {
    return readProperty(h, "propGetPointerN",
                        [&](const PropertySet& s) { return s.getPointerN(p, n, v); });
}
OfxStatus propGetStringN(OfxPropertySetHandle h, const char* p, int n, char** v) {
    return readProperty(h, "propGetStringN",
                        [&](const PropertySet& s) { return s.getStringN(p, n, v); });
}
OfxStatus propGetDoubleN(OfxPropertySetHandle h, const char* p, int n, double* v) {
    return readProperty(h, "propGetDoubleN",
                        [&](const PropertySet& s) { return s.getDoubleN(p, n, v); });
}
OfxStatus propGetIntN(OfxPropertySetHandle h, const char* p, int n, int* v) {
    return readProperty(h, "propGetIntN", [&](const PropertySet& s) { return s.getIntN(p, n, v); });
}
OfxStatus propReset(OfxPropertySetHandle h, const char* p) {
    return writeProperty(h, p, "propReset", [&](PropertySet& s) { return s.reset(p); });
}
OfxStatus propGetDimension(OfxPropertySetHandle h, const char* p, int* count) {
    return readProperty(h, "propGetDimension",
                        [&](const PropertySet& s) { return s.getDimension(p, count); });
}

// ---- Parameter suite ------------------------------------------------------------------------

OfxStatus paramDefine(OfxParamSetHandle set, const char* type, const char* name,
                      OfxPropertySetHandle* props) {
    Effect* effect = HostAccess::effectOfParamSet(set, "paramDefine");
    return effect ? HostAccess::defineParam(*effect, type, name, props) : kOfxStatErrBadHandle;
}

OfxStatus paramGetHandle(OfxParamSetHandle set, const char* name, OfxParamHandle* param,
                         OfxPropertySetHandle* props) {
    Effect* effect = HostAccess::effectOfParamSet(set, "paramGetHandle");
    if (!effect) {
        return kOfxStatErrBadHandle;
    }
    Param* found = name ? effect->findParam(name) : nullptr;
    if (!found) {
        return kOfxStatErrUnknown;
    }
    if (param) {
        *param = found->handle();
    }
    if (props) {
        *props = found->props.handle();
    }
    return kOfxStatOK;
}

OfxStatus paramSetGetPropertySet(OfxParamSetHandle set, OfxPropertySetHandle* props) {
    Effect* effect = HostAccess::effectOfParamSet(set, "paramSetGetPropertySet");
    if (!effect) {
        return kOfxStatErrBadHandle;
    }
    *props = effect->paramSetProps.handle();
    return kOfxStatOK;
}

OfxStatus paramGetPropertySet(OfxParamHandle handle, OfxPropertySetHandle* props) {
    Param* param = HostAccess::param(handle, "paramGetPropertySet");
    if (!param) {
        return kOfxStatErrBadHandle;
    }
    *props = param->props.handle();
    return kOfxStatOK;
}

// Hands a value out through the varargs pointers of the parameter's kind.
OfxStatus deliver(const Param& param, std::optional<OfxTime> time, va_list args) {
    if (!hasValue(param.kind)) {
        return kOfxStatErrBadHandle;
    }
    if (param.kind == ParamKind::string) {
        // The text stays valid until the parameter changes, as with a host's own storage.
        char** out = va_arg(args, char**);
        if (!out) {
            return kOfxStatErrBadHandle;
        }
        *out = const_cast<char*>(HostAccess::paramText(param));
        return kOfxStatOK;
    }
    std::vector<double> numbers;
    HostAccess::paramNumbers(param, time, numbers);
    for (double number : numbers) {
        if (isIntegerKind(param.kind)) {
            int* out = va_arg(args, int*);
            if (!out) {
                return kOfxStatErrBadHandle;
            }
            *out = static_cast<int>(number);
        } else {
            double* out = va_arg(args, double*);
            if (!out) {
                return kOfxStatErrBadHandle;
            }
            *out = number;
        }
    }
    return kOfxStatOK;
}

// Takes a value in through the varargs of the parameter's kind.
OfxStatus receive(Param& param, std::optional<OfxTime> time, va_list args) {
    if (!hasValue(param.kind)) {
        return kOfxStatErrBadHandle;
    }
    std::vector<double> numbers;
    std::string text;
    if (param.kind == ParamKind::string) {
        const char* value = va_arg(args, const char*);
        text = value ? value : "";
    } else {
        for (std::size_t i = 0; i < valueWidth(param.kind); ++i) {
            numbers.push_back(isIntegerKind(param.kind) ? double(va_arg(args, int))
                                                        : va_arg(args, double));
        }
    }
    return HostAccess::pluginSetValue(param, numbers, text, time);
}

OfxStatus paramGetValue(OfxParamHandle handle, ...) {
    Param* param = HostAccess::param(handle, "paramGetValue");
    if (!param) {
        return kOfxStatErrBadHandle;
    }
    va_list args;
    va_start(args, handle);
    const OfxStatus status = deliver(*param, std::nullopt, args);
    va_end(args);
    return status;
}

OfxStatus paramGetValueAtTime(OfxParamHandle handle, OfxTime time, ...) {
    Param* param = HostAccess::param(handle, "paramGetValueAtTime");
    if (!param) {
        return kOfxStatErrBadHandle;
    }
    va_list args;
    va_start(args, time);
    const OfxStatus status = deliver(*param, time, args);
    va_end(args);
    return status;
}

OfxStatus paramGetDerivative(OfxParamHandle, OfxTime, ...) {
    return kOfxStatErrUnsupported;
}
OfxStatus paramGetIntegral(OfxParamHandle, OfxTime, OfxTime, ...) {
    return kOfxStatErrUnsupported;
}

OfxStatus paramSetValue(OfxParamHandle handle, ...) {
    Param* param = HostAccess::param(handle, "paramSetValue");
    if (!param) {
        return kOfxStatErrBadHandle;
    }
    va_list args;
    va_start(args, handle);
    const OfxStatus status = receive(*param, std::nullopt, args);
    va_end(args);
    return status;
}

OfxStatus paramSetValueAtTime(OfxParamHandle handle, OfxTime time, ...) {
    Param* param = HostAccess::param(handle, "paramSetValueAtTime");
    if (!param) {
        return kOfxStatErrBadHandle;
    }
    va_list args;
    va_start(args, time);
    const OfxStatus status = receive(*param, time, args);
    va_end(args);
    return status;
}

OfxStatus paramGetNumKeys(OfxParamHandle handle, unsigned int* count) {
    Param* param = HostAccess::param(handle, "paramGetNumKeys");
    if (!param || !count) {
        return kOfxStatErrBadHandle;
    }
    *count = static_cast<unsigned>(param->keyTimes().size());
    return kOfxStatOK;
}

OfxStatus paramGetKeyTime(OfxParamHandle handle, unsigned int nth, OfxTime* time) {
    Param* param = HostAccess::param(handle, "paramGetKeyTime");
    if (!param || !time) {
        return kOfxStatErrBadHandle;
    }
    const std::vector<OfxTime> times = param->keyTimes();
    if (nth >= times.size()) {
        return kOfxStatErrBadIndex;
    }
    *time = times[nth];
    return kOfxStatOK;
}

OfxStatus paramGetKeyIndex(OfxParamHandle, OfxTime, int, int*) {
    return kOfxStatErrUnsupported;
}
OfxStatus paramDeleteKey(OfxParamHandle, OfxTime) {
    return kOfxStatErrUnsupported;
}
OfxStatus paramDeleteAllKeys(OfxParamHandle) {
    return kOfxStatErrUnsupported;
}
OfxStatus paramCopy(OfxParamHandle, OfxParamHandle, OfxTime, const OfxRangeD*) {
    return kOfxStatErrUnsupported;
}

OfxStatus paramEditBegin(OfxParamSetHandle set, const char* name) {
    Effect* effect = HostAccess::effectOfParamSet(set, "paramEditBegin");
    return effect ? HostAccess::editBegin(*effect, name) : kOfxStatErrBadHandle;
}

OfxStatus paramEditEnd(OfxParamSetHandle set) {
    Effect* effect = HostAccess::effectOfParamSet(set, "paramEditEnd");
    return effect ? HostAccess::editEnd(*effect) : kOfxStatErrBadHandle;
}

// ---- Image-effect suite ---------------------------------------------------------------------

OfxStatus getPropertySet(OfxImageEffectHandle handle, OfxPropertySetHandle* props) {
    Effect* effect = HostAccess::effect(handle, "getPropertySet");
    if (!effect || !props) {
        return kOfxStatErrBadHandle;
    }
    *props = effect->props.handle();
    return kOfxStatOK;
}

OfxStatus getParamSet(OfxImageEffectHandle handle, OfxParamSetHandle* set) {
    Effect* effect = HostAccess::effect(handle, "getParamSet");
    if (!effect || !set) {
        return kOfxStatErrBadHandle;
    }
    *set = reinterpret_cast<OfxParamSetHandle>(&effect->paramSetProps);
    return kOfxStatOK;
}

OfxStatus clipDefine(OfxImageEffectHandle handle, const char* name, OfxPropertySetHandle* props) {
    Effect* effect = HostAccess::effect(handle, "clipDefine");
    return effect ? HostAccess::defineClip(*effect, name, props) : kOfxStatErrBadHandle;
}

OfxStatus clipGetHandle(OfxImageEffectHandle handle, const char* name, OfxImageClipHandle* clip,
                        OfxPropertySetHandle* props) {
    Effect* effect = HostAccess::effect(handle, "clipGetHandle");
    if (!effect) {
        return kOfxStatErrBadHandle;
    }
    Clip* found = name ? effect->findClip(name) : nullptr;
    if (!found) {
        return kOfxStatErrUnknown;
    }
    if (clip) {
        *clip = found->handle();
    }
    if (props) {
        *props = found->props.handle();
    }
    return kOfxStatOK;
}

OfxStatus clipGetPropertySet(OfxImageClipHandle handle, OfxPropertySetHandle* props) {
    Clip* clip = HostAccess::clip(handle, "clipGetPropertySet");
    if (!clip || !props) {
        return kOfxStatErrBadHandle;
    }
    *props = clip->props.handle();
    return kOfxStatOK;
}

OfxStatus clipGetImage(OfxImageClipHandle handle, OfxTime time, const OfxRectD* region,
                       OfxPropertySetHandle* image) {
    Clip* clip = HostAccess::clip(handle, "clipGetImage");
    if (!clip || !image) {
        return kOfxStatErrBadHandle;
    }
    return HostAccess::getImage(*clip, time, region, image);
}

OfxStatus clipReleaseImage(OfxPropertySetHandle image) {
    return HostAccess::releaseImage(image);
}

OfxStatus clipGetRegionOfDefinition(OfxImageClipHandle handle, OfxTime time, OfxRectD* bounds) {
    Clip* clip = HostAccess::clip(handle, "clipGetRegionOfDefinition");
    if (!clip || !bounds) {
        return kOfxStatErrBadHandle;
    }
    return HostAccess::regionOfDefinition(*clip, time, bounds);
}

int abortRender(OfxImageEffectHandle) {
    return 0;
}

OfxStatus imageMemoryAlloc(OfxImageEffectHandle, size_t, OfxImageMemoryStruct**) {
    return kOfxStatErrMemory;
}
OfxStatus imageMemoryFree(OfxImageMemoryStruct*) {
    return kOfxStatErrBadHandle;
}
OfxStatus imageMemoryLock(OfxImageMemoryStruct*, void**) {
    return kOfxStatErrBadHandle;
}
OfxStatus imageMemoryUnlock(OfxImageMemoryStruct*) {
    return kOfxStatErrBadHandle;
}

// ---- Multi-thread suite ---------------------------------------------------------------------

struct Work {
    OfxThreadFunctionV1* func;
    unsigned count;
    void* arg;
};

OfxStatus multiThreadRun(OfxThreadFunctionV1* func, unsigned int count, void* arg) {
    ThreadPool* pool = HostAccess::pool();
    if (!pool || !func) {
        return kOfxStatFailed;
    }
    if (ThreadPool::onWorker()) {
        return kOfxStatErrExists;  // the suite may not be called from its own threads
    }
    if (count == 0) {
        count = pool->size();
    }
    void* callerState = HostAccess::threadActionState();
    const bool ran = pool->run(count, [&](unsigned index) {
        const char* outer = HostAccess::setThreadAction("a multiThread function");
        HostAccess::setThreadActionState(callerState);
        try {
            func(index, count, arg);
        } catch (...) {
            HostAccess::problem("an exception escaped a multiThread function");
        }
        HostAccess::setThreadActionState(nullptr);
        HostAccess::setThreadAction(outer);
    });
    return ran ? kOfxStatOK : kOfxStatErrExists;
}

OfxStatus multiThreadRefuse(OfxThreadFunctionV1*, unsigned int, void*) {
    return kOfxStatFailed;
}

OfxStatus multiThreadNumCPUs(unsigned int* count) {
    ThreadPool* pool = HostAccess::pool();
    if (!count) {
        return kOfxStatErrBadHandle;
    }
    *count = pool ? pool->size() : 1;
    return kOfxStatOK;
}

OfxStatus multiThreadIndex(unsigned int* index) {
    if (!index) {
        return kOfxStatErrBadHandle;
    }
    if (!ThreadPool::onWorker()) {
        *index = 0;
        return kOfxStatFailed;
    }
    *index = ThreadPool::workerIndex();
    return kOfxStatOK;
}

int multiThreadIsSpawnedThread() {
    return ThreadPool::onWorker() ? 1 : 0;
}

// OpenFX mutexes are recursive: the thread holding one may lock it again.
struct HostMutex {
    std::recursive_mutex mutex;
};

OfxStatus mutexCreate(OfxMutexHandle* handle, int lockCount) {
    if (!handle) {
        return kOfxStatErrBadHandle;
    }
    auto* m = new HostMutex;
    for (int i = 0; i < lockCount; ++i) {
        m->mutex.lock();
    }
    registerHandle(HandleKind::mutex, m);
    *handle = reinterpret_cast<OfxMutexHandle>(m);
    return kOfxStatOK;
}

HostMutex* liveMutex(OfxMutexHandle handle, const char* call) {
    if (!isLiveHandle(HandleKind::mutex, handle)) {
        HostAccess::problem(std::string(call) + " with an unknown mutex");
        return nullptr;
    }
    return reinterpret_cast<HostMutex*>(handle);
}

OfxStatus mutexDestroy(const OfxMutexHandle handle) {
    HostMutex* m = liveMutex(handle, "mutexDestroy");
    if (!m) {
        return kOfxStatErrBadHandle;
    }
    unregisterHandle(HandleKind::mutex, m);
    delete m;
    return kOfxStatOK;
}

OfxStatus mutexLock(const OfxMutexHandle handle) {
    HostMutex* m = liveMutex(handle, "mutexLock");
    if (!m) {
        return kOfxStatErrBadHandle;
    }
    m->mutex.lock();
    return kOfxStatOK;
}

OfxStatus mutexUnLock(const OfxMutexHandle handle) {
    HostMutex* m = liveMutex(handle, "mutexUnLock");
    if (!m) {
        return kOfxStatErrBadHandle;
    }
    m->mutex.unlock();
    return kOfxStatOK;
}

OfxStatus mutexTryLock(const OfxMutexHandle handle) {
    HostMutex* m = liveMutex(handle, "mutexTryLock");
    if (!m) {
        return kOfxStatErrBadHandle;
    }
    return m->mutex.try_lock() ? kOfxStatOK : kOfxStatFailed;
}

// ---- Tables ---------------------------------------------------------------------------------

struct SuiteTables {
    OfxPropertySuiteV1 property;
    OfxParameterSuiteV1 parameter;
    OfxImageEffectSuiteV1 imageEffect;
    OfxMultiThreadSuiteV1 multiThread;
    bool hasProperty, hasParameter, hasImageEffect, hasMultiThread;
};

SuiteTables makeTables(const HostProfile& profile) {
    SuiteTables t{};
    t.property = {propSetPointer, propSetString,  propSetDouble,   propSetInt,     propSetPointerN,
                  propSetStringN, propSetDoubleN, propSetIntN,     propGetPointer, propGetString,
                  propGetDouble,  propGetInt,     propGetPointerN, propGetStringN, propGetDoubleN,
                  propGetIntN,    propReset,      propGetDimension};
    if (!profile.propSetStringN) {
        t.property.propSetStringN = nullptr;
    }
    if (!profile.propSetIntN) {
        t.property.propSetIntN = nullptr;
    }
    t.parameter = {paramDefine,         paramGetHandle,   paramSetGetPropertySet,
                   paramGetPropertySet, paramGetValue,    paramGetValueAtTime,
                   paramGetDerivative,  paramGetIntegral, paramSetValue,
                   paramSetValueAtTime, paramGetNumKeys,  paramGetKeyTime,
                   paramGetKeyIndex,    paramDeleteKey,   paramDeleteAllKeys,
                   paramCopy,           paramEditBegin,   paramEditEnd};
    t.imageEffect = {
        getPropertySet,     getParamSet,      clipDefine,       clipGetHandle,
        clipGetPropertySet, clipGetImage,     clipReleaseImage, clipGetRegionOfDefinition,
        abortRender,        imageMemoryAlloc, imageMemoryFree,  imageMemoryLock,
        imageMemoryUnlock};
    t.multiThread = {profile.multiThreadFails ? multiThreadRefuse : multiThreadRun,
                     multiThreadNumCPUs,
                     multiThreadIndex,
                     multiThreadIsSpawnedThread,
                     mutexCreate,
                     mutexDestroy,
                     mutexLock,
                     mutexUnLock,
                     mutexTryLock};
    t.hasProperty = profile.propertySuite;
    t.hasParameter = profile.parameterSuite;
    t.hasImageEffect = profile.imageEffectSuite;
    t.hasMultiThread = profile.multiThreadSuite;
    return t;
}

// Tables differ only in what a profile leaves out.
bool sameTables(const SuiteTables& a, const SuiteTables& b) {
    return a.property.propSetStringN == b.property.propSetStringN &&
           a.property.propSetIntN == b.property.propSetIntN &&
           a.multiThread.multiThread == b.multiThread.multiThread &&
           a.hasProperty == b.hasProperty && a.hasParameter == b.hasParameter &&
           a.hasImageEffect == b.hasImageEffect && a.hasMultiThread == b.hasMultiThread;
}

}  // namespace

const void* suiteFor(const HostProfile& profile, const char* name, int version) {
    // One table per distinct profile, never freed: a plug-in may hold suite pointers past
    // the end of the host that gave them.
    static std::mutex mutex;
    static auto* tables = new std::list<SuiteTables>;
    if (!name || version != 1) {
        return nullptr;
    }
    const SuiteTables wanted = makeTables(profile);
    const SuiteTables* t = nullptr;
    {
        std::lock_guard lock(mutex);
        for (const SuiteTables& existing : *tables) {
            if (sameTables(existing, wanted)) {
                t = &existing;
            }
        }
        if (!t) {
            t = &tables->emplace_back(wanted);
        }
    }
    if (std::strcmp(name, kOfxPropertySuite) == 0) {
        return t->hasProperty ? &t->property : nullptr;
    }
    if (std::strcmp(name, kOfxParameterSuite) == 0) {
        return t->hasParameter ? &t->parameter : nullptr;
    }
    if (std::strcmp(name, kOfxImageEffectSuite) == 0) {
        return t->hasImageEffect ? &t->imageEffect : nullptr;
    }
    if (std::strcmp(name, kOfxMultiThreadSuite) == 0) {
        return t->hasMultiThread ? &t->multiThread : nullptr;
    }
    return nullptr;
}

}  // namespace vd::testhost
