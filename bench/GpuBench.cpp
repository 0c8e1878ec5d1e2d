// The OpenCL back end against the CPU back end on the same frames with every effect on,
// at 1080p and 4K, in one run. On PoCL both run on the same CPU cores, so the ratio says
// whether the kernels' organisation wastes work; it is not a GPU figure.
#define CL_TARGET_OPENCL_VERSION 120
#include <CL/cl.h>
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "gpu/Gpu.h"
#include "grade/Grade.h"
#include "grade/Threads.h"

namespace {

using namespace vd;

// A float RGBA frame of ramps, texture and a bright light.
std::vector<float> frame(int w, int h) {
    std::vector<float> px(static_cast<std::size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const float fx = static_cast<float>(x), fy = static_cast<float>(y);
            const float u = fx / static_cast<float>(w), v = fy / static_cast<float>(h);
            const float t = 0.04f * std::sin(fx * 0.37f) * std::cos(fy * 0.23f);
            const float light =
                std::exp(-((u - 0.7f) * (u - 0.7f) + (v - 0.3f) * (v - 0.3f)) * 400.0f);
            float* p = px.data() + (static_cast<std::size_t>(y) * w + x) * 4;
            p[0] = 0.25f + 0.45f * u + t + 0.6f * light;
            p[1] = 0.3f + 0.3f * v + t + 0.6f * light;
            p[2] = 0.35f + 0.2f * (1 - u) + t;
            p[3] = 1.0f;
        }
    }
    return px;
}

// Every effect; or, for the breakdown, only the tone, only grain, halation or bloom.
enum Part { kAll, kTone, kGrain, kHalation, kBloom };

GradeSettings everything(int h, int part = kAll) {
    GradeSettings s;
    s.frameHeight = h;
    s.threadCount = hardwareThreads();
    s.exposure = 0.5f;
    s.temperature = 0.2f;
    s.contrast = 0.15f;
    s.highlights = -0.3f;
    s.shadows = 0.25f;
    s.saturation = 0.1f;
    s.grainAmount = 0.35f;
    s.halationAmount = 0.5f;
    s.bloomAmount = 0.4f;
    s.vignetteAmount = -0.3f;
    s.borderTop = 0.1f;
    s.frame = 7;
    if (part != kAll) {
        s.grainAmount = part == kGrain ? s.grainAmount : 0.0f;
        s.halationAmount = part == kHalation ? s.halationAmount : 0.0f;
        s.bloomAmount = part == kBloom ? s.bloomAmount : 0.0f;
        s.vignetteAmount = 0.0f;
        s.borderTop = 0.0f;
    }
    return s;
}

ImageView viewOf(void* data, int w, int h) {
    ImageView v;
    v.data = data;
    v.rowBytes = w * 16;
    v.x2 = w;
    v.y2 = h;
    return v;
}

void setRate(benchmark::State& state, int w, int h) {
    state.counters["Mpix/s"] = benchmark::Counter(
        static_cast<double>(w) * h * static_cast<double>(state.iterations()) / 1e6,
        benchmark::Counter::kIsRate);
}

void BM_Cpu(benchmark::State& state, int w, int h) {
    std::vector<float> src = frame(w, h), dst(src.size());
    const GradeSettings s = everything(h);
    const ImageView in = viewOf(src.data(), w, h);
    for (auto _ : state) {
        renderCpu(&in, viewOf(dst.data(), w, h), {0, 0, w, h}, {0, 0, w, h}, s);
    }
    setRate(state, w, h);
}

void BM_OpenCL(benchmark::State& state, int w, int h, int part) {
    cl_platform_id platform = nullptr;
    cl_device_id device = nullptr;
    cl_int err = clGetPlatformIDs(1, &platform, nullptr);
    if (err == CL_SUCCESS) {
        err = clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 1, &device, nullptr);
    }
    if (err != CL_SUCCESS) {
        state.SkipWithError("no OpenCL device");
        return;
    }
    cl_context context = clCreateContext(nullptr, 1, &device, nullptr, nullptr, &err);
    cl_command_queue queue = clCreateCommandQueue(context, device, 0, &err);
    std::vector<float> src = frame(w, h);
    const std::size_t bytes = src.size() * sizeof(float);
    cl_mem in =
        clCreateBuffer(context, CL_MEM_READ_ONLY | CL_MEM_COPY_HOST_PTR, bytes, src.data(), &err);
    cl_mem out = clCreateBuffer(context, CL_MEM_READ_WRITE, bytes, nullptr, &err);
    const GradeSettings s = everything(h, part);
    const ImageView inView = viewOf(in, w, h);
    // The first render builds the program (or reads it from the runtime's cache).
    gpu::renderOpenCL(&inView, viewOf(out, w, h), {0, 0, w, h}, {0, 0, w, h}, s, queue);
    clFinish(queue);
    for (auto _ : state) {
        if (!gpu::renderOpenCL(&inView, viewOf(out, w, h), {0, 0, w, h}, {0, 0, w, h}, s, queue)) {
            state.SkipWithError("render failed");
            break;
        }
        clFinish(queue);
    }
    setRate(state, w, h);
    clReleaseMemObject(in);
    clReleaseMemObject(out);
    clReleaseCommandQueue(queue);
    clReleaseContext(context);
}

}  // namespace

BENCHMARK_CAPTURE(BM_Cpu, Everything1080p, 1920, 1080)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_OpenCL, Everything1080p, 1920, 1080, kAll)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Cpu, Everything4K, 3840, 2160)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_OpenCL, Everything4K, 3840, 2160, kAll)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Where the OpenCL time of a 1080p frame goes.
BENCHMARK_CAPTURE(BM_OpenCL, ToneOnly1080p, 1920, 1080, kTone)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenCL, GrainOnly1080p, 1920, 1080, kGrain)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenCL, HalationOnly1080p, 1920, 1080, kHalation)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenCL, BloomOnly1080p, 1920, 1080, kBloom)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
