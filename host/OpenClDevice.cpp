#include "OpenClDevice.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

#include "platform/Platform.h"

namespace vd::testhost {
namespace {

// The parts of the OpenCL 1.2 API the device uses.
using cl_int = int32_t;
using cl_uint = uint32_t;
using cl_bitfield = uint64_t;
using cl_platform_id = struct ClPlatform*;
using cl_device_id = struct ClDevice*;
using cl_context = struct ClContext*;
using cl_command_queue = struct ClQueue*;
using cl_mem = struct ClMem*;
using cl_event = struct ClEvent*;

constexpr cl_int CL_SUCCESS = 0;
constexpr cl_bitfield CL_DEVICE_TYPE_GPU = 1 << 2;
constexpr cl_bitfield CL_DEVICE_TYPE_ALL = 0xFFFFFFFF;
constexpr cl_uint CL_PLATFORM_NAME = 0x0902;
constexpr cl_uint CL_DEVICE_NAME = 0x102B;
constexpr cl_bitfield CL_MEM_READ_WRITE = 1 << 0;
constexpr cl_bitfield CL_MEM_COPY_HOST_PTR = 1 << 5;
constexpr cl_uint CL_TRUE = 1;

struct Api {
    cl_int (*getPlatformIDs)(cl_uint, cl_platform_id*, cl_uint*);
    cl_int (*getPlatformInfo)(cl_platform_id, cl_uint, size_t, void*, size_t*);
    cl_int (*getDeviceIDs)(cl_platform_id, cl_bitfield, cl_uint, cl_device_id*, cl_uint*);
    cl_int (*getDeviceInfo)(cl_device_id, cl_uint, size_t, void*, size_t*);
    cl_context (*createContext)(const intptr_t*, cl_uint, const cl_device_id*,
                                void (*)(const char*, const void*, size_t, void*), void*, cl_int*);
    cl_command_queue (*createCommandQueue)(cl_context, cl_device_id, cl_bitfield, cl_int*);
    cl_mem (*createBuffer)(cl_context, cl_bitfield, size_t, void*, cl_int*);
    cl_int (*enqueueReadBuffer)(cl_command_queue, cl_mem, cl_uint, size_t, size_t, void*, cl_uint,
                                const cl_event*, cl_event*);
    cl_int (*finish)(cl_command_queue);
    cl_int (*releaseMemObject)(cl_mem);
    cl_int (*releaseCommandQueue)(cl_command_queue);
    cl_int (*releaseContext)(cl_context);
};

#if defined(_WIN32)
constexpr const char* kLibrary = "OpenCL.dll";
#else
constexpr const char* kLibrary = "libOpenCL.so.1";
#endif

struct Loaded {
    Api api{};
    std::string error;  // empty when every entry was found
};

template <class F>
bool bind(void* library, F& slot, const char* name, std::string& error) {
    slot = reinterpret_cast<F>(platform::librarySymbol(library, name));
    if (slot == nullptr && error.empty()) {
        error = std::string("the OpenCL runtime ") + kLibrary + " lacks " + name;
    }
    return slot != nullptr;
}

// The runtime, opened once per process and kept open: the plug-in opens it too.
const Loaded& runtime() {
    static const Loaded loaded = [] {
        Loaded l;
        void* lib = platform::openLibrary(kLibrary);
        if (lib == nullptr) {
            l.error = std::string("no OpenCL runtime: ") + kLibrary + " cannot be loaded (" +
                      platform::libraryError() + ")";
            return l;
        }
        Api& a = l.api;
        bind(lib, a.getPlatformIDs, "clGetPlatformIDs", l.error);
        bind(lib, a.getPlatformInfo, "clGetPlatformInfo", l.error);
        bind(lib, a.getDeviceIDs, "clGetDeviceIDs", l.error);
        bind(lib, a.getDeviceInfo, "clGetDeviceInfo", l.error);
        bind(lib, a.createContext, "clCreateContext", l.error);
        bind(lib, a.createCommandQueue, "clCreateCommandQueue", l.error);
        bind(lib, a.createBuffer, "clCreateBuffer", l.error);
        bind(lib, a.enqueueReadBuffer, "clEnqueueReadBuffer", l.error);
        bind(lib, a.finish, "clFinish", l.error);
        bind(lib, a.releaseMemObject, "clReleaseMemObject", l.error);
        bind(lib, a.releaseCommandQueue, "clReleaseCommandQueue", l.error);
        bind(lib, a.releaseContext, "clReleaseContext", l.error);
        return l;
    }();
    return loaded;
}

const Api& api() {
    return runtime().api;
}

template <class Object, class Query>
std::string infoText(Query query, Object object, cl_uint what) {
    char text[256] = {};
    if (query(object, what, sizeof text - 1, text, nullptr) != CL_SUCCESS) {
        return "?";
    }
    return text;
}

}  // namespace

OpenClDevice::OpenClDevice() {
    if (!runtime().error.empty()) {
        error_ = runtime().error;
        return;
    }
    const Api& a = api();
    cl_platform_id platforms[16] = {};
    cl_uint count = 0;
    const cl_int listed = a.getPlatformIDs(cl_uint(std::size(platforms)), platforms, &count);
    if (listed != CL_SUCCESS || count == 0) {
        error_ = "no OpenCL platform is installed (no driver registered with the runtime, error " +
                 std::to_string(listed) + ")";
        return;
    }
    count = std::min<cl_uint>(count, cl_uint(std::size(platforms)));
    cl_platform_id platform = nullptr;
    cl_device_id device = nullptr;
    for (const cl_bitfield type : {CL_DEVICE_TYPE_GPU, CL_DEVICE_TYPE_ALL}) {
        for (cl_uint p = 0; p < count && device == nullptr; ++p) {
            cl_uint found = 0;
            if (a.getDeviceIDs(platforms[p], type, 1, &device, &found) != CL_SUCCESS ||
                found == 0) {
                device = nullptr;
            } else {
                platform = platforms[p];
            }
        }
    }
    if (device == nullptr) {
        error_ = "no OpenCL device: the " + std::to_string(count) +
                 " OpenCL platform(s) installed offer none";
        return;
    }
    name_ = infoText(a.getDeviceInfo, device, CL_DEVICE_NAME) + " (" +
            infoText(a.getPlatformInfo, platform, CL_PLATFORM_NAME) + ")";
    cl_int err = CL_SUCCESS;
    cl_context context = a.createContext(nullptr, 1, &device, nullptr, nullptr, &err);
    if (err != CL_SUCCESS || context == nullptr) {
        error_ =
            "the OpenCL device " + name_ + " refused a context (error " + std::to_string(err) + ")";
        return;
    }
    context_ = context;
    cl_command_queue queue = a.createCommandQueue(context, device, 0, &err);
    if (err != CL_SUCCESS || queue == nullptr) {
        error_ = "the OpenCL device " + name_ + " refused a command queue (error " +
                 std::to_string(err) + ")";
        return;
    }
    queue_ = queue;
}

OpenClDevice::~OpenClDevice() {
    if (queue_ != nullptr) {
        api().finish(static_cast<cl_command_queue>(queue_));
        api().releaseCommandQueue(static_cast<cl_command_queue>(queue_));
    }
    if (context_ != nullptr) {
        api().releaseContext(static_cast<cl_context>(context_));
    }
}

bool OpenClDevice::finish() {
    return ok() && api().finish(static_cast<cl_command_queue>(queue_)) == CL_SUCCESS;
}

void* OpenClDevice::upload(const void* data, std::size_t bytes) {
    if (!ok()) {
        return nullptr;
    }
    cl_int err = CL_SUCCESS;
    cl_mem m = api().createBuffer(static_cast<cl_context>(context_),
                                  CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR, bytes,
                                  const_cast<void*>(data), &err);
    return err == CL_SUCCESS ? m : nullptr;
}

bool OpenClDevice::download(void* handle, void* data, std::size_t bytes) {
    return handle != nullptr && finish() &&
           api().enqueueReadBuffer(static_cast<cl_command_queue>(queue_),
                                   static_cast<cl_mem>(handle), CL_TRUE, 0, bytes, data, 0, nullptr,
                                   nullptr) == CL_SUCCESS;
}

void OpenClDevice::release(void* handle) {
    if (handle != nullptr) {
        api().releaseMemObject(static_cast<cl_mem>(handle));
    }
}

}  // namespace vd::testhost
