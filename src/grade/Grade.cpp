#include "grade/Grade.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "grade/Curves.h"
#include "grade/Effects.h"
#include "grade/GradeContext.h"
#include "grade/PixelMath.h"
#include "grade/Samples.h"
#include "grade/Threads.h"

// AVX2 code is built where the compiler can target it on x86-64.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VD_SIMD_AVX2 1
#else
#define VD_SIMD_AVX2 0
#endif

namespace vd {

namespace {

// One threaded pass: the context and the mode its rows run in.
struct GradePass {
    GradeContext* context;
    PassMode mode;
};

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
            const float compressed = 1.44f + 44.64f * (1.0f - fastExp(-(l - 1.44f) / 44.64f));
            // Never below the pixel's brightness before the exposure gain.
            const float limited = maxf(compressed, l / c.exposureGain);
            const float k = limited / l;
            lr *= k;
            lg *= k;
            lb *= k;
        }
    }
    if (c.has(kDoWb)) {
        // Scaled by channel, then brought back to the luma it had. In double precision:
        // the encode curves are steep near black, where float rounding here would show.
        const double r0 = lr, g0 = lg, b0 = lb;
        const double l0 = 0.2126 * r0 + 0.7152 * g0 + 0.0722 * b0;
        double r1 = r0 * c.wbGain[0];
        double g1 = g0 * c.wbGain[1];
        double b1 = b0 * c.wbGain[2];
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

// The amounts of the adjustment step; all 0 when none of its flags is set.
inline ToneAmounts toneAmounts(const GradeContext& c) {
    ToneAmounts t;
    if ((c.flags & (kDoContrast | kDoZones | kDoSat)) != 0) {
        t.contrast = c.stepContrast;
        t.shadows = c.stepShadows;
        t.highlights = c.stepHighlights;
        t.saturation = c.stepSaturation;
    }
    return t;
}

// Grain of one row: the two noise signals, offset in position and frame.
struct RowGrain {
    GrainRow n;
    GrainRow m;
    RowGrain(const GradeContext& c, int y)
        : n(static_cast<float>(y) + 0.5f, c.grainCell, static_cast<uint32_t>(c.frame)),
          m(static_cast<float>(y) + 0.5f + 7.0f, c.grainCell,
            static_cast<uint32_t>(c.frame) + 17u) {}
};

// n, m: the two grain signals at the pixel.
inline void applyGrain(const GradeContext& c, float n, float m, float& r, float& g, float& b) {
    const float l = clampf(displayLuma(r, g, b), 0.0f, 1.0f);
    const float w = smoothMask(0.02f, 0.22f, l) * (1.0f - smoothMask(0.78f, 0.98f, l));
    if (!(w > 0.0f)) {
        return;  // deep black and near white get no grain
    }
    const float amount = c.grainAmount * 0.22f * w;
    r = r + n * amount;
    g = g + n * amount * 0.92f + m * amount * 0.08f;
    b = b + n * amount * 0.92f - m * amount * 0.08f;
}

// Vignette gains and dithers of `count` pixels of row y from column x0, each in a loop
// of its own that vectorises. (The bars and the split screen replace the pixels they
// cover before the grade; see gradeRow.)
inline void vignetteRun(const GradeContext& c, int x0, int y, int count, float* __restrict scale,
                        float* __restrict dither) {
    const FrameRect rod = c.rod;
    const float amount = c.vignetteAmount, size = c.vignetteSize, feather = c.vignetteFeather;
    const int frame = c.frame;
    for (int i = 0; i < count; ++i) {
        scale[i] = vignetteScale(x0 + i, y, rod, amount, size, feather);
    }
    for (int i = 0; i < count; ++i) {
        dither[i] = vignetteDither(x0 + i, y, frame);
    }
}

// The parts of the halation and bloom composites that are the same along a row.
struct RowEffects {
    bool halo = false;
    GridAxis haloY{0, 0, 0.0f};
    bool bloom = false;
    GridAxis bloom0Y{0, 0, 0.0f};
    GridAxis bloom1Y{0, 0, 0.0f};
};

inline RowEffects rowEffects(const GradeContext& c, int y, PassMode mode) {
    RowEffects e;
    if (mode != PassMode::haloMask && c.has(kDoHalo) && c.small != nullptr) {
        e.halo = true;
        const int dy = y - c.maskRegion.y1;
        e.haloY = gridAxis((static_cast<float>(dy) + 0.5f) * 0.25f - 0.5f, c.blurH);
    }
    if (mode == PassMode::final && c.has(kDoBloom) && c.level0 != nullptr && c.level1 != nullptr &&
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

// Bilinear read of an RGB level (the bloom levels), per channel.
inline void sampleBloom(const float* grid, int w, const GridAxis& ax, const GridAxis& ay,
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

// cover: the pixel's own halation cover (0 outside the mask region).
inline void applyHaloComposite(const GradeContext& c, const RowEffects& e, int x, float cover,
                               float& r, float& g, float& b) {
    const int dx = x - c.maskRegion.x1;
    const GridAxis ax = gridAxis((static_cast<float>(dx) + 0.5f) * 0.25f - 0.5f, c.blurW);
    const float wide = bilinear1(c.small, c.blurW, ax, e.haloY);
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
    sampleBloom(c.level0, c.bloom0W, gridAxis(fx / 4.0f - 0.5f, c.bloom0W), e.bloom0Y, wide);
    sampleBloom(c.level1, c.bloom1W, gridAxis(fx / 16.0f - 0.5f, c.bloom1W), e.bloom1Y, broad);
    screenBlend(r, g, b, 0.82f * wide[0] + 0.22f * broad[0], 0.82f * wide[1] + 0.22f * broad[1],
                0.82f * wide[2] + 0.22f * broad[2], c.bloomGain);
}

// ---- Rows -------------------------------------------------------------------------------

// One source row as floats: pixel x starts at pixels + (x - base) x comps, for x in
// [from, to); pixels is null where the row has no source pixels.
struct SourceRow {
    const float* pixels = nullptr;
    int base = 0;
    int from = 0;
    int to = 0;
    int comps = 4;

    // Pixel x of the row; outside the source's columns it stays as given (callers pass
    // opaque black, which is how pixels outside the source read).
    void fetch(int x, float& r, float& g, float& b, float& a) const {
        if (x >= from && x < to) {
            const float* p = pixels + static_cast<std::ptrdiff_t>(x - base) * comps;
            r = p[0];
            g = p[1];
            b = p[2];
            if (comps == 4) {
                a = p[3];
            }
        }
    }
};

// Reads row y of the source over the pass's columns, converting integer depths into
// `scratch` (room for the pass width x 4 floats).
SourceRow sourceRow(const GradeContext& c, int y, float* scratch) {
    SourceRow row;
    const ImageView* src = c.src;
    if (src == nullptr || y < src->y1 || y >= src->y2) {
        return row;
    }
    const int from = std::max(c.x1, src->x1);
    const int to = std::min(c.x2, src->x2);
    if (from >= to) {
        return row;
    }
    row.comps = src->components;
    row.from = from;
    row.to = to;
    const unsigned char* bytes = imageRow(*src, y);
    if (src->depth == kDepthFloat) {
        row.pixels = reinterpret_cast<const float*>(bytes);
        row.base = src->x1;
        return row;
    }
    const int count = (to - from) * row.comps;
    const std::ptrdiff_t first = static_cast<std::ptrdiff_t>(from - src->x1) * row.comps;
    if (src->depth == kDepthByte) {
        const unsigned char* p = bytes + first;
        for (int i = 0; i < count; ++i) {
            scratch[i] = byteToFloat(p[i]);
        }
    } else {
        const unsigned char* p = bytes + 2 * first;
        for (int i = 0; i < count; ++i) {
            scratch[i] = loadSample(p + 2 * i, kDepthShort);
        }
    }
    row.pixels = scratch;
    row.base = from;
    return row;
}

// Writes finished float pixels of columns [x1, x2) into an integer destination row by the
// rule of Samples.h (non-finite values become 0).
void storeRow(const ImageView& dst, int y, int x1, int x2, const float* in) {
    const int count = (x2 - x1) * dst.components;
    const std::ptrdiff_t first = static_cast<std::ptrdiff_t>(x1 - dst.x1) * dst.components;
    unsigned char* bytes = imageRow(dst, y);
    if (dst.depth == kDepthByte) {
        unsigned char* p = bytes + first;
        for (int i = 0; i < count; ++i) {
            p[i] = floatToByte(in[i]);
        }
    } else {
        unsigned char* p = bytes + 2 * first;
        for (int i = 0; i < count; ++i) {
            storeSample(p + 2 * i, kDepthShort, in[i]);
        }
    }
}

// A row of an RGB cache buffer over an effect region: pixel x at pixels + 3 (x - x1).
struct CacheRow {
    float* pixels = nullptr;
    int x1 = 0;
    int x2 = 0;
    bool has(int x) const { return pixels != nullptr && x >= x1 && x < x2; }
    float* at(int x) const { return pixels + 3 * static_cast<std::ptrdiff_t>(x - x1); }
};

// buffer: the region's first pixel; stride: floats from one row to the next.
CacheRow cacheRow(float* buffer, std::size_t stride, const EffectRegion& region, int y) {
    CacheRow row;
    if (buffer != nullptr && y >= region.y1 && y < region.y1 + region.h) {
        row.pixels = buffer + static_cast<std::size_t>(y - region.y1) * stride;
        row.x1 = region.x1;
        row.x2 = region.x1 + region.w;
    }
    return row;
}

// Where a pixel's colour comes from in a row block: graded here up to the look (the
// tone steps still to run), taken from a cache an earlier pass filled, final already
// (before/after, the before side of the split, the divider, a border: nothing under
// them is graded) or transparent. Only fresh pixels take the tone steps.
constexpr int32_t kFresh = 0;
constexpr int32_t kGraded = 1;
constexpr int32_t kGlowing = 2;
constexpr int32_t kFinal = 3;
constexpr int32_t kTransparent = 4;

template <PassMode Mode>
void gradeRow(GradeContext& c, int y, float* scratch) {
    const SourceRow src = sourceRow(c, y, scratch);
    const RowEffects e = rowEffects(c, y, Mode);
    const bool premultiply = c.has(kPremultiply);
    const bool beforeAfter = c.has(kDoBeforeAfter);
    const bool grain = Mode != PassMode::haloMask && c.has(kDoGrain);
    const RowGrain rowGrain(c, y);
    const bool finish = Mode == PassMode::final && c.has(kDoVignette);

    // Colours that an earlier pass already computed for this row: after saturation (the
    // mask pass) and after halation (the bloom-source pass).
    CacheRow graded;
    CacheRow glowing;
    if constexpr (Mode != PassMode::haloMask) {
        graded =
            cacheRow(c.maskColour, static_cast<std::size_t>(c.maskRegion.w) * 3, c.maskRegion, y);
    }
    if constexpr (Mode == PassMode::final) {
        glowing = cacheRow(c.bloomColour, c.bloomStride, c.bloomRegion, y);
    }
    // Pixels whose final colour the finish decides without the grade (final pass only).
    const bool split = Mode == PassMode::final && c.has(kDoSplit);
    const bool border = Mode == PassMode::final && c.has(kDoBorder);

    float* out = nullptr;
    int dstComps = 0;
    bool integerDst = false;
    if constexpr (Mode == PassMode::final) {
        const ImageView& dst = *c.dst;
        dstComps = dst.components;
        integerDst = dst.depth != kDepthFloat;
        out = integerDst ? scratch + static_cast<std::ptrdiff_t>(c.x2 - c.x1) * 4
                         : reinterpret_cast<float*>(imageRow(dst, y)) +
                               static_cast<std::ptrdiff_t>(c.x1 - dst.x1) * dstComps;
    } else if constexpr (Mode == PassMode::haloMask) {
        out = cacheRow(c.maskColour, static_cast<std::size_t>(c.maskRegion.w) * 3, c.maskRegion, y)
                  .at(c.x1);
    } else {
        out = cacheRow(c.bloomColour, c.bloomStride, c.bloomRegion, y).at(c.x1);
    }
    float* const rowOut = out;
    const bool look = c.has(kDoLut);
    const ToneAmounts tone = toneAmounts(c);
    const bool toneOn = tone.contrast != 0.0f || tone.shadows != 0.0f || tone.highlights != 0.0f ||
                        tone.saturation != 0.0f;

    // The row goes in blocks: the fetch and linearisation per pixel, the look and the tone
    // steps over the block's channel arrays (where they run four pixels at a time), the
    // rest per pixel.
    constexpr int kBlock = 256;
    float alpha[kBlock];
    float tr[kBlock], tg[kBlock], tb[kBlock];
    float cover[kBlock];  // halation cover of graded pixels
    float grainN[kBlock], grainM[kBlock];
    float vignette[kBlock], dither[kBlock];
    int32_t source[kBlock];  // where the colour of tr, tg, tb came from (PixelSource)
    for (int bx = c.x1; bx < c.x2; bx += kBlock) {
        const int count = std::min(kBlock, c.x2 - bx);
        int firstFresh = count, endFresh = 0;  // the span of the block that takes the tone
        bool grained = false;                  // whether a pixel of the block takes grain
        bool open = false;                     // whether one is not final yet
        for (int i = 0; i < count; ++i) {
            const int x = bx + i;
            float r = 0.0f, g = 0.0f, b = 0.0f, a = 1.0f;
            src.fetch(x, r, g, b, a);
            int32_t from = kFresh;
            if (premultiply) {
                if (a > 0.000001f) {
                    r /= a;
                    g /= a;
                    b /= a;
                } else {
                    from = kTransparent;  // nothing to grade and nothing to glow
                }
            }
            alpha[i] = a;
            int side = 1;
            if (from == kTransparent) {
                // stays black below
            } else if (beforeAfter || (split && (side = splitSide(x, c.splitX, c.splitHalf)) < 0)) {
                from = kFinal;
            } else if (split && side == 0) {
                r = g = b = 1.0f;
                from = kFinal;
            } else if (border && borderCovers(x, y, c.rod, c.borderTop, c.borderSide)) {
                r = c.borderColour[0];
                g = c.borderColour[1];
                b = c.borderColour[2];
                from = kFinal;
            } else if (glowing.has(x)) {
                const float* p = glowing.at(x);
                r = p[0];
                g = p[1];
                b = p[2];
                from = kGlowing;
            } else if (graded.has(x)) {
                const float* p = graded.at(x);
                r = p[0];
                g = p[1];
                b = p[2];
                cover[i] = haloCover(r, g, b);
                from = kGraded;
                grained = true;
            } else {
                if (c.has(kDoLinear)) {
                    linearise(c, r, g, b);
                }
                cover[i] = 0.0f;
                grained = true;
                firstFresh = std::min(firstFresh, i);
                endFresh = i + 1;
            }
            tr[i] = r;
            tg[i] = g;
            tb[i] = b;
            source[i] = from;
            open = open || from == kFresh || from == kGraded || from == kGlowing;
        }
        if (look && firstFresh < endFresh) {
            lookRun(tr + firstFresh, tg + firstFresh, tb + firstFresh, source + firstFresh,
                    endFresh - firstFresh, c.lutPacked, c.settings->lutEdge, c.intensity);
        }
        if (toneOn && firstFresh < endFresh) {
            toneRun(tr + firstFresh, tg + firstFresh, tb + firstFresh, source + firstFresh,
                    endFresh - firstFresh, tone);
        }
        if (grain && grained) {
            rowGrain.n.fill(bx, count, 0.0f, grainN);
            rowGrain.m.fill(bx, count, 19.0f, grainM);
        }
        if (finish && open) {
            vignetteRun(c, bx, y, count, vignette, dither);
        }
        for (int i = 0; i < count; ++i) {
            const int x = bx + i;
            const int32_t from = source[i];
            if (from == kTransparent) {
                if constexpr (Mode == PassMode::final) {
                    for (int k = 0; k < dstComps; ++k) {
                        out[k] = 0.0f;
                    }
                    out += dstComps;
                } else {
                    out[0] = out[1] = out[2] = 0.0f;
                    out += 3;
                }
                continue;
            }
            float r = tr[i], g = tg[i], b = tb[i];
            const float a = alpha[i];
            if (from != kFinal) {
                if (from != kGlowing) {
                    if constexpr (Mode == PassMode::haloMask) {
                        out[0] = r;
                        out[1] = g;
                        out[2] = b;
                        out += 3;
                        continue;
                    }
                    if (grain) {
                        applyGrain(c, grainN[i], grainM[i], r, g, b);
                    }
                    if (e.halo) {
                        applyHaloComposite(c, e, x, cover[i], r, g, b);
                    }
                    if constexpr (Mode == PassMode::bloomSource) {
                        out[0] = r;
                        out[1] = g;
                        out[2] = b;
                        out += 3;
                        continue;
                    }
                }
                if (e.bloom) {
                    applyBloomComposite(c, e, x, r, g, b);
                }
                if (finish) {
                    r = r * vignette[i] + dither[i];
                    g = g * vignette[i] + dither[i];
                    b = b * vignette[i] + dither[i];
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
    if constexpr (Mode == PassMode::final) {
        if (integerDst) {
            storeRow(*c.dst, y, c.x1, c.x2, rowOut);
        }
    }
}

// The final pass when nothing but the look is on: fetch, look, write.
void lookRow(GradeContext& c, int y, float* scratch) {
    const SourceRow src = sourceRow(c, y, scratch);
    const ImageView& dst = *c.dst;
    const int dstComps = dst.components;
    const bool integerDst = dst.depth != kDepthFloat;
    float* const rowOut = integerDst ? scratch + static_cast<std::ptrdiff_t>(c.x2 - c.x1) * 4
                                     : reinterpret_cast<float*>(imageRow(dst, y)) +
                                           static_cast<std::ptrdiff_t>(c.x1 - dst.x1) * dstComps;
    const bool look = c.has(kDoLut);
    const float* cube = c.lutPacked;
    const int edge = c.settings->lutEdge;
    const float intensity = c.intensity;
    float* out = rowOut;
    int x = c.x1;
#if defined(__SSE2__)
    // Four at a time while the row has source pixels from its first column on; the rest
    // (and rows that start outside the source) one at a time below.
    if (look && src.pixels != nullptr && src.comps == 4 && dstComps == 4 && src.from == x) {
        const float* in = src.pixels + static_cast<std::ptrdiff_t>(x - src.base) * 4;
        for (; x + 4 <= src.to; x += 4, in += 16, out += 16) {
            lookQuad(in, out, cube, edge, intensity);
        }
    }
#endif
    for (; x < c.x2; ++x, out += dstComps) {
        float r = 0.0f, g = 0.0f, b = 0.0f, a = 1.0f;
        src.fetch(x, r, g, b, a);
        if (look) {
            float l[3];
            sampleTetraPacked(cube, edge, r, g, b, l);
            r += (l[0] - r) * intensity;
            g += (l[1] - g) * intensity;
            b += (l[2] - b) * intensity;
        }
        out[0] = r;
        out[1] = g;
        out[2] = b;
        if (dstComps == 4) {
            out[3] = a;
        }
    }
    if (integerDst) {
        storeRow(dst, y, c.x1, c.x2, rowOut);
    }
}

// Bands of a pass, as the settings and the region's size ask.
int passBands(const GradeContext& c, PassMode mode, int rows, int64_t pixels) {
    const GradeSettings& s = *c.settings;
    if (s.threadCount == 1) {
        return 1;
    }
    if (mode == PassMode::final && s.threadCount < 1 && pixels < 65536) {
        return 1;
    }
    return std::max(1, std::min({c.plan.threads, rows, 32}));
}

void runRows(GradeContext& c, int n, PassMode mode);

// Runs one pass over the rectangle. False when its row scratch cannot be had.
bool runPass(GradeContext& c, PassMode mode, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    c.mode = mode;
    c.x1 = x1;
    c.y1 = y1;
    c.x2 = x2;
    c.y2 = y2;
    const int rows = y2 - y1;
    const int64_t pixels = int64_t{x2 - x1} * rows;
    const int n = passBands(c, mode, rows, pixels);
    // Each band converts a source row and a destination row: 4 floats per pixel each.
    const auto perBand = checkedBufferFloats(x2 - x1, 8, 1);
    const auto total =
        perBand ? checkedBufferFloats(static_cast<int64_t>(*perBand), n, 1) : std::nullopt;
    if (!total) {
        return false;
    }
    c.rowScratch = c.scratch->take(ScratchSlot::rows, *total);
    if (c.rowScratch == nullptr) {
        return false;
    }
    c.scratchPerBand = *perBand;
    c.bands = n;
    runRows(c, n, mode);
    return true;
}

// Builds the halation colours, the quarter-resolution cover and its blur. False when the
// buffers cannot be had.
bool prepareHalation(GradeContext& c, const PixelRect& window) {
    // When bloom also runs, its source pass composites halation over the bloom region:
    // the mask covers that region too, or its pixels would read cover 0 beside an
    // edge-clamped blur and take a full ring.
    const int32_t reach = effectReach(c).mask;
    const PixelRect srcBounds = c.src != nullptr ? imageBounds(*c.src) : PixelRect{};
    const auto region =
        effectRegion(window, reach, c.src != nullptr ? &srcBounds : nullptr, kRegionAlign,
                     static_cast<int32_t>(c.rod.x1), static_cast<int32_t>(c.rod.y1));
    if (!region) {
        return false;
    }
    const auto colourFloats = checkedBufferFloats(region->w, region->h, 3);
    const int32_t bw = quarterSize(region->w);
    const int32_t bh = quarterSize(region->h);
    const auto smallFloats = checkedBufferFloats(bw, bh, 1);
    if (!colourFloats || !smallFloats) {
        return false;
    }
    c.maskRegion = *region;
    c.blurW = bw;
    c.blurH = bh;
    c.blurRadius = haloBlurRadius(c.haloRadiusPx);
    c.maskColour = c.scratch->take(ScratchSlot::maskColour, *colourFloats);
    float* small = c.scratch->take(ScratchSlot::maskLevel, *smallFloats);
    const int bands = helperBands(c.plan, region->h);
    float* work = c.scratch->take(
        ScratchSlot::effectWork,
        std::max(reduceWorkFloats(region->w, region->h, bw, 1, bands), *smallFloats));
    if (c.maskColour == nullptr || small == nullptr || work == nullptr) {
        return false;
    }
    if (!runPass(c, PassMode::haloMask, region->x1, region->y1, region->x1 + region->w,
                 region->y1 + region->h)) {
        return false;
    }
    extractHaloLevel(c.plan, c.maskColour, static_cast<std::size_t>(region->w) * 3, region->w,
                     region->h, small, bw, bh, work);
    blurSeparable(c.plan, small, bw, bh, 1, c.blurRadius, 48, work);
    c.small = small;
    return true;
}

// Builds the two blurred bloom levels. False when the buffers cannot be had.
bool prepareBloom(GradeContext& c, const PixelRect& window) {
    const PixelRect srcBounds = c.src != nullptr ? imageBounds(*c.src) : PixelRect{};
    const auto region =
        effectRegion(window, effectReach(c).bloom, c.src != nullptr ? &srcBounds : nullptr,
                     kRegionAlign, static_cast<int32_t>(c.rod.x1), static_cast<int32_t>(c.rod.y1));
    if (!region) {
        return false;
    }
    const int32_t w0 = quarterSize(region->w), h0 = quarterSize(region->h);
    const int32_t w1 = quarterSize(w0), h1 = quarterSize(h0);
    const auto colourFloats = checkedBufferFloats(region->w, region->h, 3);
    const auto level0Floats = checkedBufferFloats(w0, h0, 3);
    const auto level1Floats = checkedBufferFloats(w1, h1, 3);
    if (!colourFloats || !level0Floats || !level1Floats) {
        return false;
    }
    c.bloomRegion = *region;
    c.bloom0W = w0;
    c.bloom0H = h0;
    c.bloom1W = w1;
    c.bloom1H = h1;
    c.bloomRad0 = bloomBlurRadius0(c.bloomRadiusPx);
    c.bloomRad1 = bloomBlurRadius1(c.bloomRadiusPx);
    if (c.maskColour != nullptr) {
        // The mask region contains the bloom region (both on the same lattice): the
        // bloom-source pass reads each pixel's colour after saturation there and writes
        // its colour after halation over it, so the two share one buffer.
        c.bloomStride = static_cast<std::size_t>(c.maskRegion.w) * 3;
        c.bloomColour = c.maskColour +
                        static_cast<std::size_t>(region->y1 - c.maskRegion.y1) * c.bloomStride +
                        static_cast<std::size_t>(region->x1 - c.maskRegion.x1) * 3;
    } else {
        c.bloomStride = static_cast<std::size_t>(region->w) * 3;
        c.bloomColour = c.scratch->take(ScratchSlot::bloomColour, *colourFloats);
    }
    float* level0 = c.scratch->take(ScratchSlot::bloomLevel0, *level0Floats);
    float* level1 = c.scratch->take(ScratchSlot::bloomLevel1, *level1Floats);
    const int bands = helperBands(c.plan, region->h);
    float* work = c.scratch->take(
        ScratchSlot::effectWork,
        std::max({reduceWorkFloats(region->w, region->h, w0, 3, bands),
                  reduceWorkFloats(w0, h0, w1, 3, helperBands(c.plan, h0)), *level0Floats}));
    if (c.bloomColour == nullptr || level0 == nullptr || level1 == nullptr || work == nullptr) {
        return false;
    }
    if (!runPass(c, PassMode::bloomSource, region->x1, region->y1, region->x1 + region->w,
                 region->y1 + region->h)) {
        return false;
    }
    extractBloomLevel(c.plan, c.bloomColour, c.bloomStride, region->w, region->h, c.bloomThreshold,
                      level0, w0, h0, work);
    downsampleQuarter(c.plan, level0, static_cast<std::size_t>(w0) * 3, w0, h0, 3, level1, w1, h1,
                      work);
    blurSeparable(c.plan, level0, w0, h0, 3, c.bloomRad0, 40, work);
    blurSeparable(c.plan, level1, w1, h1, 3, c.bloomRad1, 40, work);
    c.level0 = level0;
    c.level1 = level1;
    return true;
}

// ---- Passes -----------------------------------------------------------------------------

// Grades band i of n of the pass's rows (rows y1 + i H / n up to y1 + (i + 1) H / n).
void gradeRows(void* passArg, int threadIndex, int threadCount) {
    const GradePass& pass = *static_cast<const GradePass*>(passArg);
    GradeContext& c = *pass.context;
    if (threadCount < 1 || threadIndex < 0 || threadIndex >= threadCount ||
        threadIndex >= c.bands) {
        return;
    }
    const int64_t rows = int64_t{c.y2} - c.y1;
    const int64_t first = c.y1 + threadIndex * rows / threadCount;
    const int64_t last = c.y1 + (threadIndex + 1) * rows / threadCount;
    float* scratch = c.rowScratch + static_cast<std::size_t>(threadIndex) * c.scratchPerBand;
    for (int64_t y = first; y < last; ++y) {
        switch (pass.mode) {
            case PassMode::haloMask:
                gradeRow<PassMode::haloMask>(c, static_cast<int>(y), scratch);
                break;
            case PassMode::bloomSource:
                gradeRow<PassMode::bloomSource>(c, static_cast<int>(y), scratch);
                break;
            case PassMode::final:
                if ((c.flags & ~(kHasSrc | kDoLut)) == 0) {
                    lookRow(c, static_cast<int>(y), scratch);
                } else {
                    gradeRow<PassMode::final>(c, static_cast<int>(y), scratch);
                }
                break;
        }
    }
}

// The band worker compiled for each instruction set: the same code, once for the x86-64
// baseline (SSE2) and once for AVX2, with everything it calls in this file inlined
// (flatten) so that its loops take 256-bit vectors. Floating-point contraction is off
// for the engine (see CMakeLists.txt), so every target gives the same bytes.
void gradeRowsBaseline(void* passArg, int threadIndex, int threadCount) {
    gradeRows(passArg, threadIndex, threadCount);
}

#if VD_SIMD_AVX2
[[gnu::target("avx2"), gnu::flatten]] void gradeRowsAvx2(void* passArg, int threadIndex,
                                                         int threadCount) {
    gradeRows(passArg, threadIndex, threadCount);
}
#endif

// The chosen target; -1 until the first render (or selectSimdTarget) picks one.
std::atomic<int> gSimdTarget{-1};

SimdTarget currentTarget() {
    int t = gSimdTarget.load(std::memory_order_relaxed);
    if (t < 0) {
        t = static_cast<int>(simdTargetSupported(SimdTarget::avx2) ? SimdTarget::avx2
                                                                   : SimdTarget::baseline);
        gSimdTarget.store(t, std::memory_order_relaxed);
    }
    return static_cast<SimdTarget>(t);
}

// The worker of a pass. The look-only rows stay on the baseline code: they run on
// hand-written 128-bit quads, which measured slower inside the AVX2 build.
GradeWorker bandWorker(const GradeContext& c, PassMode mode) {
#if VD_SIMD_AVX2
    const bool lookOnly = mode == PassMode::final && (c.flags & ~(kHasSrc | kDoLut)) == 0;
    if (currentTarget() == SimdTarget::avx2 && !lookOnly) {
        return gradeRowsAvx2;
    }
#else
    (void)c;
    (void)mode;
#endif
    return gradeRowsBaseline;
}

// Runs a pass on n bands of the render's thread plan.
void runRows(GradeContext& c, int n, PassMode mode) {
    GradePass pass{&c, mode};
    runBands(c.plan, n, bandWorker(c, mode), &pass);
}

// Whether the image description can be read: data, row bytes, components 3 or 4 and,
// when checkDepth, a known depth.
bool usableImage(const ImageView& v, bool checkDepth) {
    if (v.data == nullptr || v.rowBytes == 0 || (v.components != 3 && v.components != 4)) {
        return false;
    }
    return !checkDepth || bytesPerComponent(v.depth) != 0;
}

// The look's cube in 4-float entries: the caller's packed copy, else one packed here.
// False when it would be too large.
bool packLook(GradeContext& c) {
    if (c.settings->lutPacked != nullptr) {
        c.lutPacked = c.settings->lutPacked;
        return true;
    }
    const int64_t n = c.settings->lutEdge;
    const auto floats = checkedBufferFloats(n * n, n, 4);
    if (!floats) {
        return false;
    }
    float* out = c.scratch->take(ScratchSlot::look, *floats);
    if (out == nullptr) {
        return false;
    }
    c.lutPacked = out;
    packLookCube(c.settings->lutData, *floats / 4, out);
    return true;
}

// The engine entry shared by every depth: integer rows are converted as each band reads
// and writes them, so no scratch copy of either image is made.
bool gradeWithScratch(const ImageView* src, const ImageView& dst, const PixelRect& window,
                      const PixelRect& frameRect, const GradeSettings& settings,
                      RenderScratch& scratch) {
    const PixelRect rod = rectEmpty(frameRect) ? imageBounds(dst) : frameRect;
    const PixelRect clipped = rectIntersect(window, imageBounds(dst));
    if (rectEmpty(clipped)) {
        return true;
    }
    GradeContext c = deriveGradeContext(settings, src, dst, rod, clipped);
    c.plan = threadPlan(settings);
    c.scratch = &scratch;
    if (c.has(kDoLut) && !packLook(c)) {
        return false;
    }
    if (c.has(kDoHalo) && !prepareHalation(c, clipped)) {
        return false;
    }
    if (c.has(kDoBloom) && !prepareBloom(c, clipped)) {
        return false;
    }
    return runPass(c, PassMode::final, clipped.x1, clipped.y1, clipped.x2, clipped.y2);
}

// The engine entry shared by every depth, on the caller's scratch or one of its own.
bool gradeAnyDepth(const ImageView* src, const ImageView& dst, const PixelRect& window,
                   const PixelRect& frameRect, const GradeSettings& settings,
                   RenderScratch* given) {
    RenderScratch own;
    RenderScratch& scratch = given != nullptr ? *given : own;
    const bool ok = gradeWithScratch(src, dst, window, frameRect, settings, scratch);
    if (ok) {
        scratch.finishRender();
    } else {
        scratch.releaseAll();
    }
    return ok;
}

}  // namespace

bool simdTargetSupported(SimdTarget target) {
    switch (target) {
        case SimdTarget::baseline:
            return true;
        case SimdTarget::avx2:
#if VD_SIMD_AVX2
            return __builtin_cpu_supports("avx2") != 0;
#else
            return false;
#endif
    }
    return false;
}

bool selectSimdTarget(SimdTarget target) {
    if (!simdTargetSupported(target)) {
        return false;
    }
    gSimdTarget.store(static_cast<int>(target), std::memory_order_relaxed);
    return true;
}

SimdTarget simdTarget() {
    return currentTarget();
}

void packLookCube(const float* rgb, std::size_t entries, float* out) {
    for (std::size_t i = 0; i < entries; ++i) {
        out[4 * i] = rgb[3 * i];
        out[4 * i + 1] = rgb[3 * i + 1];
        out[4 * i + 2] = rgb[3 * i + 2];
        out[4 * i + 3] = 0.0f;
    }
}

bool gradeImage(const ImageView* src, const ImageView& dst, const PixelRect& window,
                const PixelRect& frameRect, const GradeSettings& settings, RenderScratch* scratch) {
    try {
        if (!usableImage(dst, false) || (src != nullptr && !usableImage(*src, false))) {
            return false;
        }
        // Float images: the depth fields are not consulted.
        ImageView dstFloat = dst;
        dstFloat.depth = kDepthFloat;
        ImageView srcFloat;
        if (src != nullptr) {
            srcFloat = *src;
            srcFloat.depth = kDepthFloat;
        }
        return gradeAnyDepth(src != nullptr ? &srcFloat : nullptr, dstFloat, window, frameRect,
                             settings, scratch);
    } catch (...) {
        // Only buffer allocation can throw here, before anything is written.
        return false;
    }
}

bool renderCpu(const ImageView* src, const ImageView& dst, const PixelRect& window,
               const PixelRect& frameRect, const GradeSettings& settings, RenderScratch* scratch) {
    try {
        if (!usableImage(dst, true) || (src != nullptr && !usableImage(*src, true))) {
            return false;
        }
        return gradeAnyDepth(src, dst, window, frameRect, settings, scratch);
    } catch (...) {
        return false;
    }
}

}  // namespace vd
