// The host pointer, the suite fetch, the plug-in record and the main entry.
#include <atomic>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "looks/LutStore.h"
#include "ofx/PendingSteps.h"
#include "ofx/Plugin.h"
#include "ofx/Properties.h"
#include "update/UpdateCheck.h"

namespace vd {
namespace {

// Written at load (and by a describe that finds a suite missing), read from any host
// thread; atomics keep those reads well defined without a lock.
std::atomic<OfxHost*> gHost{nullptr};
std::atomic<const OfxPropertySuiteV1*> gPropertySuite{nullptr};
std::atomic<const OfxImageEffectSuiteV1*> gEffectSuite{nullptr};
std::atomic<const OfxParameterSuiteV1*> gParameterSuite{nullptr};
std::atomic<const OfxMultiThreadSuiteV1*> gMultiThreadSuite{nullptr};

void setHostFromRecord(OfxHost* host) {
    setHost(host);
}

OfxStatus entryFromRecord(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                          OfxPropertySetHandle outArgs) {
    return mainEntry(action, handle, inArgs, outArgs);
}

OfxPlugin gRecord = {
    kOfxImageEffectPluginApi, 1, "com.vandrel.Looks", 0, 5, &setHostFromRecord, &entryFromRecord,
};

// The update check's test hook (see overrideUpdateService): host properties in this
// plug-in's own namespace that only the project's test host defines. Read at every load, so
// a host without them always gets the built-in service.
constexpr const char* kTestUpdateService = "VandrelHuebenchTestUpdateService";  // base, CA file
constexpr const char* kTestUpdateTimeScale = "VandrelHuebenchTestUpdateTimeScale";

void readTestUpdateService() {
    OfxHost* host = gHost.load(std::memory_order_acquire);
    const OfxPropertySuiteV1* props = gPropertySuite.load(std::memory_order_acquire);
    const std::optional<std::string> base =
        host ? getString(props, host->host, kTestUpdateService, 0) : std::nullopt;
    if (!base) {
        overrideUpdateService(std::nullopt);
        return;
    }
    UpdateService service;
    service.baseAddress = *base;
    service.caFile = getString(props, host->host, kTestUpdateService, 1).value_or("");
    service.timeScale = getInt(props, host->host, kTestUpdateTimeScale).value_or(0);
    overrideUpdateService(std::move(service));
}

bool is(const char* action, const char* name) {
    return std::strcmp(action, name) == 0;
}

OfxStatus dispatch(const char* action, OfxImageEffectHandle instance, OfxPropertySetHandle inArgs,
                   OfxPropertySetHandle outArgs) {
    if (is(action, kOfxActionLoad)) {
        const OfxStatus status = fetchSuites();
        readTestUpdateService();
        return status;
    }
    if (is(action, kOfxActionUnload)) {
        // Process-wide services stay until the library itself goes away.
        return kOfxStatOK;
    }
    if (is(action, kOfxActionDescribe)) {
        return describe(instance);
    }
    if (is(action, kOfxImageEffectActionDescribeInContext)) {
        return describeInContext(instance, inArgs);
    }
    if (is(action, kOfxActionCreateInstance)) {
        return createInstance(instance);
    }
    if (is(action, kOfxActionDestroyInstance)) {
        return destroyInstance(instance);
    }
    if (is(action, kOfxActionInstanceChanged)) {
        return instanceChanged(instance, inArgs);
    }
    if (is(action, kOfxImageEffectActionGetClipPreferences) ||
        is(action, kOfxImageEffectActionBeginSequenceRender)) {
        // Used only as a cheap moment to bring the status panel up to date; no clip
        // preference is set, so the host keeps its own.
        refreshStatusIfStale(instance);
        return kOfxStatReplyDefault;
    }
    if (is(action, kOfxImageEffectActionGetRegionsOfInterest)) {
        return regionsOfInterest(instance, inArgs, outArgs);
    }
    if (is(action, kOfxImageEffectActionRender)) {
        refreshStatusIfStale(instance);
        return renderAction(instance, inArgs);
    }
    // IsIdentity and every action this plug-in does not know: the host's default. The effect
    // never calls itself an identity, so the host always renders it.
    return kOfxStatReplyDefault;
}

}  // namespace

HostSuites hostSuites() {
    HostSuites s;
    s.host = gHost.load(std::memory_order_acquire);
    s.property = gPropertySuite.load(std::memory_order_acquire);
    s.effect = gEffectSuite.load(std::memory_order_acquire);
    s.parameter = gParameterSuite.load(std::memory_order_acquire);
    s.multiThread = gMultiThreadSuite.load(std::memory_order_acquire);
    return s;
}

void setHost(OfxHost* host) {
    gHost.store(host, std::memory_order_release);
}

OfxStatus fetchSuites() {
    OfxHost* host = gHost.load(std::memory_order_acquire);
    if (!host || !host->fetchSuite) {
        return kOfxStatErrMissingHostFeature;
    }
    const auto* property =
        static_cast<const OfxPropertySuiteV1*>(host->fetchSuite(host->host, kOfxPropertySuite, 1));
    const auto* effect = static_cast<const OfxImageEffectSuiteV1*>(
        host->fetchSuite(host->host, kOfxImageEffectSuite, 1));
    const auto* parameter = static_cast<const OfxParameterSuiteV1*>(
        host->fetchSuite(host->host, kOfxParameterSuite, 1));
    const auto* multiThread = static_cast<const OfxMultiThreadSuiteV1*>(
        host->fetchSuite(host->host, kOfxMultiThreadSuite, 1));
    gPropertySuite.store(property, std::memory_order_release);
    gEffectSuite.store(effect, std::memory_order_release);
    gParameterSuite.store(parameter, std::memory_order_release);
    gMultiThreadSuite.store(multiThread, std::memory_order_release);
    if (!property || !effect || !parameter) {
        return kOfxStatErrMissingHostFeature;
    }
    return kOfxStatOK;
}

OfxPlugin* pluginRecord() {
    return &gRecord;
}

OfxStatus mainEntry(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                    OfxPropertySetHandle outArgs) {
    // The exception boundary of the whole plug-in: nothing may unwind into the host.
    try {
        if (!action) {
            return kOfxStatReplyDefault;
        }
        // The handle is the host's opaque instance; the plug-in never writes through it.
        auto* instance = static_cast<OfxImageEffectHandle>(const_cast<void*>(handle));
        return dispatch(action, instance, inArgs, outArgs);
    } catch (...) {
        return kOfxStatFailed;
    }
}

OfxStatus createInstance(OfxImageEffectHandle instance) {
    addInstance(instance);
    // Steps 2 to 6 also run for a null handle: they then only start the process-wide
    // services.
    refreshVisibility(instance);
    refreshSavedLooksMenu(instance);
    refreshStatusPanel(instance);
    startUpdateCheck(false);
    initLutStore();
    return kOfxStatOK;
}

OfxStatus destroyInstance(OfxImageEffectHandle instance) {
    removeInstance(instance);
    releaseRenderScratch(instance);
    return kOfxStatOK;
}

}  // namespace vd
