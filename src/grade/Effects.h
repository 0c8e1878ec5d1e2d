// The quarter-resolution machinery of halation and bloom: the 8 x 8 Gaussian downsample,
// the separable blur and bilinear reads of the grids.
//
// Owns: buffer-level operations on float grids of 1 or 3 channels.
// Does not own: what goes into the grids (the mask and bloom-source passes of Grade.cpp)
// or the composites.
#pragma once

#include <cmath>
#include <cstddef>

#include "grade/PixelMath.h"
#include "grade/Threads.h"

namespace vd {

// Floats of `work` the reductions below need for an inW x inH input reduced to outW
// columns, on up to `bands` bands.
std::size_t reduceWorkFloats(int inW, int inH, int outW, int channels, int bands);

// Reduces an inW x inH grid (rows `stride` floats apart) by 4 in each direction into
// outW x outH: each output cell is the Gaussian-weighted mean of the 8 x 8 input pixels
// 4i-2 .. 4i+5, taps clamped to the edges (a flat field stays flat).
void downsampleQuarter(const ThreadPlan& plan, const float* in, std::size_t stride, int inW,
                       int inH, int channels, float* out, int outW, int outH, float* work);

// The first bloom level: the same reduction of an RGB picture, each tap taken as
// bloomCover(luma, threshold) x displayToLinear(colour) (0 where the cover is 0).
void extractBloomLevel(const ThreadPlan& plan, const float* rgb, std::size_t stride, int inW,
                       int inH, float threshold, float* out, int outW, int outH, float* work);

// The halation level: the same reduction of haloCover of an RGB picture (1 channel).
void extractHaloLevel(const ThreadPlan& plan, const float* rgb, std::size_t stride, int inW,
                      int inH, float* out, int outW, int outH, float* work);

// What one pixel contributes to the first bloom level.
inline void bloomExtract(const float* rgb, float threshold, float* out) {
    const float cover =
        bloomCover(0.2126f * rgb[0] + 0.7152f * rgb[1] + 0.0722f * rgb[2], threshold);
    if (cover > 0.0f) {
        out[0] = cover * powUp(rgb[0]);
        out[1] = cover * powUp(rgb[1]);
        out[2] = cover * powUp(rgb[2]);
    } else {
        out[0] = out[1] = out[2] = 0.0f;
    }
}

// Largest blur radius (the caps of the callers are at most this).
inline constexpr int kMaxBlurTaps = 48;

// Normalised Gaussian weights for a blur of the given radius into w: k = min(radius, cap,
// kMaxBlurTaps), sigma = max(k / 3.2, 1.6), 2k + 1 weights summing to 1. Returns k.
int blurWeights(int radius, int cap, float (&w)[2 * kMaxBlurTaps + 1]);

// Separable Gaussian blur in place (horizontal, then vertical), taps clamped to the edges,
// with w x h x channels floats of `work`. Nothing happens when a size or the radius is
// below 1.
void blurSeparable(const ThreadPlan& plan, float* grid, int w, int h, int channels, int radius,
                   int cap, float* work);

// Row part of a bilinear grid read at fractional position f of a grid n cells long.
struct GridAxis {
    int i0, i1;
    float t;
};

inline GridAxis gridAxis(float f, int n) {
    float fl = std::floor(f);
    const float top = static_cast<float>(n - 1);
    const float ic = clampf(fl, 0.0f, top);
    const int i0 = static_cast<int>(ic);
    const int i1 = i0 + 1 < n ? i0 + 1 : n - 1;
    return {i0, i1, clampf(f - ic, 0.0f, 1.0f)};
}

}  // namespace vd
