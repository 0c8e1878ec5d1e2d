// An OpenCL device for the host's OpenCL render mode, used as a host uses one: a context
// and an in-order command queue on one device, and image memory in cl_mem buffers.
//
// The OpenCL runtime (libOpenCL.so.1, OpenCL.dll) is opened at run time, never linked, so a
// program built with the host starts and renders on the CPU on a machine without one.
#pragma once

#include <cstddef>
#include <string>

#include "TestHost.h"

namespace vd::testhost {

class OpenClDevice final : public DeviceMemory {
  public:
    // A fresh context each time, on the first GPU of any platform, else on the first device
    // of any kind. Never throws: ok() says whether it worked and error() why not.
    OpenClDevice();
    ~OpenClDevice() override;
    OpenClDevice(const OpenClDevice&) = delete;
    OpenClDevice& operator=(const OpenClDevice&) = delete;

    bool ok() const { return queue_ != nullptr; }
    // One line: no runtime, no platform, no device, or the context or queue refused.
    const std::string& error() const { return error_; }
    // The device's name and its platform's, as the runtime reports them.
    const std::string& name() const { return name_; }
    // The cl_command_queue to hand over as RenderRequest::openCLCommandQueue.
    void* queue() const { return queue_; }
    // Waits until everything enqueued on the queue has run.
    bool finish();

    void* upload(const void* data, std::size_t bytes) override;
    bool download(void* handle, void* data, std::size_t bytes) override;
    void release(void* handle) override;

  private:
    void* context_ = nullptr;
    void* queue_ = nullptr;
    std::string error_;
    std::string name_;
};

}  // namespace vd::testhost
