#include "grade/Grade.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "grade/Curves.h"
#include "grade/Effects.h"
#include "grade/PixelMath.h"
#include "grade/Threads.h"

namespace vd {

namespace {

// ---- Steps of the per-pixel grade -------------------------------------------------------

// Decode to linear light, apply exposure, shoulder and white balance, encode back. A
// pixel with no channel above 0 in linear light keeps its code values.
inline void linearise(const GradeContext& c, float& r, float& g, float& b) {
    const float* curve = c.curve;
    float lr = fastDecode(r, curve);
    float lg = fastDecode(g, curve);
    float lb = fastDecode(b, curve);
    // Tiny positives are flushed to 0; negatives are kept.
    lr = lr < 1e-7f ? minf(lr, 0.0f) : lr;
    lg = lg < 1e-7f ? minf(lg, 0.0f) : lg;
    lb = lb < 1e-7f ? minf(lb, 0.0f) : lb;
    if (!(lr > 0.0f) && !(lg > 0.0f) && !(lb > 0.0f)) {
        return;
    }
    if (c.has(kDoExposure)) {
        lr *= c.exposureGain;
        lg *= c.exposureGain;
        lb *= c.exposureGain;
    }
    if (c.has(kDoShoulder)) {
        const float l = displayLuma(lr, lg, lb);
        if (l > 1.44f) {
            const float compressed = 1.44f + 44.64f * (1.0f - std::exp(-(l - 1.44f) / 44.64f));
            // Never below the pixel's brightness before the exposure gain.
            const float limited = maxf(compressed, l / c.exposureGain);
            const float k = limited / l;
            lr *= k;
            lg *= k;
            lb *= k;
        }
    }
    if (c.has(kDoWb)) {
        const double t = c.temperature;
        const double tint = c.tint;
        const double r0 = lr, g0 = lg, b0 = lb;
        const double l0 = 0.2126 * r0 + 0.7152 * g0 + 0.0722 * b0;
        double r1 = r0 * (1.0 + 0.25 * t);
        double b1 = b0 * (1.0 - 0.25 * t);
        double g1 = g0 * (1.0 - 0.2 * tint);
        const double l1 = 0.2126 * r1 + 0.7152 * g1 + 0.0722 * b1;
        if (l0 > 1e-8 && l1 > 1e-8) {
            const double k = l0 / l1;  // keeps the luma
            r1 *= k;
            g1 *= k;
            b1 *= k;
        }
        lr = static_cast<float>(r1);
        lg = static_cast<float>(g1);
        lb = static_cast<float>(b1);
    }
    r = fastEncode(lr, curve, c.encoding);
    g = fastEncode(lg, curve, c.encoding);
    b = fastEncode(lb, curve, c.encoding);
}

// Steps from linearisation to saturation: what the halation mask sees.
inline void gradeToSaturation(const GradeContext& c, float& r, float& g, float& b) {
    if (c.has(kDoLinear)) {
        linearise(c, r, g, b);
    }
    if (c.has(kDoLut)) {
        float out[3];
        sampleTetra(c.settings->lutData, c.settings->lutEdge, r, g, b, out);
        r += (out[0] - r) * c.intensity;
        g += (out[1] - g) * c.intensity;
        b += (out[2] - b) * c.intensity;
    }
    if ((c.flags & (kDoContrast | kDoZones | kDoSat)) != 0) {
        if (c.stepContrast != 0.0f) {
            const float f = 1.0f + c.stepContrast;
            r = (r - 0.5f) * f + 0.5f;
            g = (g - 0.5f) * f + 0.5f;
            b = (b - 0.5f) * f + 0.5f;
        }
        if (c.stepShadows != 0.0f) {
            applyShadowExposure(r, g, b, c.stepShadows);
        }
        if (c.stepHighlights != 0.0f) {
            applyHighlights(r, g, b, c.stepHighlights);
        }
        if (c.stepSaturation != 0.0f) {
            const float f = 1.0f + c.stepSaturation;
            const float l = displayLuma(r, g, b);
            r = l + (r - l) * f;
            g = l + (g - l) * f;
            b = l + (b - l) * f;
        }
    }
}

inline void applyGrain(const GradeContext& c, int x, int y, float& r, float& g, float& b) {
    const float l = clampf(displayLuma(r, g, b), 0.0f, 1.0f);
    const float w = smoothMask(0.02f, 0.22f, l) * (1.0f - smoothMask(0.78f, 0.98f, l));
    if (!(w > 0.0f)) {
        return;  // deep black and near white get no grain
    }
    const float amount = c.grainAmount * 0.22f * w;
    const float px = static_cast<float>(x) + 0.5f;
    const float py = static_cast<float>(y) + 0.5f;
    const uint32_t frame = static_cast<uint32_t>(c.frame);
    const float n = grainSignal(px, py, c.grainCell, frame);
    const float m = grainSignal(px + 19.0f, py + 7.0f, c.grainCell, frame + 17u);
    r = r + n * amount;
    g = g + n * amount * 0.92f + m * amount * 0.08f;
    b = b + n * amount * 0.92f - m * amount * 0.08f;
}

// The parts of the halation and bloom composites that are the same along a row.
struct RowEffects {
    bool halo = false;
    GridAxis haloY{0, 0, 0.0f};
    const float* maskRow = nullptr;  // null when the row lies outside the mask region
    bool bloom = false;
    GridAxis bloom0Y{0, 0, 0.0f};
    GridAxis bloom1Y{0, 0, 0.0f};
};

inline RowEffects rowEffects(const GradeContext& c, int y, PassMode mode) {
    RowEffects e;
    if (mode != PassMode::haloMask && c.has(kDoHalo) && !c.small.empty()) {
        e.halo = true;
        const int dy = y - c.maskRegion.y1;
        e.haloY = gridAxis((static_cast<float>(dy) + 0.5f) * 0.25f - 0.5f, c.blurH);
        if (dy >= 0 && dy < c.maskRegion.h) {
            e.maskRow = c.mask.data() + static_cast<std::size_t>(dy) * c.maskRegion.w;
        }
    }
    if (mode == PassMode::final && c.has(kDoBloom) && !c.level0.empty() && !c.level1.empty() &&
        c.bloomAmount > 0.0f) {
        e.bloom = true;
        const float fy = static_cast<float>(y - c.bloomRegion.y1) + 0.5f;
        e.bloom0Y = gridAxis(fy / 4.0f - 0.5f, c.bloom0H);
        e.bloom1Y = gridAxis(fy / 16.0f - 0.5f, c.bloom1H);
    }
    return e;
}

inline float bilinear1(const float* grid, int w, const GridAxis& ax, const GridAxis& ay) {
    const float* r0 = grid + static_cast<std::size_t>(ay.i0) * w;
    const float* r1 = grid + static_cast<std::size_t>(ay.i1) * w;
    const float top = r0[ax.i0] + (r0[ax.i1] - r0[ax.i0]) * ax.t;
    const float bottom = r1[ax.i0] + (r1[ax.i1] - r1[ax.i0]) * ax.t;
    return top + (bottom - top) * ay.t;
}

inline void bilinear3(const float* grid, int w, const GridAxis& ax, const GridAxis& ay,
                      float out[3]) {
    const float* r0 = grid + static_cast<std::size_t>(ay.i0) * w * 3;
    const float* r1 = grid + static_cast<std::size_t>(ay.i1) * w * 3;
    for (int k = 0; k < 3; ++k) {
        const float a = r0[ax.i0 * 3 + k], b = r0[ax.i1 * 3 + k];
        const float cc = r1[ax.i0 * 3 + k], d = r1[ax.i1 * 3 + k];
        const float top = a + (b - a) * ax.t;
        const float bottom = cc + (d - cc) * ax.t;
        out[k] = top + (bottom - top) * ay.t;
    }
}

// Rounding noise of the normalised blur weights can leave a ring of about 1e-7 inside a
// uniformly bright area; anything this small is no glow.
inline constexpr float kRingFloor = 1e-6f;

inline void applyHaloComposite(const GradeContext& c, const RowEffects& e, int x, float& r,
                               float& g, float& b) {
    const int dx = x - c.maskRegion.x1;
    const GridAxis ax = gridAxis((static_cast<float>(dx) + 0.5f) * 0.25f - 0.5f, c.blurW);
    const float wide = bilinear1(c.small.data(), c.blurW, ax, e.haloY);
    const float cover =
        e.maskRow != nullptr && dx >= 0 && dx < c.maskRegion.w ? e.maskRow[dx] : 0.0f;
    float ring = maxf(wide - cover, 0.0f);
    if (ring < kRingFloor) {
        ring = 0.0f;
    }
    screenBlend(r, g, b, ring, ring * 0.16f, 0.0f, c.haloGain);
}

inline void applyBloomComposite(const GradeContext& c, const RowEffects& e, int x, float& r,
                                float& g, float& b) {
    const float fx = static_cast<float>(x - c.bloomRegion.x1) + 0.5f;
    float wide[3], broad[3];
    bilinear3(c.level0.data(), c.bloom0W, gridAxis(fx / 4.0f - 0.5f, c.bloom0W), e.bloom0Y, wide);
    bilinear3(c.level1.data(), c.bloom1W, gridAxis(fx / 16.0f - 0.5f, c.bloom1W), e.bloom1Y, broad);
    screenBlend(r, g, b, 0.82f * wide[0] + 0.22f * broad[0], 0.82f * wide[1] + 0.22f * broad[1],
                0.82f * wide[2] + 0.22f * broad[2], c.bloomGain);
}

// ---- Rows -------------------------------------------------------------------------------

template <PassMode Mode>
void gradeRow(GradeContext& c, int y) {
    const ImageView* src = c.src;
    const float* srcRow = nullptr;
    int srcX1 = 0, srcX2 = 0, srcComps = 0;
    if (src != nullptr && y >= src->y1 && y < src->y2) {
        srcRow = reinterpret_cast<const float*>(imageRow(*src, y));
        srcX1 = src->x1;
        srcX2 = src->x2;
        srcComps = src->components;
    }
    const RowEffects e = rowEffects(c, y, Mode);
    const bool premultiply = c.has(kPremultiply);
    const bool beforeAfter = c.has(kDoBeforeAfter);

    float* out = nullptr;
    int dstComps = 0;
    if constexpr (Mode == PassMode::final) {
        const ImageView& dst = *c.dst;
        dstComps = dst.components;
        out = reinterpret_cast<float*>(imageRow(dst, y)) +
              static_cast<std::ptrdiff_t>(c.x1 - dst.x1) * dstComps;
    } else if constexpr (Mode == PassMode::haloMask) {
        out = c.mask.data() + static_cast<std::size_t>(y - c.maskRegion.y1) * c.maskRegion.w +
              (c.x1 - c.maskRegion.x1);
    } else {
        out = c.bloomSource.data() +
              (static_cast<std::size_t>(y - c.bloomRegion.y1) * c.bloomRegion.w +
               static_cast<std::size_t>(c.x1 - c.bloomRegion.x1)) *
                  3;
    }

    for (int x = c.x1; x < c.x2; ++x) {
        float r = 0.0f, g = 0.0f, b = 0.0f, a = 1.0f;
        if (srcRow != nullptr && x >= srcX1 && x < srcX2) {
            const float* p = srcRow + static_cast<std::ptrdiff_t>(x - srcX1) * srcComps;
            r = p[0];
            g = p[1];
            b = p[2];
            if (srcComps == 4) {
                a = p[3];
            }
        }
        if (premultiply) {
            if (a > 0.000001f) {
                r /= a;
                g /= a;
                b /= a;
            } else {
                // Transparent: nothing to grade and nothing to glow.
                if constexpr (Mode == PassMode::final) {
                    for (int k = 0; k < dstComps; ++k) {
                        out[k] = 0.0f;
                    }
                    out += dstComps;
                } else if constexpr (Mode == PassMode::haloMask) {
                    *out++ = 0.0f;
                } else {
                    out[0] = out[1] = out[2] = 0.0f;
                    out += 3;
                }
                continue;
            }
        }
        const float beforeR = r, beforeG = g, beforeB = b;
        if (!beforeAfter) {
            gradeToSaturation(c, r, g, b);
            if constexpr (Mode == PassMode::haloMask) {
                *out++ = haloCover(r, g, b);
                continue;
            }
            if (c.has(kDoGrain)) {
                applyGrain(c, x, y, r, g, b);
            }
            if (e.halo) {
                applyHaloComposite(c, e, x, r, g, b);
            }
            if constexpr (Mode == PassMode::bloomSource) {
                // Stored as what the level-0 extraction sums: cover x display-to-linear.
                const float cover = bloomCover(displayLuma(r, g, b), c.bloomThreshold);
                if (cover > 0.0f) {
                    out[0] = cover * powUp(r);
                    out[1] = cover * powUp(g);
                    out[2] = cover * powUp(b);
                } else {
                    out[0] = out[1] = out[2] = 0.0f;
                }
                out += 3;
                continue;
            }
            if (e.bloom) {
                applyBloomComposite(c, e, x, r, g, b);
            }
            if (c.has(kDoVignette)) {
                const float s =
                    vignetteScale(x, y, c.rod, c.vignetteAmount, c.vignetteSize, c.vignetteFeather);
                const float dither = vignetteDither(x, y, c.frame);
                r = r * s + dither;
                g = g * s + dither;
                b = b * s + dither;
            }
            if (c.has(kDoBorder) && borderCovers(x, y, c.rod, c.borderTop, c.borderSide)) {
                r = c.borderColour[0];
                g = c.borderColour[1];
                b = c.borderColour[2];
            }
            if (c.has(kDoSplit)) {
                const int side = splitSide(x, c.splitX, c.splitHalf);
                if (side == 0) {
                    r = g = b = 1.0f;
                } else if (side < 0) {
                    r = beforeR;
                    g = beforeG;
                    b = beforeB;
                }
            }
        }
        if constexpr (Mode == PassMode::final) {
            if (premultiply) {
                r *= a;
                g *= a;
                b *= a;
            }
            out[0] = r;
            out[1] = g;
            out[2] = b;
            if (dstComps == 4) {
                out[3] = a;
            }
            out += dstComps;
        }
    }
}

// Threads of a pass, as the settings and the region's size ask.
int passThreads(const GradeSettings& s, PassMode mode, int rows, int64_t pixels) {
    const int t = s.threadCount >= 1 ? s.threadCount : hardwareThreads();
    if (s.threadCount == 1) {
        return 1;
    }
    if (mode == PassMode::final && s.threadCount < 1 && pixels < 65536) {
        return 1;
    }
    return std::max(1, std::min({t, rows, 32}));
}

void runPass(GradeContext& c, PassMode mode, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    c.mode = mode;
    c.x1 = x1;
    c.y1 = y1;
    c.x2 = x2;
    c.y2 = y2;
    const int rows = y2 - y1;
    const int64_t pixels = int64_t{x2 - x1} * rows;
    GradePass pass{&c, mode};
    runRows(*c.settings, passThreads(*c.settings, mode, rows, pixels), pass);
}

// Builds the halation mask, its quarter-resolution copy and the blur. False when the
// buffers would be too large.
bool prepareHalation(GradeContext& c, const PixelRect& window) {
    // When bloom also runs, its source pass composites halation over the bloom region:
    // the mask covers that region too, or its pixels would read cover 0 beside an
    // edge-clamped blur and take a full ring.
    const int32_t reach = effectReach(c).mask;
    const PixelRect srcBounds = c.src != nullptr ? imageBounds(*c.src) : PixelRect{};
    const auto region =
        effectRegion(window, reach, c.src != nullptr ? &srcBounds : nullptr, kMaskAlign,
                     static_cast<int32_t>(c.rod.x1), static_cast<int32_t>(c.rod.y1));
    if (!region) {
        return false;
    }
    const auto maskFloats = checkedBufferFloats(region->w, region->h, 1);
    const int32_t bw = quarterSize(region->w);
    const int32_t bh = quarterSize(region->h);
    const auto smallFloats = checkedBufferFloats(bw, bh, 1);
    if (!maskFloats || !smallFloats) {
        return false;
    }
    c.maskRegion = *region;
    c.blurW = bw;
    c.blurH = bh;
    c.blurRadius = haloBlurRadius(c.haloRadiusPx);
    c.mask.assign(*maskFloats, 0.0f);
    runPass(c, PassMode::haloMask, region->x1, region->y1, region->x1 + region->w,
            region->y1 + region->h);
    std::vector<float> small(*smallFloats);
    downsampleQuarter(c.mask.data(), region->w, region->h, 1, small.data(), bw, bh);
    blurSeparable(small.data(), bw, bh, 1, c.blurRadius, 48);
    c.small = std::move(small);
    return true;
}

// Builds the two blurred bloom levels. False when the buffers would be too large.
bool prepareBloom(GradeContext& c, const PixelRect& window) {
    const PixelRect srcBounds = c.src != nullptr ? imageBounds(*c.src) : PixelRect{};
    const auto region =
        effectRegion(window, effectReach(c).bloom, c.src != nullptr ? &srcBounds : nullptr,
                     kBloomAlign, static_cast<int32_t>(c.rod.x1), static_cast<int32_t>(c.rod.y1));
    if (!region) {
        return false;
    }
    const int32_t w0 = quarterSize(region->w), h0 = quarterSize(region->h);
    const int32_t w1 = quarterSize(w0), h1 = quarterSize(h0);
    const auto sourceFloats = checkedBufferFloats(region->w, region->h, 3);
    const auto level0Floats = checkedBufferFloats(w0, h0, 3);
    const auto level1Floats = checkedBufferFloats(w1, h1, 3);
    if (!sourceFloats || !level0Floats || !level1Floats) {
        return false;
    }
    c.bloomRegion = *region;
    c.bloom0W = w0;
    c.bloom0H = h0;
    c.bloom1W = w1;
    c.bloom1H = h1;
    c.bloomRad0 = bloomBlurRadius0(c.bloomRadiusPx);
    c.bloomRad1 = bloomBlurRadius1(c.bloomRadiusPx);
    c.bloomSource.assign(*sourceFloats, 0.0f);
    runPass(c, PassMode::bloomSource, region->x1, region->y1, region->x1 + region->w,
            region->y1 + region->h);
    std::vector<float> level0(*level0Floats);
    std::vector<float> level1(*level1Floats);
    downsampleQuarter(c.bloomSource.data(), region->w, region->h, 3, level0.data(), w0, h0);
    std::vector<float>().swap(c.bloomSource);  // no longer needed: keep the peak down
    downsampleQuarter(level0.data(), w0, h0, 3, level1.data(), w1, h1);
    blurSeparable(level0.data(), w0, h0, 3, c.bloomRad0, 40);
    blurSeparable(level1.data(), w1, h1, 3, c.bloomRad1, 40);
    c.level0 = std::move(level0);
    c.level1 = std::move(level1);
    return true;
}

// ---- Depth conversion -------------------------------------------------------------------

struct FloatImage {
    std::vector<float> pixels;
    ImageView view;
};

// A zero-filled float image over `rect` (at least one pixel of storage, so the view is
// usable even when the rectangle is empty). False when it would be too large.
bool makeFloatImage(FloatImage& img, const PixelRect& rect, int components) {
    const int64_t w = std::max<int64_t>(int64_t{rect.x2} - rect.x1, 0);
    const int64_t h = std::max<int64_t>(int64_t{rect.y2} - rect.y1, 0);
    const auto floats =
        checkedBufferFloats(std::max<int64_t>(w, 1), std::max<int64_t>(h, 1), components);
    const auto rowFloats = checkedBufferFloats(std::max<int64_t>(w, 1), 1, components);
    if (!floats || !rowFloats || *rowFloats * sizeof(float) > 0x7fffffffu) {
        return false;
    }
    img.pixels.assign(*floats, 0.0f);
    img.view.data = img.pixels.data();
    img.view.rowBytes = static_cast<int32_t>(*rowFloats * sizeof(float));
    img.view.x1 = rect.x1;
    img.view.y1 = rect.y1;
    img.view.x2 = rect.x1 + static_cast<int32_t>(w);
    img.view.y2 = rect.y1 + static_cast<int32_t>(h);
    img.view.components = components;
    img.view.depth = kDepthFloat;
    return true;
}

inline float readComponent(const unsigned char* p, int depth, int index) {
    switch (depth) {
        case kDepthByte:
            return static_cast<float>(p[index]) / 255.0f;
        case kDepthShort: {
            uint16_t v;
            std::memcpy(&v, p + 2 * index, sizeof v);
            return static_cast<float>(v) / 65535.0f;
        }
        default: {
            float v;
            std::memcpy(&v, p + 4 * index, sizeof v);
            return v;
        }
    }
}

inline void writeComponent(unsigned char* p, int depth, int index, float v) {
    if (depth == kDepthFloat) {
        std::memcpy(p + 4 * index, &v, sizeof v);
        return;
    }
    v = clampf(v, 0.0f, 1.0f);  // NaN becomes 0
    if (depth == kDepthShort) {
        const uint16_t q = static_cast<uint16_t>(v * 65535.0f + 0.5f);
        std::memcpy(p + 2 * index, &q, sizeof q);
    } else {
        p[index] = static_cast<unsigned char>(v * 255.0f + 0.5f);
    }
}

}  // namespace

// ---- Passes -----------------------------------------------------------------------------

void gradeRows(void* passArg, int threadIndex, int threadCount) {
    const GradePass& pass = *static_cast<const GradePass*>(passArg);
    GradeContext& c = *pass.context;
    if (threadCount < 1 || threadIndex < 0 || threadIndex >= threadCount) {
        return;
    }
    const int64_t rows = int64_t{c.y2} - c.y1;
    const int64_t first = c.y1 + threadIndex * rows / threadCount;
    const int64_t last = c.y1 + (threadIndex + 1) * rows / threadCount;
    for (int64_t y = first; y < last; ++y) {
        switch (pass.mode) {
            case PassMode::haloMask:
                gradeRow<PassMode::haloMask>(c, static_cast<int>(y));
                break;
            case PassMode::bloomSource:
                gradeRow<PassMode::bloomSource>(c, static_cast<int>(y));
                break;
            case PassMode::final:
                gradeRow<PassMode::final>(c, static_cast<int>(y));
                break;
        }
    }
}

void runRows(const GradeSettings& settings, int n, GradePass& pass) {
    if (n <= 1) {
        gradeRows(&pass, 0, 1);
        return;
    }
    n = std::min(n, 32);
    if (settings.multiThread != nullptr) {
        settings.multiThread(settings.multiThreadContext, n, gradeRows, &pass);
        return;
    }
    runOnThreads(n, gradeRows, &pass);
}

bool usableImage(const ImageView& v, bool checkDepth) {
    if (v.data == nullptr || v.rowBytes == 0 || (v.components != 3 && v.components != 4)) {
        return false;
    }
    return !checkDepth || bytesPerComponent(v.depth) != 0;
}

bool gradeImage(const ImageView* src, const ImageView& dst, const PixelRect& window,
                const PixelRect& frameRect, const GradeSettings& settings) {
    try {
        if (!usableImage(dst, false) || (src != nullptr && !usableImage(*src, false))) {
            return false;
        }
        const PixelRect rod = rectEmpty(frameRect) ? imageBounds(dst) : frameRect;
        const PixelRect clipped = rectIntersect(window, imageBounds(dst));
        if (rectEmpty(clipped)) {
            return true;
        }
        GradeContext c = deriveGradeContext(settings, src, dst, rod, clipped);
        if (c.has(kDoHalo) && !prepareHalation(c, clipped)) {
            return false;
        }
        if (c.has(kDoBloom) && !prepareBloom(c, clipped)) {
            return false;
        }
        runPass(c, PassMode::final, clipped.x1, clipped.y1, clipped.x2, clipped.y2);
        return true;
    } catch (...) {
        // Only buffer allocation can throw here, before anything is written.
        return false;
    }
}

bool renderCpu(const ImageView* src, const ImageView& dst, const PixelRect& window,
               const PixelRect& frameRect, const GradeSettings& settings) {
    try {
        if (!usableImage(dst, true) || (src != nullptr && !usableImage(*src, true))) {
            return false;
        }
        if (dst.depth == kDepthFloat && (src == nullptr || src->depth == kDepthFloat)) {
            return gradeImage(src, dst, window, frameRect, settings);
        }
        const PixelRect clipped = rectIntersect(window, imageBounds(dst));
        if (rectEmpty(clipped)) {
            return true;
        }
        // The scratch destination covers only the window, so the frame rectangle must be
        // settled against the real destination here.
        const PixelRect rod = rectEmpty(frameRect) ? imageBounds(dst) : frameRect;

        FloatImage floatSrc;
        if (src != nullptr) {
            // Halation and bloom read the source around the window: convert all of it
            // that they reach, keeping the source's own bounds so that pixels outside it
            // read black with alpha 1 exactly as in a float render.
            const GradeContext probe = deriveGradeContext(settings, src, dst, rod, clipped);
            const int32_t reach = effectReach(probe).source;
            const auto grown = effectRegion(clipped, reach, nullptr);
            if (!grown) {
                return false;
            }
            const PixelRect grownRect{grown->x1, grown->y1, grown->x1 + grown->w,
                                      grown->y1 + grown->h};
            PixelRect region = rectIntersect(grownRect, imageBounds(*src));
            if (rectEmpty(region)) {
                region = {clipped.x1, clipped.y1, clipped.x1, clipped.y1};
            }
            if (!makeFloatImage(floatSrc, region, src->components)) {
                return false;
            }
            const int comps = src->components;
            const int width = region.x2 - region.x1;
            forEachRow(region.y2 - region.y1, [&](int row) {
                const int y = region.y1 + row;
                const unsigned char* in =
                    imageRow(*src, y) + static_cast<std::ptrdiff_t>(region.x1 - src->x1) * comps *
                                            bytesPerComponent(src->depth);
                float* out = reinterpret_cast<float*>(imageRow(floatSrc.view, y));
                for (int i = 0; i < width * comps; ++i) {
                    out[i] = readComponent(in, src->depth, i);
                }
            });
        }
        FloatImage floatDst;
        if (!makeFloatImage(floatDst, clipped, dst.components)) {
            return false;
        }
        if (!gradeImage(src != nullptr ? &floatSrc.view : nullptr, floatDst.view, clipped, rod,
                        settings)) {
            return false;
        }
        const int comps = dst.components;
        const int width = clipped.x2 - clipped.x1;
        forEachRow(clipped.y2 - clipped.y1, [&](int row) {
            const int y = clipped.y1 + row;
            const float* in = reinterpret_cast<const float*>(imageRow(floatDst.view, y));
            unsigned char* out =
                imageRow(dst, y) + static_cast<std::ptrdiff_t>(clipped.x1 - dst.x1) * comps *
                                       bytesPerComponent(dst.depth);
            for (int i = 0; i < width * comps; ++i) {
                writeComponent(out, dst.depth, i, in[i]);
            }
        });
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace vd
