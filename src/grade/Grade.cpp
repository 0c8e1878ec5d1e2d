#include "grade/Grade.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

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
// Each step runs over a block of pixels held as channel arrays, as a loop without branches
// that vectorises: every lane computes the step and a select keeps the old value where
// the step does not apply to its pixel (see PixelSource below).

// Where a pixel's colour comes from in a row block: graded here up to the look (the
// tone steps still to run), taken from a cache an earlier pass filled, final already
// (before/after, the before side of the split, the divider, a border: nothing under
// them is graded) or transparent. Only fresh pixels take the tone steps; fresh and
// graded ones take grain and halation; those and glowing ones take bloom and the finish.
constexpr int32_t kFresh = 0;
constexpr int32_t kGraded = 1;
constexpr int32_t kGlowing = 2;
constexpr int32_t kFinal = 3;
constexpr int32_t kTransparent = 4;

// The longest block of a row.
constexpr int kBlock = 256;

// fastDecode as one table read: codes not above 0 (and NaN) read entry 0 and codes from
// 1 on the last entry, with weight 0 on the neighbour, which is what fastDecode returns.
inline float decodeLane(float code, const float* table) {
    return sampleTable(table + kCurveDecode, code * 4095.0f);
}

// fastEncode for the values its tables serve, as one table read. `odd` is set (non-zero)
// where fastEncode answers otherwise: 0 for non-finite values and values at or below the
// table's black, the analytic curve beyond the tables; the value returned there is to be
// replaced.
// spanOrOne and bias describe the high table: its span above 1 (1 when it has none) and 0
// (+infinity when it has none, which puts every position on its last entry, as
// fastEncode reads it).
inline float encodeLane(float linear, const float* table, float highMax, float spanOrOne,
                        float bias, int32_t& odd) {
    const int32_t finite = std::fabs(linear) <= 3.40282347e38f;
    const int32_t aboveBlack = linear > table[kCurveDecode];
    const int32_t outside = (linear >= highMax) | (linear < 0.0f);
    odd = (1 - finite) | (1 - aboveBlack) | outside;
    // One read of the unit or the high table, by index from the table's start: sampleTable
    // with 32-bit offsets, which vectorise.
    const int32_t high = linear > 1.0f;
    const float highPos = (linear - 1.0f) / spanOrOne * 4095.0f + bias;
    const float pos = high != 0 ? highPos : linear * 4095.0f;
    const float below = pos < 4095.0f ? pos : 4095.0f;
    const float p = pos > 0.0f ? below : 0.0f;
    const auto i = static_cast<int32_t>(p);
    const int32_t at = kCurveEncodeUnit + high * (kCurveEncodeHigh - kCurveEncodeUnit) + i;
    const int32_t next = at + 1 - (i >> 12);
    return table[at] + (table[next] - table[at]) * (p - static_cast<float>(i));
}

// Decode to linear light, apply exposure, shoulder and white balance, encode back, for
// the fresh pixels of a block. A pixel with no channel above 0 in linear light keeps its
// code values.
void lineariseRun(const GradeContext& c, float* __restrict r, float* __restrict g,
                  float* __restrict b, const int32_t* __restrict source, int count) {
    const float* curve = c.curve;
    // Steps that are off multiply by exactly 1, which changes nothing.
    const bool shoulder = c.has(kDoShoulder);
    const bool wb = c.has(kDoWb);
    const float gain = c.has(kDoExposure) ? c.exposureGain : 1.0f;
    const double wr = wb ? c.wbGain[0] : 1.0, wg = wb ? c.wbGain[1] : 1.0,
                 wbb = wb ? c.wbGain[2] : 1.0;
    // Three loops of selects, each simple enough to vectorise: decode, the linear steps,
    // encode.
    float lr[kBlock], lg[kBlock], lb[kBlock];
    int32_t keep[kBlock];
    for (int i = 0; i < count; ++i) {
        const float dr = decodeLane(r[i], curve);
        const float dg = decodeLane(g[i], curve);
        const float db = decodeLane(b[i], curve);
        // Tiny positives are flushed to 0; negatives are kept.
        const float nr = minf(dr, 0.0f), ng = minf(dg, 0.0f), nb = minf(db, 0.0f);
        lr[i] = dr < 1e-7f ? nr : dr;
        lg[i] = dg < 1e-7f ? ng : dg;
        lb[i] = db < 1e-7f ? nb : db;
        keep[i] = static_cast<int32_t>((source[i] != kFresh) |
                                       (!(lr[i] > 0.0f) & !(lg[i] > 0.0f) & !(lb[i] > 0.0f)));
    }
    for (int i = 0; i < count; ++i) {
        float vr = lr[i] * gain, vg = lg[i] * gain, vb = lb[i] * gain;
        const float l = displayLuma(vr, vg, vb);
        const float compressed = 1.44f + 44.64f * (1.0f - fastExp(-(l - 1.44f) / 44.64f));
        // Never below the pixel's brightness before the exposure gain.
        const float limited = maxf(compressed, l / gain);
        const float k = (shoulder & (l > 1.44f)) ? limited / l : 1.0f;
        vr *= k;
        vg *= k;
        vb *= k;
        // Scaled by channel, then brought back to the luma it had. In double precision:
        // the encode curves are steep near black, where float rounding here would show.
        const double r0 = vr, g0 = vg, b0 = vb;
        const double l0 = 0.2126 * r0 + 0.7152 * g0 + 0.0722 * b0;
        const double r1 = r0 * wr, g1 = g0 * wg, b1 = b0 * wbb;
        const double l1 = 0.2126 * r1 + 0.7152 * g1 + 0.0722 * b1;
        const double q = (wb & (l0 > 1e-8) & (l1 > 1e-8)) ? l0 / l1 : 1.0;  // keeps the luma
        lr[i] = static_cast<float>(r1 * q);
        lg[i] = static_cast<float>(g1 * q);
        lb[i] = static_cast<float>(b1 * q);
    }
    const float highMax = curve[kCurveHighMax];
    const float span = highMax - 1.0f;
    const float spanOrOne = span > 0.0f ? span : 1.0f;
    const float bias = span > 0.0f ? 0.0f : INFINITY;
    int32_t odd[kBlock];
    for (int i = 0; i < count; ++i) {
        const float cr = r[i], cg = g[i], cb = b[i];
        int32_t orr, og, ob;
        const float er = encodeLane(lr[i], curve, highMax, spanOrOne, bias, orr);
        const float eg = encodeLane(lg[i], curve, highMax, spanOrOne, bias, og);
        const float eb = encodeLane(lb[i], curve, highMax, spanOrOne, bias, ob);
        const int32_t k = keep[i];
        odd[i] = (1 - k) & (orr | og | ob);
        r[i] = k != 0 ? cr : er;
        g[i] = k != 0 ? cg : eg;
        b[i] = k != 0 ? cb : eb;
    }
    for (int i = 0; i < count; ++i) {
        if (odd[i] != 0) {
            r[i] = fastEncode(lr[i], curve, c.encoding);
            g[i] = fastEncode(lg[i], curve, c.encoding);
            b[i] = fastEncode(lb[i], curve, c.encoding);
        }
    }
}

// The look over the fresh pixels of a block: the vectorised run, or one pixel at a time
// for a cube too large for its 32-bit offsets.
void lookAny(const GradeContext& c, float* __restrict r, float* __restrict g, float* __restrict b,
             const int32_t* __restrict keep, int count) {
    const int n = c.settings->lutEdge;
    if (n <= kLookRunMaxEdge) {
        lookRun(r, g, b, keep, count, c.lutPacked, n, c.intensity);
        return;
    }
    for (int i = 0; i < count; ++i) {
        if (keep[i] == 0) {
            float l[3];
            sampleTetraPacked(c.lutPacked, n, r[i], g[i], b[i], l);
            r[i] += (l[0] - r[i]) * c.intensity;
            g[i] += (l[1] - g[i]) * c.intensity;
            b[i] += (l[2] - b[i]) * c.intensity;
        }
    }
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

// Adds the grain signals n and m to the fresh and graded pixels of a block, weighted by
// luma: deep black and near white get none.
void grainRun(float amount, const float* __restrict n, const float* __restrict m,
              float* __restrict r, float* __restrict g, float* __restrict b,
              const int32_t* __restrict source, int count) {
    for (int i = 0; i < count; ++i) {
        const float vr = r[i], vg = g[i], vb = b[i], vn = n[i], vm = m[i];
        const float l = clampf(displayLuma(vr, vg, vb), 0.0f, 1.0f);
        const float w = smoothMask(0.02f, 0.22f, l) * (1.0f - smoothMask(0.78f, 0.98f, l));
        const float a = amount * 0.22f * w;
        const bool on = (w > 0.0f) & (source[i] <= kGraded);
        r[i] = on ? vr + vn * a : vr;
        g[i] = on ? vg + vn * a * 0.92f + vm * a * 0.08f : vg;
        b[i] = on ? vb + vn * a * 0.92f - vm * a * 0.08f : vb;
    }
}

// Screen-blends the glow arrays into the pixels of a block whose source is at most
// `last`; a glow with no channel above 0 leaves its pixel unchanged.
void screenRun(float amount, const float* __restrict gr, const float* __restrict gg,
               const float* __restrict gb, float* __restrict r, float* __restrict g,
               float* __restrict b, const int32_t* __restrict source, int32_t last, int count) {
    const GammaTables& t = gammaTables();
    // Glows are local (a halation ring is 0 away from bright edges): stretches of the block
    // without any glow are passed over.
    constexpr int kStretch = 32;
    for (int s0 = 0; s0 < count; s0 += kStretch) {
        const int s1 = std::min(count, s0 + kStretch);
        int32_t any = 0;
        for (int i = s0; i < s1; ++i) {
            any |= static_cast<int32_t>((source[i] <= last) &
                                        ((gr[i] > 0.0f) | (gg[i] > 0.0f) | (gb[i] > 0.0f)));
        }
        if (any == 0) {
            continue;
        }
        for (int i = s0; i < s1; ++i) {
            const float vr = r[i], vg = g[i], vb = b[i], lr = gr[i], lg = gg[i], lb = gb[i];
            const bool on = (source[i] <= last) & ((lr > 0.0f) | (lg > 0.0f) | (lb > 0.0f));
            const float sr = screenChannel(t, vr, lr, amount);
            const float sg = screenChannel(t, vg, lg, amount);
            const float sb = screenChannel(t, vb, lb, amount);
            r[i] = on ? sr : vr;
            g[i] = on ? sg : vg;
            b[i] = on ? sb : vb;
        }
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

// Rounding noise of the normalised blur weights can leave a ring of about 1e-7 inside a
// uniformly bright area; anything this small is no glow.
inline constexpr float kRingFloor = 1e-6f;

// The halation ring of `count` pixels of row e from column x0 (cover: each pixel's own
// halation cover), as glow arrays for the screen blend.
void haloRing(const GradeContext& c, const RowEffects& e, int x0, int count,
              const float* __restrict cover, float* __restrict gr, float* __restrict gg,
              float* __restrict gb) {
    const int w = c.blurW;
    const float* r0 = c.small + static_cast<std::size_t>(e.haloY.i0) * w;
    const float* r1 = c.small + static_cast<std::size_t>(e.haloY.i1) * w;
    const float ty = e.haloY.t;
    // The columns first, then the reads: a loop that reads at indices it computes
    // itself does not vectorise.
    int32_t i0[kBlock], i1[kBlock];
    float tx[kBlock];
    for (int i = 0; i < count; ++i) {
        const int dx = x0 + i - c.maskRegion.x1;
        const GridAxis ax = gridAxis((static_cast<float>(dx) + 0.5f) * 0.25f - 0.5f, w);
        i0[i] = ax.i0;
        i1[i] = ax.i1;
        tx[i] = ax.t;
    }
    for (int i = 0; i < count; ++i) {
        const float top = r0[i0[i]] + (r0[i1[i]] - r0[i0[i]]) * tx[i];
        const float bottom = r1[i0[i]] + (r1[i1[i]] - r1[i0[i]]) * tx[i];
        const float wide = top + (bottom - top) * ty;
        const float ring = maxf(wide - cover[i], 0.0f);
        const float kept = ring < kRingFloor ? 0.0f : ring;
        gr[i] = kept;
        gg[i] = kept * 0.16f;
        gb[i] = 0.0f;
    }
}

// The columns of one bloom level read by a block (offsets of RGB cells) and their weights.
struct LevelColumns {
    int32_t i0[kBlock], i1[kBlock];
    float t[kBlock];

    void fill(int x0, int count, int regionX1, float step, int cells) {
        for (int i = 0; i < count; ++i) {
            const float fx = static_cast<float>(x0 + i - regionX1) + 0.5f;
            const GridAxis ax = gridAxis(fx / step - 0.5f, cells);
            i0[i] = ax.i0 * 3;
            i1[i] = ax.i1 * 3;
            t[i] = ax.t;
        }
    }
};

// Bilinear read of channel k of an RGB grid, rows r0 and r1, at column i of a block.
inline float bilinear3(const float* r0, const float* r1, const LevelColumns& ax, int i, float ty,
                       int k) {
    const float a = r0[ax.i0[i] + k], b = r0[ax.i1[i] + k];
    const float cc = r1[ax.i0[i] + k], d = r1[ax.i1[i] + k];
    const float top = a + (b - a) * ax.t[i];
    const float bottom = cc + (d - cc) * ax.t[i];
    return top + (bottom - top) * ty;
}

// The bloom glow of `count` pixels from column x0: the two blurred levels, mixed.
void bloomGlow(const GradeContext& c, const RowEffects& e, int x0, int count, float* __restrict gr,
               float* __restrict gg, float* __restrict gb) {
    const std::size_t w0 = static_cast<std::size_t>(c.bloom0W) * 3;
    const std::size_t w1 = static_cast<std::size_t>(c.bloom1W) * 3;
    const float* a0 = c.level0 + static_cast<std::size_t>(e.bloom0Y.i0) * w0;
    const float* a1 = c.level0 + static_cast<std::size_t>(e.bloom0Y.i1) * w0;
    const float* b0 = c.level1 + static_cast<std::size_t>(e.bloom1Y.i0) * w1;
    const float* b1 = c.level1 + static_cast<std::size_t>(e.bloom1Y.i1) * w1;
    const float t0 = e.bloom0Y.t, t1 = e.bloom1Y.t;
    LevelColumns ax0, ax1;
    ax0.fill(x0, count, c.bloomRegion.x1, 4.0f, c.bloom0W);
    ax1.fill(x0, count, c.bloomRegion.x1, 16.0f, c.bloom1W);
    for (int i = 0; i < count; ++i) {
        gr[i] = 0.82f * bilinear3(a0, a1, ax0, i, t0, 0) + 0.22f * bilinear3(b0, b1, ax1, i, t1, 0);
        gg[i] = 0.82f * bilinear3(a0, a1, ax0, i, t0, 1) + 0.22f * bilinear3(b0, b1, ax1, i, t1, 1);
        gb[i] = 0.82f * bilinear3(a0, a1, ax0, i, t0, 2) + 0.22f * bilinear3(b0, b1, ax1, i, t1, 2);
    }
}

// Vignette gains and dithers of `count` pixels of row y from column x0, each in a loop
// of its own that vectorises, applied to the pixels that take the finish. (The bars and
// the split screen replace the pixels they cover before the grade; see gradeRow.)
void vignetteRun(const GradeContext& c, int x0, int y, int count, float* __restrict r,
                 float* __restrict g, float* __restrict b, const int32_t* __restrict source) {
    const FrameRect rod = c.rod;
    const float amount = c.vignetteAmount, size = c.vignetteSize, feather = c.vignetteFeather;
    const int frame = c.frame;
    float scale[kBlock], dither[kBlock];
    for (int i = 0; i < count; ++i) {
        scale[i] = vignetteScale(x0 + i, y, rod, amount, size, feather);
    }
    for (int i = 0; i < count; ++i) {
        dither[i] = vignetteDither(x0 + i, y, frame);
    }
    for (int i = 0; i < count; ++i) {
        const bool on = source[i] <= kGlowing;
        r[i] = on ? r[i] * scale[i] + dither[i] : r[i];
        g[i] = on ? g[i] * scale[i] + dither[i] : g[i];
        b[i] = on ? b[i] * scale[i] + dither[i] : b[i];
    }
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
    // Whether a letterbox bar covers the whole row (then only the pillarbox bars are
    // tested per pixel).
    const bool barRow = border && borderCovers(0, y, c.rod, c.borderTop, 0.0f);

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

    // The row goes in blocks: the fetch per pixel, then each step over the block's channel
    // arrays, then the store per pixel.
    float alpha[kBlock];
    float tr[kBlock], tg[kBlock], tb[kBlock];
    float cover[kBlock];  // halation cover of graded pixels
    float grainN[kBlock], grainM[kBlock];
    float glowR[kBlock], glowG[kBlock], glowB[kBlock];
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
                    r = g = b = 0.0f;
                }
            }
            alpha[i] = a;
            cover[i] = 0.0f;
            int side = 1;
            if (from == kTransparent) {
                // stays black below
            } else if (beforeAfter || (split && (side = splitSide(x, c.splitX, c.splitHalf)) < 0)) {
                from = kFinal;
            } else if (split && side == 0) {
                r = g = b = 1.0f;
                from = kFinal;
            } else if (border && (barRow || borderCovers(x, y, c.rod, 0.0f, c.borderSide))) {
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
        if (firstFresh < endFresh) {
            const int n = endFresh - firstFresh;
            float* r = tr + firstFresh;
            float* g = tg + firstFresh;
            float* b = tb + firstFresh;
            const int32_t* from = source + firstFresh;
            if (c.has(kDoLinear)) {
                lineariseRun(c, r, g, b, from, n);
            }
            if (look) {
                lookAny(c, r, g, b, from, n);
            }
            if (toneOn) {
                toneRun(r, g, b, from, n, tone);
            }
        }
        if constexpr (Mode != PassMode::haloMask) {
            if (grain && grained) {
                rowGrain.n.fill(bx, count, 0.0f, grainN);
                rowGrain.m.fill(bx, count, 19.0f, grainM);
                grainRun(c.grainAmount, grainN, grainM, tr, tg, tb, source, count);
            }
            if (e.halo && grained) {
                haloRing(c, e, bx, count, cover, glowR, glowG, glowB);
                screenRun(c.haloGain, glowR, glowG, glowB, tr, tg, tb, source, kGraded, count);
            }
        }
        if constexpr (Mode == PassMode::final) {
            if (e.bloom && open) {
                bloomGlow(c, e, bx, count, glowR, glowG, glowB);
                screenRun(c.bloomGain, glowR, glowG, glowB, tr, tg, tb, source, kGlowing, count);
            }
            if (finish && open) {
                vignetteRun(c, bx, y, count, tr, tg, tb, source);
            }
            for (int i = 0; i < count; ++i, out += dstComps) {
                if (source[i] == kTransparent) {
                    for (int k = 0; k < dstComps; ++k) {
                        out[k] = 0.0f;
                    }
                    continue;
                }
                const float a = alpha[i];
                float r = tr[i], g = tg[i], b = tb[i];
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
            }
        } else {
            // The caches hold the colours of the pixels this pass grades (black for
            // transparent ones); the final pass never reads them for final pixels.
            for (int i = 0; i < count; ++i, out += 3) {
                if (source[i] != kFinal) {
                    out[0] = tr[i];
                    out[1] = tg[i];
                    out[2] = tb[i];
                }
            }
        }
    }
    if constexpr (Mode == PassMode::final) {
        if (integerDst) {
            storeRow(*c.dst, y, c.x1, c.x2, rowOut);
        }
    }
}

// The final pass when nothing but the look is on: fetch, look, write, a block of pixels
// at a time.
void lookRow(GradeContext& c, int y, float* scratch) {
    const SourceRow src = sourceRow(c, y, scratch);
    const ImageView& dst = *c.dst;
    const int dstComps = dst.components;
    const bool integerDst = dst.depth != kDepthFloat;
    float* const rowOut = integerDst ? scratch + static_cast<std::ptrdiff_t>(c.x2 - c.x1) * 4
                                     : reinterpret_cast<float*>(imageRow(dst, y)) +
                                           static_cast<std::ptrdiff_t>(c.x1 - dst.x1) * dstComps;
    float* out = rowOut;
    float tr[kBlock], tg[kBlock], tb[kBlock], alpha[kBlock];
    int32_t keep[kBlock] = {};
    for (int bx = c.x1; bx < c.x2; bx += kBlock) {
        const int count = std::min(kBlock, c.x2 - bx);
        if (src.pixels != nullptr && src.comps == 4 && src.from <= bx && bx + count <= src.to) {
            const float* in = src.pixels + static_cast<std::ptrdiff_t>(bx - src.base) * 4;
            if (!c.has(kDoLut) && dstComps == 4) {
                // Nothing to grade: the pixels as they are.
                std::memcpy(out, in, static_cast<std::size_t>(count) * 4 * sizeof(float));
                out += static_cast<std::ptrdiff_t>(count) * 4;
                continue;
            }
            for (int i = 0; i < count; ++i) {
                tr[i] = in[4 * i];
                tg[i] = in[4 * i + 1];
                tb[i] = in[4 * i + 2];
                alpha[i] = in[4 * i + 3];
            }
        } else {
            for (int i = 0; i < count; ++i) {
                float r = 0.0f, g = 0.0f, b = 0.0f, a = 1.0f;
                src.fetch(bx + i, r, g, b, a);
                tr[i] = r;
                tg[i] = g;
                tb[i] = b;
                alpha[i] = a;
            }
        }
        if (c.has(kDoLut)) {
            lookAny(c, tr, tg, tb, keep, count);
        }
        if (dstComps == 4) {
            for (int i = 0; i < count; ++i) {
                out[4 * i] = tr[i];
                out[4 * i + 1] = tg[i];
                out[4 * i + 2] = tb[i];
                out[4 * i + 3] = alpha[i];
            }
        } else {
            for (int i = 0; i < count; ++i) {
                out[3 * i] = tr[i];
                out[3 * i + 1] = tg[i];
                out[3 * i + 2] = tb[i];
            }
        }
        out += static_cast<std::ptrdiff_t>(count) * dstComps;
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

// The worker of a pass on the chosen instruction set.
GradeWorker bandWorker() {
#if VD_SIMD_AVX2
    if (currentTarget() == SimdTarget::avx2) {
        return gradeRowsAvx2;
    }
#endif
    return gradeRowsBaseline;
}

// Runs a pass on n bands of the render's thread plan.
void runRows(GradeContext& c, int n, PassMode mode) {
    GradePass pass{&c, mode};
    runBands(c.plan, n, bandWorker(), &pass);
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
