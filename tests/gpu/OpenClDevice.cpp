#include "OpenClDevice.h"

namespace vd::testing {

OpenClDevice::OpenClDevice() {
    cl_platform_id platform = nullptr;
    cl_uint platforms = 0;
    if (clGetPlatformIDs(1, &platform, &platforms) != CL_SUCCESS || platforms == 0) {
        return;
    }
    cl_device_id device = nullptr;
    if (clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 1, &device, nullptr) != CL_SUCCESS) {
        return;
    }
    cl_int err = CL_SUCCESS;
    context_ = clCreateContext(nullptr, 1, &device, nullptr, nullptr, &err);
    if (err != CL_SUCCESS) {
        context_ = nullptr;
        return;
    }
    queue_ = clCreateCommandQueue(context_, device, 0, &err);
    if (err != CL_SUCCESS) {
        queue_ = nullptr;
    }
}

OpenClDevice::~OpenClDevice() {
    if (queue_ != nullptr) {
        clFinish(queue_);
        clReleaseCommandQueue(queue_);
    }
    if (context_ != nullptr) {
        clReleaseContext(context_);
    }
}

void* OpenClDevice::upload(const void* data, std::size_t bytes) {
    cl_int err = CL_SUCCESS;
    cl_mem m = clCreateBuffer(context_, CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR, bytes,
                              const_cast<void*>(data), &err);
    return err == CL_SUCCESS ? m : nullptr;
}

bool OpenClDevice::download(void* handle, void* data, std::size_t bytes) {
    return clFinish(queue_) == CL_SUCCESS &&
           clEnqueueReadBuffer(queue_, static_cast<cl_mem>(handle), CL_TRUE, 0, bytes, data, 0,
                               nullptr, nullptr) == CL_SUCCESS;
}

void OpenClDevice::release(void* handle) {
    clReleaseMemObject(static_cast<cl_mem>(handle));
}

}  // namespace vd::testing
