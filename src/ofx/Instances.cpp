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

// Process-wide and never destroyed: a host thread may still call in while the process runs
// its exit-time destructors, so the list lives on the heap and is never freed. The mutex is
// held only for a lookup or an update, never across a call into the host or another module.
struct InstanceList {
    std::mutex mutex;
    std::vector<InstanceEntry> entries;
};
InstanceList& instanceList() {
    static InstanceList* const list = new InstanceList();
    return *list;
}

thread_local OfxImageEffectHandle tEditedInstance = nullptr;

}  // namespace

void addInstance(OfxImageEffectHandle instance) {
    if (!instance) {
        return;
    }
    InstanceList& list = instanceList();
    std::lock_guard lock(list.mutex);
    const bool listed = std::any_of(list.entries.begin(), list.entries.end(),
                                    [&](const InstanceEntry& e) { return e.instance == instance; });
    if (!listed) {
        list.entries.push_back({instance, 0});
    }
}

void removeInstance(OfxImageEffectHandle instance) {
    InstanceList& list = instanceList();
    std::lock_guard lock(list.mutex);
    std::erase_if(list.entries, [&](const InstanceEntry& e) { return e.instance == instance; });
}

std::size_t instanceEntries(OfxImageEffectHandle instance) {
    InstanceList& list = instanceList();
    std::lock_guard lock(list.mutex);
    return static_cast<std::size_t>(
        std::count_if(list.entries.begin(), list.entries.end(),
                      [&](const InstanceEntry& e) { return e.instance == instance; }));
}

std::optional<std::uint64_t> lastShownGeneration(OfxImageEffectHandle instance) {
    InstanceList& list = instanceList();
    std::lock_guard lock(list.mutex);
    for (const InstanceEntry& e : list.entries) {
        if (e.instance == instance) {
            return e.lastShownGeneration;
        }
    }
    return std::nullopt;
}

void setLastShownGeneration(OfxImageEffectHandle instance, std::uint64_t generation) {
    InstanceList& list = instanceList();
    std::lock_guard lock(list.mutex);
    for (InstanceEntry& e : list.entries) {
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
