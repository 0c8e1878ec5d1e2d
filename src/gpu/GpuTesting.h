// Test hooks of the GPU back ends: what white-box tests replace or count. Not used by the
// plug-in itself.
#pragma once

#include <string>

namespace vd::gpu::testing {

// Kernel source the OpenCL back end builds for contexts it has not seen yet; null
// restores the real one.
void overrideKernelSource(const char* source);

// Program builds attempted and kernels enqueued by the OpenCL back end so far.
int openClBuilds();
int openClLaunches();

// The library the CUDA back end opens in place of the driver, and a fresh start of its
// process-wide state (entry table, failure flags, module).
void useCudaLibrary(const std::string& path);
// Attempts to open the CUDA driver library so far.
int cudaLoadAttempts();

}  // namespace vd::gpu::testing
