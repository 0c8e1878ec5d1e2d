// The quarter-resolution machinery of halation and bloom: the 8 x 8 Gaussian downsample,
// the separable blur and bilinear reads of the grids.
//
// Owns: buffer-level operations on float grids of 1 or 3 channels.
// Does not own: what goes into the grids (the mask and bloom-source passes of Grade.cpp)
// or the composites.
#pragma once

#include <cmath>
#include <vector>

#include "grade/PixelMath.h"

namespace vd {

// Reduces an inW x inH grid by 4 in each direction into outW x outH: each output cell is
// the Gaussian-weighted mean of the 8 x 8 input pixels 4i-2 .. 4i+5, taps clamped to the
// edges (a flat field stays flat). Throws std::bad_alloc when its scratch cannot be had.
void downsampleQuarter(const float* in, int inW, int inH, int channels, float* out, int outW,
                       int outH);

// The first bloom level: the same reduction of an RGB picture, each tap taken as
// bloomCover(luma, threshold) x displayToLinear(colour) (0 where the cover is 0).
void extractBloomLevel(const float* rgb, int inW, int inH, float threshold, float* out, int outW,
                       int outH);

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

// Normalised Gaussian weights for a blur of the given radius: k = min(radius, cap),
// sigma = max(k / 3.2, 1.6), 2k + 1 weights summing to 1.
std::vector<float> blurWeights(int radius, int cap);

// Separable Gaussian blur in place (horizontal, then vertical), taps clamped to the edges.
// Nothing happens when a size or the radius is below 1. Throws std::bad_alloc when its
// scratch cannot be had.
void blurSeparable(float* grid, int w, int h, int channels, int radius, int cap);

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
