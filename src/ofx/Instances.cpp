// The list of live instances and the per-thread edit guard.
#include <algorithm>
#include <mutex>
#include <vector>

#include "ofx/Plugin.h"

namespace vd {
namespace {

struct InstanceEntry {
    OfxImageEffectHandle instance;
    std::uint64_t lastShownGeneration;
};

// Process-wide and never destroyed before the library is unloaded; the mutex is held only
// for a lookup or an update, never across a call into the host or another module.
std::mutex gInstancesMutex;
std::vector<InstanceEntry> gInstances;

thread_local OfxImageEffectHandle tEditedInstance = nullptr;

}  // namespace

void addInstance(OfxImageEffectHandle instance) {
    if (!instance) {
        return;
    }
    std::lock_guard lock(gInstancesMutex);
    const bool listed = std::any_of(gInstances.begin(), gInstances.end(),
                                    [&](const InstanceEntry& e) { return e.instance == instance; });
    if (!listed) {
        gInstances.push_back({instance, 0});
    }
}

void removeInstance(OfxImageEffectHandle instance) {
    std::lock_guard lock(gInstancesMutex);
    std::erase_if(gInstances, [&](const InstanceEntry& e) { return e.instance == instance; });
}

std::size_t instanceEntries(OfxImageEffectHandle instance) {
    std::lock_guard lock(gInstancesMutex);
    return static_cast<std::size_t>(
        std::count_if(gInstances.begin(), gInstances.end(),
                      [&](const InstanceEntry& e) { return e.instance == instance; }));
}

std::optional<std::uint64_t> lastShownGeneration(OfxImageEffectHandle instance) {
    std::lock_guard lock(gInstancesMutex);
    for (const InstanceEntry& e : gInstances) {
        if (e.instance == instance) {
            return e.lastShownGeneration;
        }
    }
    return std::nullopt;
}

void setLastShownGeneration(OfxImageEffectHandle instance, std::uint64_t generation) {
    std::lock_guard lock(gInstancesMutex);
    for (InstanceEntry& e : gInstances) {
        if (e.instance == instance) {
            e.lastShownGeneration = generation;
        }
    }
}

OfxImageEffectHandle editedInstance() {
    return tEditedInstance;
}

EditGuard::EditGuard(OfxImageEffectHandle instance) noexcept
    : instance_(instance), reentered_(tEditedInstance == instance) {
    if (!reentered_) {
        tEditedInstance = instance;
    }
}

EditGuard::~EditGuard() {
    // A re-entered guard leaves the slot to the outer one; otherwise the slot is cleared
    // only if a nested edit of another instance has not taken it over.
    if (!reentered_ && tEditedInstance == instance_) {
        tEditedInstance = nullptr;
    }
}

}  // namespace vd
