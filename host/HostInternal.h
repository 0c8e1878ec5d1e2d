// Internals shared by the test host's sources: the handle registry, the link from the C
// suites to the one live host, and the host-side operations the suites call.
#pragma once

#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "TestHost.h"

namespace vd::testhost {

enum class HandleKind { effect, paramSet, param, clip, mutex };

// Live objects by kind, so that a handle from the plug-in is checked before it is used.
void registerHandle(HandleKind kind, const void* object);
void unregisterHandle(HandleKind kind, const void* object);
bool isLiveHandle(HandleKind kind, const void* object);

// The C suites reach the host through here.
struct HostAccess {
    // The live host, or null.
    static TestHost* current();

    // Handle lookups; an unknown handle is recorded as a problem and gives null.
    static Effect* effect(OfxImageEffectHandle handle, const char* call);
    static Effect* effectOfParamSet(OfxParamSetHandle handle, const char* call);
    static Param* param(OfxParamHandle handle, const char* call);
    static Clip* clip(OfxImageClipHandle handle, const char* call);
    static PropertySet* propertySet(OfxPropertySetHandle handle, const char* call);
    static void problem(std::string text);

    // Parameter suite operations on the host's model.
    static OfxStatus defineParam(Effect& effect, const char* type, const char* name,
                                 OfxPropertySetHandle* props);
    static OfxStatus defineClip(Effect& effect, const char* name, OfxPropertySetHandle* props);
    // Stores a value written by the plug-in, records it and reports it back.
    static OfxStatus pluginSetValue(Param& param, const std::vector<double>& numbers,
                                    const std::string& text, std::optional<OfxTime> time);
    // A property of an instance parameter was written by the plug-in.
    static void pluginSetProperty(Param& param, const std::string& property);
    // The numbers of a value at a time (at the owner's current time without one).
    static void paramNumbers(const Param& param, std::optional<OfxTime> time,
                             std::vector<double>& numbers);
    // The text of a string parameter; valid until the parameter changes.
    static const char* paramText(const Param& param);
    static OfxStatus editBegin(Effect& effect, const char* name);
    static OfxStatus editEnd(Effect& effect);

    // Image-effect suite operations.
    static OfxStatus getImage(Clip& clip, OfxTime time, const OfxRectD* region,
                              OfxPropertySetHandle* image);
    static OfxStatus releaseImage(OfxPropertySetHandle image);
    static OfxStatus regionOfDefinition(Clip& clip, OfxTime time, OfxRectD* bounds);

    // The time of the render or regions-of-interest call of this effect running on this
    // thread, if one is.
    static std::optional<OfxTime> actionTime(const Effect& effect);
    // That call's state, handed to the threads of a multiThread call made inside it.
    static void* threadActionState();
    static void setThreadActionState(void* state);

    // Images fetched by the instance and not released are reported and dropped.
    static void forgetImages(Instance& instance);
    static int outstandingImages();

    // The multi-thread suite's pool.
    static ThreadPool* pool();
    // Names what this thread runs for the crash report; returns the previous name.
    static const char* setThreadAction(const char* action);

    // The parameter a property set belongs to, when it is an instance parameter's.
    static Param* paramOfProperties(PropertySet* set);
};

// Fills the host's default properties of each kind of object.
void defineHostProperties(PropertySet& props, const HostProfile& profile);
void defineEffectDescriptorProperties(PropertySet& props, const std::string& bundlePath);
void defineInstanceProperties(PropertySet& props, const std::string& context);
void defineParamProperties(Param& param);
void defineClipDescriptorProperties(PropertySet& props, const std::string& name);
void defineClipInstanceProperties(PropertySet& props);

// The suite tables for a profile; they live until the process ends because a plug-in may
// keep the pointers it fetched after its host is gone.
const void* suiteFor(const HostProfile& profile, const char* name, int version);

// How many numbers a parameter kind's value holds, and whether the kind has a value at all.
std::size_t valueWidth(ParamKind kind);
bool hasValue(ParamKind kind);
bool isIntegerKind(ParamKind kind);
bool kindFromType(const char* type, ParamKind& kind);

}  // namespace vd::testhost
