// The working state of one CPU render: clamped control values, pixel radii, effect
// regions, processing flags and the halation and bloom buffers.
//
// Owns: GradeContext and the pure derivations from GradeSettings (working values, flags,
// radii, grain cell, divider, effect regions, grid sizes, blur radii).
// Does not own: running passes or filling buffers (Grade.cpp, Effects.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "grade/GradeSettings.h"
#include "grade/ImageView.h"
#include "grade/PixelMath.h"
#include "grade/RenderScratch.h"
#include "grade/Threads.h"

namespace vd {

enum class PassMode { haloMask, bloomSource, final };

// A region of an effect buffer, in pixels of the render.
struct EffectRegion {
    int32_t x1 = 0;
    int32_t y1 = 0;
    int32_t w = 1;
    int32_t h = 1;
};

// The largest number of floats one render buffer may hold (4 GiB); a larger request fails
// the render instead of exhausting memory.
inline constexpr std::size_t kMaxBufferFloats = std::size_t{1} << 30;

// Effect radii above this many pixels are treated as this many (no frame is that tall).
inline constexpr int32_t kMaxEffectRadiusPx = 1 << 24;

struct GradeContext {
    const ImageView* src = nullptr;
    const ImageView* dst = nullptr;
    const GradeSettings* settings = nullptr;
    const float* curve = nullptr;  // packed curve table of the working encoding

    // Working values.
    float exposureStops = 0.0f;
    float exposureGain = 1.0f;
    CameraEncoding encoding = CameraEncoding::AppleLog;
    float intensity = 1.0f;
    float contrast = 0.0f;
    float saturation = 0.0f;
    float temperature = 0.0f;
    float tint = 0.0f;
    float highlights = 0.0f;
    float shadows = 0.0f;
    float grainAmount = 0.0f;
    float grainCell = 1.0f;
    float halationAmount = 0.0f;
    float bloomAmount = 0.0f;
    float bloomThreshold = 0.7f;
    float vignetteAmount = 0.0f;
    float vignetteSize = 0.5f;
    float vignetteFeather = 0.5f;
    float borderTop = 0.0f;
    float borderSide = 0.0f;
    float borderColour[3] = {0.0f, 0.0f, 0.0f};

    // Values the adjustment step uses: 0 where the value is not finite or its flag is clear.
    float stepContrast = 0.0f;
    float stepHighlights = 0.0f;
    float stepShadows = 0.0f;
    float stepSaturation = 0.0f;
    double wbGain[3] = {1.0, 1.0, 1.0};  // white balance per channel, before the luma is kept
    float haloGain = 0.0f;               // amount^2 x 1.65
    float bloomGain = 0.0f;              // amount^2 x 2.15

    // Geometry.
    FrameRect rod{0.0f, 0.0f, 0.0f, 0.0f};
    float splitX = 0.0f;
    float splitHalf = 0.5f;
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // rows and columns of the current pass
    int32_t frame = 0;
    int32_t haloRadiusPx = 0;
    int32_t bloomRadiusPx = 0;

    uint32_t flags = 0;

    // The look's cube with 4 floats per entry (one vector load each).
    const float* lutPacked = nullptr;

    // Halation buffers: the colours of the mask region after saturation (RGB, rows
    // maskRegion.w x 3 floats apart; the bloom-source pass turns the bloom region's part
    // of them into colours after halation, in place) and the blurred quarter-resolution
    // cover. The cover at full resolution is haloCover of those colours.
    EffectRegion maskRegion;
    int32_t blurW = 0, blurH = 0, blurRadius = 1;
    float* maskColour = nullptr;
    float* small = nullptr;  // blurW x blurH

    // Bloom buffers: the bloom region's colours after halation (the first of them at
    // bloomColour, rows bloomStride floats apart) and the two blurred levels.
    EffectRegion bloomRegion;
    int32_t bloom0W = 0, bloom0H = 0, bloom1W = 0, bloom1H = 0;
    int32_t bloomRad0 = 1, bloomRad1 = 1;
    float* bloomColour = nullptr;
    std::size_t bloomStride = 0;
    float* level0 = nullptr;  // bloom0W x bloom0H RGB
    float* level1 = nullptr;  // bloom1W x bloom1H RGB

    PassMode mode = PassMode::final;

    // Per-band row scratch of the current pass (integer rows converted to float, grain).
    float* rowScratch = nullptr;
    std::size_t scratchPerBand = 0;
    int bands = 1;

    ThreadPlan plan;
    RenderScratch* scratch = nullptr;

    bool has(uint32_t flag) const { return (flags & flag) != 0; }
};

// Frame height H of the derivations: frameHeight when at least 1, else the frame
// rectangle's height divided by the scale.
float derivedFrameHeight(const GradeSettings& s, const PixelRect& frameRect);

// Vertical render scale, 1 when not above 0 or not finite.
float derivedScale(const GradeSettings& s);

// Effect radii in pixels of the render. A negative or non-finite radius counts as 0 and a
// radius above 4 (the control's maximum) as 4.
int32_t haloRadiusPixels(float radius, float frameHeight, float scale);
int32_t bloomRadiusPixels(float radius, float frameHeight, float scale);

// Grain cell size in pixels of the render, at least 1.
float grainCellPixels(float grainSize, float frameHeight, float scale);

// Split-screen divider width in pixels, at least 1.
int32_t dividerWidthPixels(float frameHeight, float scale);

// Fills the working values, geometry and flags (no buffers). frameRect is the output's
// region of definition (an empty one is replaced by the destination bounds); window is
// the render window already clipped to the destination.
GradeContext deriveGradeContext(const GradeSettings& s, const ImageView* src, const ImageView& dst,
                                const PixelRect& frameRect, const PixelRect& window);

// The window grown by radius on every side, clipped to the source bounds when there is a
// source, then widened again to contain the window. With align above 1 the first column
// and row then move back to the nearest multiple of align from (originX, originY), the
// frame rectangle's corner, so that the quarter- and sixteenth-resolution grids of a tile
// fall on the same lattice as those of the whole frame. Nothing when the region cannot be
// represented in 32-bit coordinates.
std::optional<EffectRegion> effectRegion(const PixelRect& window, int32_t radius,
                                         const PixelRect* sourceBounds, int32_t align = 1,
                                         int32_t originX = 0, int32_t originY = 0);

// Lattice of the effect regions: the bloom source is reduced twice by 4, the halation
// mask once; both regions share it so that the mask region always contains the bloom
// region.
inline constexpr int32_t kRegionAlign = 16;

// Quarter-resolution size of a length: max((n + 3) / 4, 1).
inline int32_t quarterSize(int32_t n) {
    return n + 3 >= 4 ? (n + 3) / 4 : 1;
}

// Blur radii of the quarter-resolution grids.
int32_t haloBlurRadius(int32_t radiusPx);
int32_t bloomBlurRadius0(int32_t radiusPx);
int32_t bloomBlurRadius1(int32_t radiusPx);

// How far from a pixel the halation and bloom composites read the picture, in pixels of
// the render: the footprint of the 8 x 8 downsample, the blur and the bilinear read, and
// for bloom's second level all of that at sixteenth resolution. Never less than the
// radius itself. Growing the effect regions by these reaches (rather than by the bare
// radius) is what makes a frame rendered in tiles match the frame rendered whole.
int32_t haloReachPixels(int32_t haloRadiusPx);
int32_t bloomReachPixels(int32_t bloomRadiusPx);

struct EffectReach {
    int32_t mask = 0;    // halation mask region: halation reach, plus bloom's when both run
    int32_t bloom = 0;   // bloom region
    int32_t source = 0;  // what the source must cover around the window
};
EffectReach effectReach(const GradeContext& c);

// w x h x channels floats, or nothing when that overflows or exceeds kMaxBufferFloats.
std::optional<std::size_t> checkedBufferFloats(int64_t w, int64_t h, int64_t channels);

}  // namespace vd
