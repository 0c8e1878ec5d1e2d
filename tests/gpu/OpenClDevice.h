// A real OpenCL device for the tests, used as a host uses one: a context and an in-order
// command queue on the first device found, and image memory in cl_mem buffers.
#pragma once

#define CL_TARGET_OPENCL_VERSION 120
#include <CL/cl.h>

#include <cstddef>

#include "TestHost.h"

namespace vd::testing {

class OpenClDevice final : public testhost::DeviceMemory {
  public:
    OpenClDevice();  // a fresh context each time
    ~OpenClDevice() override;
    OpenClDevice(const OpenClDevice&) = delete;
    OpenClDevice& operator=(const OpenClDevice&) = delete;

    bool ok() const { return queue_ != nullptr; }
    cl_context context() const { return context_; }
    cl_command_queue queue() const { return queue_; }

    void* upload(const void* data, std::size_t bytes) override;
    bool download(void* handle, void* data, std::size_t bytes) override;
    void release(void* handle) override;

  private:
    cl_context context_ = nullptr;
    cl_command_queue queue_ = nullptr;
};

}  // namespace vd::testing
