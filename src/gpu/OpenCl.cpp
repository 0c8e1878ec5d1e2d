// The OpenCL back end. The runtime is opened at the first OpenCL render; the program is
// built once per context the host renders with; every render creates its own buffers,
// enqueues the kernels chained by events on the host's queue and returns without waiting.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "gpu/DevicePlan.h"
#include "gpu/Gpu.h"
#include "gpu/GpuTesting.h"
#include "platform/Platform.h"

namespace vd::gpu {

namespace {

// The parts of the OpenCL 1.2 API the back end uses.
using cl_int = int32_t;
using cl_uint = uint32_t;
using cl_bitfield = uint64_t;
using cl_context = struct ClContext*;
using cl_command_queue = struct ClQueue*;
using cl_program = struct ClProgram*;
using cl_kernel = struct ClKernel*;
using cl_mem = struct ClMem*;
using cl_event = struct ClEvent*;
using cl_device_id = struct ClDevice*;

constexpr cl_int CL_SUCCESS = 0;
constexpr cl_uint CL_QUEUE_CONTEXT = 0x1090;
constexpr cl_uint CL_CONTEXT_DEVICES = 0x1081;
constexpr cl_uint CL_PROGRAM_BUILD_LOG = 0x1183;
constexpr cl_bitfield CL_MEM_READ_WRITE = 1 << 0;
constexpr cl_bitfield CL_MEM_READ_ONLY = 1 << 2;
constexpr cl_bitfield CL_MEM_COPY_HOST_PTR = 1 << 5;

struct ClApi {
    cl_int (*getCommandQueueInfo)(cl_command_queue, cl_uint, size_t, void*, size_t*);
    cl_int (*getContextInfo)(cl_context, cl_uint, size_t, void*, size_t*);
    cl_program (*createProgramWithSource)(cl_context, cl_uint, const char**, const size_t*,
                                          cl_int*);
    cl_int (*buildProgram)(cl_program, cl_uint, const cl_device_id*, const char*,
                           void (*)(cl_program, void*), void*);
    cl_int (*getProgramBuildInfo)(cl_program, cl_device_id, cl_uint, size_t, void*, size_t*);
    cl_kernel (*createKernel)(cl_program, const char*, cl_int*);
    cl_int (*setKernelArg)(cl_kernel, cl_uint, size_t, const void*);
    cl_int (*enqueueNDRangeKernel)(cl_command_queue, cl_kernel, cl_uint, const size_t*,
                                   const size_t*, const size_t*, cl_uint, const cl_event*,
                                   cl_event*);
    cl_mem (*createBuffer)(cl_context, cl_bitfield, size_t, void*, cl_int*);
    cl_int (*releaseMemObject)(cl_mem);
    cl_int (*releaseProgram)(cl_program);
    cl_int (*releaseEvent)(cl_event);
};

// OpenCL counts as available only when all of these exist, in this order; the back end
// calls the twelve that ClApi holds.
constexpr const char* kEntryNames[] = {"clGetCommandQueueInfo",
                                       "clGetContextInfo",
                                       "clCreateProgramWithSource",
                                       "clBuildProgram",
                                       "clGetProgramBuildInfo",
                                       "clCreateKernel",
                                       "clSetKernelArg",
                                       "clEnqueueNDRangeKernel",
                                       "clCreateBuffer",
                                       "clEnqueueReadBuffer",
                                       "clFinish",
                                       "clReleaseMemObject",
                                       "clReleaseKernel",
                                       "clReleaseProgram",
                                       "clReleaseEvent",
                                       "clReleaseCommandQueue",
                                       "clReleaseContext",
                                       "clGetPlatformIDs",
                                       "clGetDeviceIDs",
                                       "clCreateContext",
                                       "clCreateCommandQueue"};

// The built program of one context with its kernels and read-only tables.
struct ContextEntry {
    cl_context context = nullptr;
    cl_program program = nullptr;
    cl_kernel kernels[kKernelCount] = {};
    cl_mem curves[3] = {};
    cl_mem zero = nullptr;
    bool failed = false;
};

struct OpenClState {
    std::mutex lock;  // held for a whole render
    bool loaded = false;
    ClApi api{};
    std::vector<ContextEntry> contexts;  // never pruned: the objects live for the process
    const char* sourceOverride = nullptr;
    std::atomic<int> builds{0};
    std::atomic<int> launches{0};
};

OpenClState& state() {
    static OpenClState s;
    return s;
}

template <class F>
void bind(F& slot, void* symbol) {
    slot = reinterpret_cast<F>(symbol);
}

// Opens the runtime and fetches the entry table. A failure is not remembered: the next
// render tries again.
bool loadApi(OpenClState& s) {
    if (s.loaded) {
        return true;
    }
#if defined(_WIN32)
    void* lib = platform::openLibrary("OpenCL.dll");
#else
    void* lib = platform::openLibrary("libOpenCL.so.1");
#endif
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
    ClApi& a = s.api;
    bind(a.getCommandQueueInfo, symbols[0]);
    bind(a.getContextInfo, symbols[1]);
    bind(a.createProgramWithSource, symbols[2]);
    bind(a.buildProgram, symbols[3]);
    bind(a.getProgramBuildInfo, symbols[4]);
    bind(a.createKernel, symbols[5]);
    bind(a.setKernelArg, symbols[6]);
    bind(a.enqueueNDRangeKernel, symbols[7]);
    bind(a.createBuffer, symbols[8]);
    bind(a.releaseMemObject, symbols[11]);
    bind(a.releaseProgram, symbols[13]);
    bind(a.releaseEvent, symbols[14]);
    s.loaded = true;
    return true;
}

// Prints the first device's build log of a failed build on standard error.
void printBuildLog(const ClApi& a, cl_context context, cl_program program) {
    size_t bytes = 0;
    if (a.getContextInfo(context, CL_CONTEXT_DEVICES, 0, nullptr, &bytes) != CL_SUCCESS ||
        bytes < sizeof(cl_device_id)) {
        return;
    }
    std::vector<cl_device_id> devices(bytes / sizeof(cl_device_id));
    if (a.getContextInfo(context, CL_CONTEXT_DEVICES, devices.size() * sizeof(cl_device_id),
                         devices.data(), nullptr) != CL_SUCCESS) {
        return;
    }
    size_t logBytes = 0;
    std::string log;
    if (a.getProgramBuildInfo(program, devices[0], CL_PROGRAM_BUILD_LOG, 0, nullptr, &logBytes) ==
            CL_SUCCESS &&
        logBytes > 0) {
        log.resize(logBytes);
        if (a.getProgramBuildInfo(program, devices[0], CL_PROGRAM_BUILD_LOG, logBytes, log.data(),
                                  nullptr) != CL_SUCCESS) {
            log.clear();
        }
        log.resize(std::char_traits<char>::length(log.c_str()));
    }
    std::fprintf(stderr, "OpenCL build failed:\n%s\n", log.c_str());
}

cl_mem readOnlyCopy(const ClApi& a, cl_context context, const void* data, size_t bytes) {
    cl_int err = CL_SUCCESS;
    cl_mem m = a.createBuffer(context, CL_MEM_READ_ONLY | CL_MEM_COPY_HOST_PTR, bytes,
                              const_cast<void*>(data), &err);
    return err == CL_SUCCESS ? m : nullptr;
}

// Builds the program, kernels and tables of a context.
ContextEntry buildEntry(OpenClState& s, cl_context context) {
    const ClApi& a = s.api;
    ContextEntry e;
    e.context = context;
    e.failed = true;
    const char* text = s.sourceOverride != nullptr ? s.sourceOverride : kKernelSource;
    const size_t length = s.sourceOverride != nullptr
                              ? std::char_traits<char>::length(s.sourceOverride)
                              : kKernelSourceLength;
    cl_int err = CL_SUCCESS;
    cl_program program = a.createProgramWithSource(context, 1, &text, &length, &err);
    if (err != CL_SUCCESS || program == nullptr) {
        return e;
    }
    ++s.builds;
    // Runtimes that do not know the option get a second try without it.
    if (a.buildProgram(program, 0, nullptr, "-cl-std=CL1.2", nullptr, nullptr) != CL_SUCCESS &&
        a.buildProgram(program, 0, nullptr, "", nullptr, nullptr) != CL_SUCCESS) {
        printBuildLog(a, context, program);
        a.releaseProgram(program);
        return e;
    }
    e.program = program;
    for (int k = 0; k < kKernelCount; ++k) {
        e.kernels[k] = a.createKernel(program, kKernelNames[k], &err);
        if (err != CL_SUCCESS || e.kernels[k] == nullptr) {
            return e;
        }
    }
    for (int enc = 0; enc < 3; ++enc) {
        e.curves[enc] = readOnlyCopy(a, context, deviceCurveTable(enc), kCurveTableBytes);
        if (e.curves[enc] == nullptr) {
            return e;
        }
    }
    const float zero = 0.0f;
    e.zero = readOnlyCopy(a, context, &zero, sizeof zero);
    e.failed = e.zero == nullptr;
    return e;
}

// The entry of a context, built on first use; null for a context whose setup failed,
// which is never tried again.
const ContextEntry* entryFor(OpenClState& s, cl_context context) {
    for (const ContextEntry& e : s.contexts) {
        if (e.context == context) {
            return e.failed ? nullptr : &e;
        }
    }
    s.contexts.push_back(buildEntry(s, context));
    return s.contexts.back().failed ? nullptr : &s.contexts.back();
}

// The buffers and the event chain of one render; releases what it created.
class ClLauncher final : public Launcher {
  public:
    ClLauncher(OpenClState& s, const ContextEntry& e, cl_command_queue queue)
        : s_(s), a_(s.api), e_(e), queue_(queue) {}
    ClLauncher(const ClLauncher&) = delete;
    ClLauncher& operator=(const ClLauncher&) = delete;
    ~ClLauncher() override {
        releasePending();
        // The runtime keeps each buffer alive until the kernels using it have finished.
        for (cl_mem m : created_) {
            a_.releaseMemObject(m);
        }
    }

    Buffer scratch(std::size_t bytes) override {
        cl_int err = CL_SUCCESS;
        cl_mem m = a_.createBuffer(e_.context, CL_MEM_READ_WRITE, bytes, nullptr, &err);
        return keep(err == CL_SUCCESS ? m : nullptr);
    }

    Buffer upload(const void* data, std::size_t bytes) override {
        return keep(readOnlyCopy(a_, e_.context, data, bytes));
    }

    bool launch(Kernel k, int32_t w, int32_t h, const Buffer* args, int count) override {
        if (w < 1 || h < 1) {
            releasePending();
            return true;
        }
        cl_kernel kernel = e_.kernels[k];
        for (int i = 0; i < count; ++i) {
            if (a_.setKernelArg(kernel, static_cast<cl_uint>(i), sizeof(cl_mem), &args[i]) !=
                CL_SUCCESS) {
                return false;
            }
        }
        const size_t global[2] = {roundUp8(w), roundUp8(h)};
        const size_t local[2] = {8, 8};
        const cl_uint waits = pending_ != nullptr ? 1 : 0;
        const cl_event* waitList = pending_ != nullptr ? &pending_ : nullptr;
        cl_event next = nullptr;
        // A device whose work groups cannot be 8 x 8 gets the size the runtime picks.
        if (a_.enqueueNDRangeKernel(queue_, kernel, 2, nullptr, global, local, waits, waitList,
                                    &next) != CL_SUCCESS &&
            a_.enqueueNDRangeKernel(queue_, kernel, 2, nullptr, global, nullptr, waits, waitList,
                                    &next) != CL_SUCCESS) {
            return false;
        }
        ++s_.launches;
        launched = true;
        releasePending();
        pending_ = next;
        return true;
    }

  private:
    static size_t roundUp8(int32_t n) { return (static_cast<size_t>(n) + 7) / 8 * 8; }

    Buffer keep(cl_mem m) {
        if (m != nullptr) {
            created_.push_back(m);
        }
        return m;
    }

    void releasePending() {
        if (pending_ != nullptr) {
            a_.releaseEvent(pending_);
            pending_ = nullptr;
        }
    }

    OpenClState& s_;
    const ClApi& a_;
    const ContextEntry& e_;
    cl_command_queue queue_;
    cl_event pending_ = nullptr;
    std::vector<cl_mem> created_;
};

}  // namespace

bool renderOpenCL(const ImageView* src, const ImageView& dst, const PixelRect& window,
                  const PixelRect& frameRect, const GradeSettings& settings, void* commandQueue) {
    if (commandQueue == nullptr) {
        return false;
    }
    OpenClState& s = state();
    const std::lock_guard<std::mutex> hold(s.lock);
    if (!loadApi(s)) {
        return false;
    }
    DevicePlan plan;
    if (!buildDevicePlan(src, dst, window, frameRect, settings, plan)) {
        return false;
    }
    if (plan.empty) {
        return true;
    }
    auto queue = static_cast<cl_command_queue>(commandQueue);
    cl_context context = nullptr;
    if (s.api.getCommandQueueInfo(queue, CL_QUEUE_CONTEXT, sizeof context, &context, nullptr) !=
            CL_SUCCESS ||
        context == nullptr) {
        return false;
    }
    const ContextEntry* entry = entryFor(s, context);
    if (entry == nullptr) {
        return false;
    }
    ClLauncher launcher(s, *entry, queue);
    RenderInputs in{src != nullptr ? src->data : entry->zero, dst.data,
                    entry->curves[plan.encoding], entry->zero};
    return runPlan(plan, in, launcher);
}

namespace testing {

void overrideKernelSource(const char* source) {
    OpenClState& s = state();
    const std::lock_guard<std::mutex> hold(s.lock);
    s.sourceOverride = source;
}

int openClBuilds() {
    return state().builds.load();
}

int openClLaunches() {
    return state().launches.load();
}

}  // namespace testing

}  // namespace vd::gpu
