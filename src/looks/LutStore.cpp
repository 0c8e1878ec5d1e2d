#include "looks/LutStore.h"
#include "looks/LutStoreTesting.h"

#include <array>
#include <mutex>

#include "grade/Grade.h"
#include "looks/Catalogue.h"
#include "looks/LookFile.h"
#include "looks/LutCube.h"
#include "platform/Platform.h"

namespace vd {
namespace {

constexpr const char* kProbeFile = "iphone-apple-log-01.vdlk";
constexpr std::size_t kSlotCount = 8;
// The largest valid look file is a little over 16 MiB (an incompressible edge-129 stream);
// anything far larger is not a look file and is not read into memory.
constexpr std::uint64_t kMaxLookFileBytes = 64ull << 20;

struct LutSlot {
    int lookIndex = -1;
    std::shared_ptr<const SharedLook> look;  // set when valid
    bool valid = false;
    std::string failure;  // why the load failed, when it did
    std::uint32_t lastUse = 0;
};

struct LutStoreState {
    std::mutex lock;
    std::string looksDir;
    bool resolved = false;
    std::uint32_t useClock = 0;
    std::array<LutSlot, kSlotCount> slots;
};

LutStoreState& store() {
    // Never destroyed: renders on other threads may still ask for looks while the process
    // exits, and the store must outlive them.
    static LutStoreState* state = new LutStoreState();
    return *state;
}

void resolveOnce(LutStoreState& s) {
    if (!s.resolved) {
        s.looksDir = resolveLooksDir();
        s.resolved = true;
    }
}

void clearSlot(LutSlot& slot) {
    slot.lookIndex = -1;
    slot.look.reset();
    slot.valid = false;
    slot.failure.clear();
    slot.lastUse = 0;
}

// The slot for a look-table index, loading the look on a miss. Called with the lock held.
LutSlot* fetchSlot(LutStoreState& s, int lookIndex) {
    if (lookIndex < 0 || lookIndex >= lookCount()) {
        return nullptr;
    }
    for (LutSlot& slot : s.slots) {
        if (slot.lookIndex == lookIndex) {
            slot.lastUse = ++s.useClock;
            return &slot;
        }
    }
    LutSlot* victim = nullptr;
    for (LutSlot& slot : s.slots) {
        if (slot.lookIndex < 0) {
            victim = &slot;
            break;
        }
    }
    if (victim == nullptr) {
        victim = &s.slots[0];
        for (LutSlot& slot : s.slots) {
            if (slot.lastUse < victim->lastUse) {
                victim = &slot;
            }
        }
    }
    clearSlot(*victim);
    victim->lookIndex = lookIndex;
    victim->lastUse = ++s.useClock;

    // From here on the slot records a failed load until the decode succeeds, also when an
    // exception leaves this function.
    resolveOnce(s);
    const std::string file = lookFileName(lookIndex);
    if (s.looksDir.empty()) {
        victim->failure = file + ": no looks directory found beside the plug-in or in VD_LOOKS_DIR";
        return victim;
    }
    std::string bytes;
    const std::string path = platform::joinPath(s.looksDir, file);
    const platform::ReadResult read = platform::readWholeFile(path, kMaxLookFileBytes, bytes);
    if (read == platform::ReadResult::missing) {
        victim->failure = file + ": missing from " + s.looksDir;
        return victim;
    }
    auto look = std::make_shared<SharedLook>();
    victim->valid = read == platform::ReadResult::ok &&
                    decodeLookFile(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                   bytes.size(), look->cube);
    if (victim->valid) {
        const std::size_t entries = look->cube.samples.size() / 3;
        look->packed.resize(entries * 4);
        packLookCube(look->cube.samples.data(), entries, look->packed.data());
        victim->look = std::move(look);
    } else {
        victim->failure = file + ": " + path + " is unreadable or damaged";
    }
    return victim;
}

bool holdsProbe(const std::string& dir) {
    return !dir.empty() && platform::fileStatus(platform::joinPath(dir, kProbeFile)).isRegular;
}

}  // namespace

std::string resolveLooksDirFrom(const std::string& envValue, const std::string& moduleDir) {
    if (holdsProbe(envValue)) {
        return envValue;
    }
    if (!moduleDir.empty()) {
        const std::string beside = platform::joinPath(moduleDir, "..");
        const std::string bundle =
            platform::joinPath(platform::joinPath(beside, "Resources"), "looks");
        if (holdsProbe(bundle)) {
            return bundle;
        }
        const std::string local =
            platform::joinPath(platform::joinPath(moduleDir, "Resources"), "looks");
        if (holdsProbe(local)) {
            return local;
        }
    }
    return {};
}

std::string resolveLooksDir() {
    return resolveLooksDirFrom(platform::getEnv("VD_LOOKS_DIR").value_or(std::string()),
                               platform::moduleDirectory());
}

void initLutStore() {
    LutStoreState& s = store();
    std::lock_guard<std::mutex> guard(s.lock);
    resolveOnce(s);
}

bool getSharedLook(int pack, int option, std::shared_ptr<const SharedLook>& look,
                   std::string* reason) {
    look.reset();
    if (option < 1) {
        return true;
    }
    const std::optional<int> lookIndex = findLook(pack, option);
    if (!lookIndex) {
        return true;
    }
    LutStoreState& s = store();
    std::lock_guard<std::mutex> guard(s.lock);
    const LutSlot* slot = fetchSlot(s, *lookIndex);
    if (slot == nullptr || !slot->valid) {
        if (reason != nullptr && slot != nullptr) {
            *reason = slot->failure;
        }
        return false;
    }
    look = slot->look;
    return true;
}

bool getLookLut(int pack, int option, std::vector<float>& samples, std::uint32_t& edge,
                std::string* reason) {
    std::vector<float>().swap(samples);
    edge = 0;
    std::shared_ptr<const SharedLook> look;
    if (!getSharedLook(pack, option, look, reason)) {
        return false;
    }
    if (look) {
        samples = look->cube.samples;
        edge = look->cube.edge;
    }
    return true;
}

void resetLutStoreForTests() {
    LutStoreState& s = store();
    std::lock_guard<std::mutex> guard(s.lock);
    s.looksDir.clear();
    s.resolved = false;
    s.useClock = 0;
    for (LutSlot& slot : s.slots) {
        clearSlot(slot);
    }
}

}  // namespace vd
