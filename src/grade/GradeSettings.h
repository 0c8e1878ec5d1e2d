// The control values and render context of one render, as the render action hands them
// to the grading engine, and the processing flags derived from them.
//
// Owns: GradeSettings (field order fixed; a default-constructed record holds the values of
// a fresh record), the host thread-pool entry type and the flag bit values shared with the
// device kernels.
// Does not own: clamping or deriving working values (GradeContext.h does that).
#pragma once

#include <cstdint>

#include "grade/CameraEncoding.h"

namespace vd {

// A band worker: grades band `threadIndex` of `threadCount`.
using GradeWorker = void (*)(void* arg, int threadIndex, int threadCount);

// The host thread-pool entry: runs worker(arg, i, threadCount) for i = 0..threadCount-1 on
// the host's threads and returns when all are done. An entry whose host call fails runs
// worker(arg, 0, 1) on the calling thread instead, so the work is always done.
using MultiThreadEntry = void (*)(void* context, int threadCount, GradeWorker worker, void* arg);

struct GradeSettings {
    float exposure = 0.0f;  // stops
    CameraEncoding encoding = CameraEncoding::AppleLog;
    float highlights = 0.0f;
    float shadows = 0.0f;
    bool premultiplied = false;
    const float* lutData = nullptr;  // edge^3 RGB samples, red fastest; not owned
    int32_t lutEdge = 0;
    float intensity = 1.0f;
    float contrast = 0.0f;
    float saturation = 0.0f;
    float temperature = 0.0f;
    float tint = 0.0f;
    float grainAmount = 0.0f;
    float grainSize = 1.0f;
    float halationAmount = 0.0f;
    float halationRadius = 1.0f;
    float bloomAmount = 0.0f;
    float bloomRadius = 1.0f;
    float bloomThreshold = 0.7f;
    float vignetteAmount = 0.0f;
    float vignetteSize = 0.5f;
    float vignetteFeather = 0.5f;
    float borderTop = 0.0f;
    float borderSide = 0.0f;
    float borderColour[3] = {0.0f, 0.0f, 0.0f};
    bool beforeAfter = false;
    bool splitScreen = false;
    float splitPosition = 0.5f;
    int32_t frame = 0;
    float renderScale = 1.0f;
    int32_t frameHeight = 0;
    int32_t threadCount = 0;
    MultiThreadEntry multiThread = nullptr;
    void* multiThreadContext = nullptr;
    // Optional: the same cube as lutData with 4 floats per entry (the fourth unused), as
    // the look store keeps it; without it the engine packs lutData itself. Not owned.
    const float* lutPacked = nullptr;
};

// Processing flags. The bit values are those of the device parameter block.
inline constexpr uint32_t kDoLinear = 1;
inline constexpr uint32_t kDoExposure = 2;
inline constexpr uint32_t kDoShoulder = 4;
inline constexpr uint32_t kDoWb = 8;
inline constexpr uint32_t kDoLut = 16;
inline constexpr uint32_t kDoContrast = 32;
inline constexpr uint32_t kDoZones = 64;
inline constexpr uint32_t kDoSat = 128;
inline constexpr uint32_t kDoGrain = 256;
inline constexpr uint32_t kDoHalo = 512;
inline constexpr uint32_t kPremultiply = 1024;
inline constexpr uint32_t kHasSrc = 2048;
inline constexpr uint32_t kGather = 4096;
inline constexpr uint32_t kDoVignette = 8192;
inline constexpr uint32_t kDoBorder = 16384;
inline constexpr uint32_t kDoBloom = 32768;
inline constexpr uint32_t kDoSplit = 65536;
inline constexpr uint32_t kDoBeforeAfter = 131072;

}  // namespace vd
