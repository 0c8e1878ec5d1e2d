// What both GPU back ends share: the device parameter block, the per-render plan derived
// from the images and the settings, and the kernel source and PTX the plug-in carries.
//
// Owns: Params (the layout the kernels read), DevicePlan and buildDevicePlan (regions,
// grid sizes, blur radii and weights, buffer sizes with overflow checks), the packed
// curve tables as the devices receive them, and the embedded kernel texts.
// Does not own: any GPU API (OpenCl.cpp, Cuda.cpp) or the maths of a pixel (Grade.cl,
// mirroring src/grade).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "grade/GradeSettings.h"
#include "grade/ImageView.h"

namespace vd::gpu {

// The device parameter block: 65 four-byte fields, in the order Grade.cl declares them.
struct Params {
    int32_t srcX1, srcY1, srcRowBytes, srcComponents;
    int32_t dstX1, dstY1, dstRowBytes, dstComponents;
    int32_t x1, y1, x2, y2;
    int32_t maskX1, maskY1, maskW, maskH;
    int32_t blurW, blurH;
    int32_t lutEdge, curveSize, frame, flags, blurRadius, encoding;
    int32_t pad0, pad1;  // right and top edge (exclusive) of the source bounds
    float exposureGain, intensity, contrast, saturation;
    float temperature, tint, highlights, shadows;
    float grainAmount, grainCell, halationAmount;
    int32_t bloomX1, bloomY1, bloomW, bloomH;
    int32_t bloom0W, bloom0H, bloom1W, bloom1H;
    int32_t bloomRad0, bloomRad1, bloomPad0, bloomPad1;
    float bloomAmount, bloomThreshold, vignetteAmount, vignetteSize;
    float vignetteFeather, borderTop, borderSide, borderR;
    float borderG, borderB, rodX1, rodY1, rodX2, rodY2;
    float splitX, splitHalf;
};
static_assert(sizeof(Params) == 260, "Params must match the kernels' block: 65 fields, no padding");

// The kernels, in the order both back ends keep them.
enum Kernel : int {
    kMask,
    kDown,
    kBlurH,
    kBlurV,
    kGrade,
    kBloomExtract,
    kBloomDown,
    kBloomBlurH,
    kBloomBlurV,
    kFinish,
    kKernelCount
};
extern const char* const kKernelNames[kKernelCount];

// Byte sizes of every per-render device buffer; all checked against overflow.
struct BufferSizes {
    std::size_t core = 0;    // maskW x maskH floats
    std::size_t small = 0;   // blurW x blurH floats (also tmp)
    std::size_t graded = 0;  // bloomW x bloomH x 16 bytes
    std::size_t level0 = 0;  // bloom0W x bloom0H x 16 bytes (also tmp0)
    std::size_t level1 = 0;  // bloom1W x bloom1H x 16 bytes
    std::size_t lut = 4;     // edge^3 x 3 floats, or a 4-byte zero
};

struct DevicePlan {
    Params main{};
    Params gather{};  // bloom region written as float4, kGather set
    Params level1{};  // main with level 1's sizes and radius in level 0's fields
    bool halo = false;
    bool bloom = false;
    bool lut = false;
    bool empty = false;  // the window misses the output: nothing to launch
    int32_t encoding = 0;
    int32_t width = 0;  // of the window
    int32_t height = 0;
    const float* lutData = nullptr;  // borrowed from the settings
    std::size_t lutFloats = 0;
    std::vector<float> haloWeights;
    std::vector<float> bloomWeights0;
    std::vector<float> bloomWeights1;
    BufferSizes sizes;
};

// Fills the plan of one render. False when an image is unusable on a device (no buffer,
// zero row bytes, not float, not 3 or 4 components) or a buffer size would overflow.
// True with `empty` set when the window does not meet the output.
bool buildDevicePlan(const ImageView* src, const ImageView& dst, const PixelRect& window,
                     const PixelRect& frameRect, const GradeSettings& settings, DevicePlan& plan);

// The packed curve table of an encoding (0, 1, 2) as the devices receive it.
inline constexpr std::size_t kCurveTableBytes = 12289 * sizeof(float);
const float* deviceCurveTable(int encoding);

// The kernel source (OpenCL C and CUDA in one text) and the PTX built from it; both
// zero-terminated.
extern const char kKernelSource[];
extern const std::size_t kKernelSourceLength;
extern const char kKernelPtx[];

// Enqueues one kernel over a w x h extent. Used by the launch sequence both back ends
// share; false fails the render.
class Launcher {
  public:
    virtual ~Launcher() = default;
    // Device buffer handles are opaque 64-bit values to the sequence.
    using Buffer = void*;
    virtual bool launch(Kernel k, int32_t w, int32_t h, const Buffer* args, int count) = 0;
    // A read-write device buffer, or null. Kept by the back end until the render ends.
    virtual Buffer scratch(std::size_t bytes) = 0;
    // A read-only copy of host data, or null.
    virtual Buffer upload(const void* data, std::size_t bytes) = 0;
    // Whether a launch of this render may still be running (for the CUDA waits).
    bool launched = false;
};

// The fixed inputs of a render.
struct RenderInputs {
    Launcher::Buffer src;     // the source image, or the zero buffer
    Launcher::Buffer dst;     // the output image
    Launcher::Buffer curves;  // the packed table of the plan's encoding
    Launcher::Buffer zero;    // a 4-byte zero
};

// Creates the per-render buffers and launches the kernels of the plan in order. False at
// the first failed buffer or launch.
bool runPlan(const DevicePlan& plan, const RenderInputs& in, Launcher& launcher);

}  // namespace vd::gpu
