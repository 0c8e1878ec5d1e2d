// The host interface: the plug-in's door to the OpenFX host.
//
// Owns: the host pointer and the fetched host suites, the main entry that turns each action
// name into a call of its handler (and is the exception boundary of the whole plug-in), the
// describe and describe-in-context actions, the list of live instances and the per-thread
// edit guard that stops the plug-in's own parameter writes from re-running its handlers.
// Does not own: what an instance change or a button does, the GPU back ends (declared in
// PendingSteps.h and defined by their modules), nor any pixel maths (the render action in
// Render.cpp hands images and settings to the grading engine).
// The exported C functions live in Exports.cpp, which only the bundle target compiles.
#pragma once

#include <cstdint>
#include <optional>

#include "ofx/OfxApi.h"

namespace vd {

// The four suites the plug-in uses. The first three are required; the multi-thread suite
// may be null, in which case renders run on threads of the engine's own.
struct HostSuites {
    OfxHost* host = nullptr;
    const OfxPropertySuiteV1* property = nullptr;
    const OfxImageEffectSuiteV1* effect = nullptr;
    const OfxParameterSuiteV1* parameter = nullptr;
    const OfxMultiThreadSuiteV1* multiThread = nullptr;
};

// A snapshot of the host pointer and the suites fetched at load.
HostSuites hostSuites();

// Stores the host pointer (the export OfxSetHost and the record's setHost).
void setHost(OfxHost* host);

// Fetches the four suites, version 1, in the order property, image effect, parameter,
// multi-thread. Returns 0, or kOfxStatErrMissingHostFeature when there is no host, no
// fetchSuite or one of the three required suites is missing.
OfxStatus fetchSuites();

// The plug-in record handed to the host (index 0 of OfxGetPlugin).
OfxPlugin* pluginRecord();

// The main entry: dispatches an action and never lets an exception out (status 1).
OfxStatus mainEntry(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                    OfxPropertySetHandle outArgs);

// The actions this module answers itself.
OfxStatus describe(OfxImageEffectHandle effect);
OfxStatus describeInContext(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs);
// Defines the clips "Output" then "Source" (RGBA and RGB); the first failing status, or 1.
OfxStatus defineClips(OfxImageEffectHandle effect);
OfxStatus createInstance(OfxImageEffectHandle instance);
OfxStatus destroyInstance(OfxImageEffectHandle instance);
// "OfxImageEffectActionRender": the status of the render (Render.cpp).
OfxStatus renderAction(OfxImageEffectHandle instance, OfxPropertySetHandle inArgs);
// Frees the buffers the instance's CPU renders kept (a render in flight keeps them until
// it ends).
void releaseRenderScratch(OfxImageEffectHandle instance);
// "OfxImageEffectActionGetRegionsOfInterest": 0 with the source region set, or 14.
OfxStatus regionsOfInterest(OfxImageEffectHandle instance, OfxPropertySetHandle inArgs,
                            OfxPropertySetHandle outArgs);

// ---- Instance list ----------------------------------------------------------
// One entry per live instance, with the status generation last shown by it. Every function
// takes the list's mutex only for its own lookup or update, never across a host call; a
// failure to lock raises std::system_error, which the main entry turns into status 1.

// Appends {instance, 0} unless the instance is already listed. A null handle is ignored.
void addInstance(OfxImageEffectHandle instance);
// Removes every entry of the instance, keeping the order of the rest.
void removeInstance(OfxImageEffectHandle instance);
// The number of entries of this handle (0 or 1 in a consistent list).
std::size_t instanceEntries(OfxImageEffectHandle instance);
// The generation last shown by the instance, or nothing when it is not listed.
std::optional<std::uint64_t> lastShownGeneration(OfxImageEffectHandle instance);
// Records the generation last shown by a listed instance; does nothing for others.
void setLastShownGeneration(OfxImageEffectHandle instance, std::uint64_t generation);

// ---- Edit guard -------------------------------------------------------------
// The instance whose parameters this thread is changing, or null.
OfxImageEffectHandle editedInstance();

// Claims this thread's edit slot for an instance for the guard's lifetime. When the slot
// already holds the instance the guard is re-entered: the caller is inside its own edit and
// must do nothing. On destruction the slot is cleared only if it still holds the instance.
//
//     EditGuard guard(instance);
//     if (guard.reentered()) return;
//     ... change parameters ...
class EditGuard {
  public:
    explicit EditGuard(OfxImageEffectHandle instance) noexcept;
    ~EditGuard();
    EditGuard(const EditGuard&) = delete;
    EditGuard& operator=(const EditGuard&) = delete;
    bool reentered() const { return reentered_; }

  private:
    OfxImageEffectHandle instance_;
    bool reentered_;
};

}  // namespace vd
