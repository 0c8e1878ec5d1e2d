// A stand-in for the CUDA driver library: the nine driver calls the back end makes, each
// recorded as one line, with device memory that is never touched. Tests point the back end
// at it, then read the record and set failures through standIn* below.
#include <cstddef>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#define VD_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct StandIn {
    std::vector<std::string> calls;
    std::map<const void*, std::string> functions;
    unsigned long long next = 0x100000;
    int allocsLeft = -1;  // allocations until one fails; -1 never
    std::string failLaunch;
};

StandIn& standIn() {
    static StandIn s;
    return s;
}

void record(const std::string& line) {
    standIn().calls.push_back(line);
}

int moduleToken;
int contextToken;

}  // namespace

VD_EXPORT void standInReset(int allocsBeforeFailure, const char* failLaunch) {
    StandIn& s = standIn();
    s.calls.clear();
    s.allocsLeft = allocsBeforeFailure;
    s.failLaunch = failLaunch != nullptr ? failLaunch : "";
}

VD_EXPORT const std::vector<std::string>* standInCalls() {
    return &standIn().calls;
}

VD_EXPORT int cuInit(unsigned int) {
    record("init");
    return 0;
}

VD_EXPORT int cuCtxGetCurrent(void** context) {
    *context = &contextToken;
    return 0;
}

VD_EXPORT int cuModuleLoadData(void** module, const void* image) {
    record(std::string("load ") + (static_cast<const char*>(image)[0] != 0 ? "ptx" : "empty"));
    *module = &moduleToken;
    return 0;
}

VD_EXPORT int cuModuleGetFunction(void** function, void*, const char* name) {
    // One distinct handle per kernel name.
    static char tokens[16];
    StandIn& s = standIn();
    for (const auto& [token, known] : s.functions) {
        if (known == name) {
            *function = const_cast<void*>(token);
            return 0;
        }
    }
    if (s.functions.size() == sizeof tokens) {
        return 500;  // not found
    }
    void* token = &tokens[s.functions.size()];
    s.functions[token] = name;
    *function = token;
    return 0;
}

VD_EXPORT int cuMemAlloc_v2(unsigned long long* p, std::size_t bytes) {
    StandIn& s = standIn();
    if (s.allocsLeft == 0) {
        record("alloc " + std::to_string(bytes) + " failed");
        return 2;  // out of memory
    }
    if (s.allocsLeft > 0) {
        --s.allocsLeft;
    }
    *p = s.next;
    s.next += (bytes + 255) / 256 * 256;
    record("alloc " + std::to_string(bytes) + " at " + std::to_string(*p));
    return 0;
}

VD_EXPORT int cuMemFree_v2(unsigned long long p) {
    record("free " + std::to_string(p));
    return 0;
}

VD_EXPORT int cuMemcpyHtoD_v2(unsigned long long, const void*, std::size_t) {
    return 0;
}

VD_EXPORT int cuLaunchKernel(void* f, unsigned gx, unsigned gy, unsigned gz, unsigned bx,
                             unsigned by, unsigned bz, unsigned shared, void*, void**, void**) {
    StandIn& s = standIn();
    const std::string& name = s.functions[f];
    char line[160];
    std::snprintf(line, sizeof line, "launch %s %ux%ux%u of %ux%ux%u shared %u", name.c_str(), gx,
                  gy, gz, bx, by, bz, shared);
    record(line);
    return name == s.failLaunch ? 719 : 0;  // launch failed
}

VD_EXPORT int cuStreamSynchronize(void*) {
    record("wait");
    return 0;
}
