// Throughput of the CPU grading engine on 1080p and 4K frames, float and 8-bit, on 1 and
// 2 threads (the benchmark's argument), with the baselines measured in the same run on
// the same threads: a memcpy of the frame (the memory limit) and OpenColorIO's CPU
// processor applying the same 65-edge LUT with tetrahedral interpolation. Every benchmark
// reports Mpix/s; the process's peak resident memory during the full-effects 4K render is
// reported as extra MiB over the images.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "grade/Curves.h"
#include "grade/Grade.h"
#include "grade/GradeContext.h"
#include "grade/PixelMath.h"
#include "grade/Threads.h"

#ifdef VD_HAVE_OCIO
#include <OpenColorIO/OpenColorIO.h>
#endif

namespace {

using namespace vd;

constexpr int kLutEdge = 65;

// A smooth, film-like look: a soft S-curve per channel with some cross-talk.
std::vector<float> makeLook() {
    std::vector<float> cube(static_cast<std::size_t>(kLutEdge) * kLutEdge * kLutEdge * 3);
    std::size_t i = 0;
    const float top = kLutEdge - 1;
    for (int b = 0; b < kLutEdge; ++b) {
        for (int g = 0; g < kLutEdge; ++g) {
            for (int r = 0; r < kLutEdge; ++r) {
                const float rf = static_cast<float>(r) / top, gf = static_cast<float>(g) / top,
                            bf = static_cast<float>(b) / top;
                auto s = [](float v) { return v * v * (3.0f - 2.0f * v); };
                cube[i++] = s(0.85f * rf + 0.1f * gf + 0.05f * bf);
                cube[i++] = s(0.05f * rf + 0.9f * gf + 0.05f * bf);
                cube[i++] = s(0.05f * rf + 0.15f * gf + 0.8f * bf);
            }
        }
    }
    return cube;
}

const std::vector<float>& look() {
    static const std::vector<float> cube = makeLook();
    return cube;
}

// A float or 8-bit frame with gradients, fine texture and a few bright lights, as camera
// log codes.
struct Frame {
    std::vector<unsigned char> bytes;
    ImageView view;

    Frame(int w, int h, int d, bool fill) {
        const std::size_t rowBytes = static_cast<std::size_t>(w) * 4 * bytesPerComponent(d);
        bytes.assign(rowBytes * static_cast<std::size_t>(h), 0);
        view.data = bytes.data();
        view.rowBytes = static_cast<int32_t>(rowBytes);
        view.x2 = w;
        view.y2 = h;
        view.components = 4;
        view.depth = d;
        if (!fill) {
            return;
        }
        for (int y = 0; y < h; ++y) {
            unsigned char* row = bytes.data() + rowBytes * static_cast<std::size_t>(y);
            for (int x = 0; x < w; ++x) {
                const float u = static_cast<float>(x) / static_cast<float>(w);
                const float v = static_cast<float>(y) / static_cast<float>(h);
                const float texture = 0.04f * std::sin(static_cast<float>(x) * 0.37f) *
                                      std::cos(static_cast<float>(y) * 0.23f);
                const float dx = u - 0.7f, dy = v - 0.3f;
                const float light = std::exp(-(dx * dx + dy * dy) * 400.0f);
                const float px[4] = {std::min(0.25f + 0.45f * u + texture + 0.4f * light, 1.0f),
                                     std::min(0.3f + 0.3f * v + texture + 0.4f * light, 1.0f),
                                     std::min(0.35f + 0.2f * (1.0f - u) + texture, 1.0f), 1.0f};
                for (int k = 0; k < 4; ++k) {
                    const std::size_t i = static_cast<std::size_t>(x) * 4 + k;
                    if (d == kDepthFloat) {
                        std::memcpy(row + 4 * i, &px[k], 4);
                    } else {
                        row[i] = static_cast<unsigned char>(px[k] * 255.0f + 0.5f);
                    }
                }
            }
        }
    }
};

// The threads of the running benchmark: its argument, else the hardware count.
int gThreads = 0;
int benchThreads() {
    return gThreads > 0 ? gThreads : std::min(hardwareThreads(), 32);
}
void takeThreads(const benchmark::State& state) {
    gThreads = static_cast<int>(state.range(0));
}

enum class Scene { neutral, look, everything };

GradeSettings sceneSettings(Scene scene, int height) {
    GradeSettings s;
    s.encoding = CameraEncoding::AppleLog;
    s.frameHeight = height;
    s.threadCount = benchThreads();
    if (scene == Scene::neutral) {
        return s;
    }
    s.lutData = look().data();
    s.lutEdge = kLutEdge;
    s.intensity = 0.8f;
    if (scene == Scene::look) {
        return s;
    }
    s.exposure = 0.5f;
    s.temperature = 0.2f;
    s.tint = -0.1f;
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
    return s;
}

// CPU time of the whole process (every thread), in milliseconds. On a machine shared with
// other work, wall time stretches with the load while CPU time per frame stays close to
// what an idle machine gives, so both are reported.
double processCpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// Reports Mpix/s of wall time, and CPU milliseconds per frame over all threads with the
// Mpix/s that those would give with the frame shared evenly over the threads.
void setRate(benchmark::State& state, int w, int h, double cpuMs) {
    const double pixels = static_cast<double>(w) * h;
    const double frames = static_cast<double>(state.iterations());
    state.counters["Mpix/s"] =
        benchmark::Counter(pixels * frames / 1e6, benchmark::Counter::kIsRate);
    state.counters["cpuMsPerFrame"] = cpuMs / frames;
    state.counters["cpuMpix/s"] = pixels / 1e3 / (cpuMs / frames / benchThreads());
    state.counters["threads"] = benchThreads();
}

void gradeScene(benchmark::State& state, Scene scene, int w, int h, int depth) {
    takeThreads(state);
    const Frame src(w, h, depth, true);
    Frame dst(w, h, depth, false);
    const GradeSettings s = sceneSettings(scene, h);
    const PixelRect rect{0, 0, w, h};
    // One instance rendering frame after frame: its buffers are kept between renders.
    RenderScratch scratch;
    const double cpu0 = processCpuMs();
    for (auto _ : state) {
        if (!renderCpu(&src.view, dst.view, rect, rect, s, &scratch)) {
            state.SkipWithError("render failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    setRate(state, w, h, processCpuMs() - cpu0);
}

// Runs fn(first, last) on the benchmark threads, each taking an even share of [0, total).
template <typename Fn>
void onThreads(std::size_t total, Fn fn) {
    struct Job {
        std::size_t total;
        Fn* fn;
    } job{total, &fn};
    runOnThreads(
        benchThreads(),
        [](void* arg, int i, int count) {
            auto* j = static_cast<Job*>(arg);
            (*j->fn)(j->total * static_cast<std::size_t>(i) / static_cast<std::size_t>(count),
                     j->total * static_cast<std::size_t>(i + 1) / static_cast<std::size_t>(count));
        },
        &job);
}

void BM_Memcpy4K(benchmark::State& state) {
    takeThreads(state);
    const Frame src(3840, 2160, kDepthFloat, true);
    Frame dst(3840, 2160, kDepthFloat, false);
    const double cpu0 = processCpuMs();
    for (auto _ : state) {
        onThreads(src.bytes.size(), [&](std::size_t first, std::size_t last) {
            std::memcpy(dst.bytes.data() + first, src.bytes.data() + first, last - first);
        });
        benchmark::ClobberMemory();
    }
    setRate(state, 3840, 2160, processCpuMs() - cpu0);
}

#ifdef VD_HAVE_OCIO
namespace OCIO = OCIO_NAMESPACE;

void BM_OcioLut4K(benchmark::State& state) {
    takeThreads(state);
    const Frame src(3840, 2160, kDepthFloat, true);
    Frame dst(3840, 2160, kDepthFloat, false);
    auto lut = OCIO::Lut3DTransform::Create(kLutEdge);
    const std::vector<float>& cube = look();
    for (unsigned long b = 0; b < kLutEdge; ++b) {
        for (unsigned long g = 0; g < kLutEdge; ++g) {
            for (unsigned long r = 0; r < kLutEdge; ++r) {
                const float* v = cube.data() + 3 * (r + g * kLutEdge + b * kLutEdge * kLutEdge);
                lut->setValue(r, g, b, v[0], v[1], v[2]);
            }
        }
    }
    lut->setInterpolation(OCIO::INTERP_TETRAHEDRAL);
    const auto config = OCIO::Config::CreateRaw();
    const auto cpu = config->getProcessor(lut)->getDefaultCPUProcessor();
    const double cpu0 = processCpuMs();
    for (auto _ : state) {
        onThreads(2160, [&](std::size_t first, std::size_t last) {
            const std::size_t offset = first * 3840 * 16;
            OCIO::PackedImageDesc in(const_cast<unsigned char*>(src.bytes.data()) + offset, 3840,
                                     static_cast<long>(last - first), 4);
            OCIO::PackedImageDesc out(dst.bytes.data() + offset, 3840,
                                      static_cast<long>(last - first), 4);
            cpu->apply(in, out);
        });
        benchmark::ClobberMemory();
    }
    setRate(state, 3840, 2160, processCpuMs() - cpu0);
}
BENCHMARK(BM_OcioLut4K)->Unit(benchmark::kMillisecond)->UseRealTime()->Arg(1)->Arg(2);
#endif

// Peak resident memory of one full-effects 4K render beyond the two frames, read from
// the kernel's high-water mark after resetting it.
long readStatusKiB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::stol(line.substr(std::strlen(key)));
        }
    }
    return -1;
}

void BM_PeakMemoryEverything4K(benchmark::State& state) {
    takeThreads(state);
    const Frame src(3840, 2160, kDepthFloat, true);
    Frame dst(3840, 2160, kDepthFloat, true);  // touched, so it counts in the baseline
    const GradeSettings s = sceneSettings(Scene::everything, 2160);
    const PixelRect rect{0, 0, 3840, 2160};
    double extraMiB = 0.0;
    double heldMiB = 0.0;
    for (auto _ : state) {
        // A fresh instance: what its first render allocates counts.
        RenderScratch scratch;
        std::ofstream("/proc/self/clear_refs") << "5";
        const long base = readStatusKiB("VmRSS:");
        renderCpu(&src.view, dst.view, rect, rect, s, &scratch);
        const long peak = readStatusKiB("VmHWM:");
        extraMiB = std::max(extraMiB, static_cast<double>(peak - base) / 1024.0);
        heldMiB = static_cast<double>(scratch.heldBytes()) / (1024.0 * 1024.0);
    }
    state.counters["extraMiB"] = extraMiB;
    state.counters["heldMiB"] = heldMiB;
    state.counters["framesMiB"] = 2.0 * 3840.0 * 2160.0 * 16.0 / (1024.0 * 1024.0);
}

}  // namespace

BENCHMARK(BM_Memcpy4K)->Unit(benchmark::kMillisecond)->UseRealTime()->Arg(1)->Arg(2);
#define VD_SCENE(name, scene, w, h, depth)                         \
    BENCHMARK_CAPTURE(gradeScene, name, Scene::scene, w, h, depth) \
        ->Unit(benchmark::kMillisecond)                            \
        ->UseRealTime()                                            \
        ->Arg(1)                                                   \
        ->Arg(2)
VD_SCENE(Neutral4K, neutral, 3840, 2160, kDepthFloat);
VD_SCENE(Look4K, look, 3840, 2160, kDepthFloat);
VD_SCENE(Look4K8bit, look, 3840, 2160, kDepthByte);
VD_SCENE(Everything1080, everything, 1920, 1080, kDepthFloat);
VD_SCENE(Everything1080_8bit, everything, 1920, 1080, kDepthByte);
VD_SCENE(Everything4K, everything, 3840, 2160, kDepthFloat);
BENCHMARK(BM_PeakMemoryEverything4K)->Unit(benchmark::kMillisecond)->Iterations(1)->Arg(2);

// VD_BENCH_SIMD=baseline measures the SSE2 code on a CPU that has wider vectors.
int main(int argc, char** argv) {
    const char* simd = std::getenv("VD_BENCH_SIMD");
    if (simd != nullptr && std::string(simd) == "baseline") {
        vd::selectSimdTarget(vd::SimdTarget::baseline);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
