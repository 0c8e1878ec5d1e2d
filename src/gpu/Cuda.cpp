// The CUDA back end. The driver is opened at the first CUDA render; a missing driver, a
// failed cuInit or a module that cannot be set up fails every later CUDA render at once.
// Each render allocates its buffers, launches the kernels on the host's stream, waits for
// the stream and frees what it allocated.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "gpu/DevicePlan.h"
#include "gpu/Gpu.h"
#include "gpu/GpuTesting.h"
#include "platform/Platform.h"

namespace vd::gpu {

namespace {

// The parts of the CUDA driver API the back end uses.
using CUresult = int;
using CUdeviceptr = unsigned long long;
using CUcontext = struct CuContext*;
using CUmodule = struct CuModule*;
using CUfunction = struct CuFunction*;
using CUstream = struct CuStream*;
constexpr CUresult CUDA_SUCCESS = 0;

struct CuApi {
    CUresult (*init)(unsigned int);
    CUresult (*ctxGetCurrent)(CUcontext*);
    CUresult (*moduleLoadData)(CUmodule*, const void*);
    CUresult (*moduleGetFunction)(CUfunction*, CUmodule, const char*);
    CUresult (*memAlloc)(CUdeviceptr*, size_t);
    CUresult (*memFree)(CUdeviceptr);
    CUresult (*memcpyHtoD)(CUdeviceptr, const void*, size_t);
    CUresult (*launchKernel)(CUfunction, unsigned, unsigned, unsigned, unsigned, unsigned, unsigned,
                             unsigned, CUstream, void**, void**);
    CUresult (*streamSynchronize)(CUstream);
};

// The memory functions under their current (64-bit) names.
constexpr const char* kEntryNames[] = {
    "cuInit",       "cuCtxGetCurrent", "cuModuleLoadData", "cuModuleGetFunction", "cuMemAlloc_v2",
    "cuMemFree_v2", "cuMemcpyHtoD_v2", "cuLaunchKernel",   "cuStreamSynchronize"};

struct CudaState {
    std::mutex lock;  // held for a whole render
#if defined(_WIN32)
    std::string library = "nvcuda.dll";
#else
    std::string library = "libcuda.so.1";
#endif
    CuApi api{};
    bool loaded = false;
    bool loadFailed = false;  // for the life of the process
    bool moduleReady = false;
    bool moduleFailed = false;  // for the life of the process
    CUmodule module = nullptr;
    CUfunction functions[kKernelCount] = {};
    CUdeviceptr curves[3] = {};
    CUdeviceptr zero = 0;
    std::atomic<int> loadAttempts{0};
};

CudaState& state() {
    static CudaState s;
    return s;
}

template <class F>
void bind(F& slot, void* symbol) {
    slot = reinterpret_cast<F>(symbol);
}

bool loadDriver(CudaState& s) {
    if (s.loaded) {
        return true;
    }
    if (s.loadFailed) {
        return false;
    }
    s.loadFailed = true;
    ++s.loadAttempts;
    void* lib = platform::openLibrary(s.library.c_str());
    if (lib == nullptr) {
        return false;
    }
    void* symbols[std::size(kEntryNames)];
    for (std::size_t i = 0; i < std::size(kEntryNames); ++i) {
        symbols[i] = platform::librarySymbol(lib, kEntryNames[i]);
        if (symbols[i] == nullptr) {
            platform::closeLibrary(lib);
            return false;
        }
    }
    CuApi& a = s.api;
    bind(a.init, symbols[0]);
    bind(a.ctxGetCurrent, symbols[1]);
    bind(a.moduleLoadData, symbols[2]);
    bind(a.moduleGetFunction, symbols[3]);
    bind(a.memAlloc, symbols[4]);
    bind(a.memFree, symbols[5]);
    bind(a.memcpyHtoD, symbols[6]);
    bind(a.launchKernel, symbols[7]);
    bind(a.streamSynchronize, symbols[8]);
    if (a.init(0) != CUDA_SUCCESS) {
        return false;
    }
    s.loadFailed = false;
    s.loaded = true;
    return true;
}

bool deviceCopy(const CuApi& a, const void* data, size_t bytes, CUdeviceptr& out) {
    out = 0;
    if (a.memAlloc(&out, bytes) != CUDA_SUCCESS) {
        out = 0;
        return false;
    }
    return a.memcpyHtoD(out, data, bytes) == CUDA_SUCCESS;
}

// The module, its functions and the read-only tables, made once in the context current at
// the first render and never freed.
bool ensureModule(CudaState& s) {
    if (s.moduleReady || s.moduleFailed) {
        return s.moduleReady;
    }
    s.moduleFailed = true;
    const CuApi& a = s.api;
    if (a.moduleLoadData(&s.module, kKernelPtx) != CUDA_SUCCESS) {
        return false;
    }
    for (int k = 0; k < kKernelCount; ++k) {
        if (a.moduleGetFunction(&s.functions[k], s.module, kKernelNames[k]) != CUDA_SUCCESS) {
            return false;
        }
    }
    for (int enc = 0; enc < 3; ++enc) {
        if (!deviceCopy(a, deviceCurveTable(enc), kCurveTableBytes, s.curves[enc])) {
            return false;
        }
    }
    const float zero = 0.0f;
    if (!deviceCopy(a, &zero, sizeof zero, s.zero)) {
        return false;
    }
    s.moduleFailed = false;
    s.moduleReady = true;
    return true;
}

CUdeviceptr address(Launcher::Buffer b) {
    return static_cast<CUdeviceptr>(reinterpret_cast<uintptr_t>(b));
}

Launcher::Buffer handle(CUdeviceptr p) {
    return reinterpret_cast<Launcher::Buffer>(static_cast<uintptr_t>(p));
}

// The allocations and launches of one render.
class CuLauncher final : public Launcher {
  public:
    CuLauncher(CudaState& s, CUstream stream) : s_(s), a_(s.api), stream_(stream) {}
    CuLauncher(const CuLauncher&) = delete;
    CuLauncher& operator=(const CuLauncher&) = delete;

    Buffer scratch(std::size_t bytes) override {
        CUdeviceptr p = 0;
        if (a_.memAlloc(&p, bytes) != CUDA_SUCCESS || p == 0) {
            return nullptr;
        }
        allocated_.push_back(p);
        return handle(p);
    }

    Buffer upload(const void* data, std::size_t bytes) override {
        Buffer b = scratch(bytes);
        if (b == nullptr || a_.memcpyHtoD(address(b), data, bytes) != CUDA_SUCCESS) {
            return nullptr;
        }
        return b;
    }

    bool launch(Kernel k, int32_t w, int32_t h, const Buffer* args, int count) override {
        if (w < 1 || h < 1) {
            return true;
        }
        CUdeviceptr values[8];
        void* params[8];
        for (int i = 0; i < count && i < 8; ++i) {
            values[i] = address(args[i]);
            params[i] = &values[i];
        }
        const auto gx = static_cast<unsigned>((static_cast<int64_t>(w) + 7) / 8);
        const auto gy = static_cast<unsigned>((static_cast<int64_t>(h) + 7) / 8);
        if (a_.launchKernel(s_.functions[k], gx, gy, 1, 8, 8, 1, 0, stream_, params, nullptr) !=
            CUDA_SUCCESS) {
            return false;
        }
        launched = true;
        return true;
    }

    // Waits for the stream when work of this render may be running, then frees.
    bool finish(bool ok) {
        if (ok || launched) {
            ok = a_.streamSynchronize(stream_) == CUDA_SUCCESS && ok;
        }
        for (CUdeviceptr p : allocated_) {
            a_.memFree(p);
        }
        allocated_.clear();
        return ok;
    }

  private:
    CudaState& s_;
    const CuApi& a_;
    CUstream stream_;
    std::vector<CUdeviceptr> allocated_;
};

}  // namespace

bool renderCuda(const ImageView* src, const ImageView& dst, const PixelRect& window,
                const PixelRect& frameRect, const GradeSettings& settings, void* stream) {
    CudaState& s = state();
    const std::lock_guard<std::mutex> hold(s.lock);
    if (!loadDriver(s)) {
        return false;
    }
    CUcontext context = nullptr;
    if (s.api.ctxGetCurrent(&context) != CUDA_SUCCESS || context == nullptr) {
        return false;
    }
    if (!ensureModule(s)) {
        return false;
    }
    DevicePlan plan;
    if (!buildDevicePlan(src, dst, window, frameRect, settings, plan)) {
        return false;
    }
    if (plan.empty) {
        return true;
    }
    CuLauncher launcher(s, static_cast<CUstream>(stream));
    RenderInputs in{src != nullptr ? src->data : handle(s.zero), dst.data,
                    handle(s.curves[plan.encoding]), handle(s.zero)};
    bool ok = false;
    try {
        ok = runPlan(plan, in, launcher);
    } catch (...) {
        ok = false;  // only the allocation list can throw; the frees still happen
    }
    return launcher.finish(ok);
}

namespace testing {

void useCudaLibrary(const std::string& path) {
    CudaState& s = state();
    const std::lock_guard<std::mutex> hold(s.lock);
    s.library = path;
    s.api = CuApi{};
    s.loaded = s.loadFailed = s.moduleReady = s.moduleFailed = false;
    s.module = nullptr;
    s.loadAttempts = 0;
}

int cudaLoadAttempts() {
    return state().loadAttempts.load();
}

}  // namespace testing

}  // namespace vd::gpu
