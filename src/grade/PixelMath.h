// The per-pixel mathematics of the grade as small pure functions on floats, written so
// that the device kernels can mirror them line for line.
//
// Owns: masks, noise, the tetrahedral look sampler, tone zones, glow blend, vignette and
// border tests, and the fast gamma-2.2 powers used by the effects.
// Does not own: the order of the steps or the flags that switch them (Grade.cpp), the
// camera curves (Curves.h).
//
// NaN and infinity: every function here states what it does with them; none of them can
// index outside a table or a cube whatever float it is given.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "grade/Curves.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

namespace vd {

// Clamp to [lo, hi]; NaN gives lo.
inline float clampf(float v, float lo, float hi) {
    // Two plain selects rather than nested ones, which loops can turn into vector blends.
    const float upper = v < hi ? v : hi;
    return v > lo ? upper : lo;
}

inline float maxf(float a, float b) {
    return a > b ? a : b;
}
inline float minf(float a, float b) {
    return a < b ? a : b;
}

// Smoothstep from edge0 to edge1; 0 for a zero-width edge or a NaN value.
inline float smoothMask(float edge0, float edge1, float v) {
    const float span = edge1 - edge0;
    if (span == 0.0f) {
        return 0.0f;
    }
    const float t = clampf((v - edge0) / span, 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

// ---- Fast gamma-2.2 powers -------------------------------------------------------------
// x^2.2 and x^(1/2.2) by splitting x into 2^e x m: a 256-entry table of 2^(e p) and a
// 2049-entry table of m^p over m in [1, 2) with linear interpolation (relative error below
// 1e-6). They replace pow in the per-pixel effects.
struct GammaTables {
    float expUp[256];      // 2^((e - 127) x 2.2)
    float expDown[256];    // 2^((e - 127) / 2.2)
    float mantUp[2049];    // m^2.2
    float mantDown[2049];  // m^(1/2.2)

    GammaTables() {
        for (int e = 0; e < 256; ++e) {
            const double stops = static_cast<double>(e - 127);
            expUp[e] = static_cast<float>(std::exp2(stops * 2.2));
            expDown[e] = static_cast<float>(std::exp2(stops / 2.2));
        }
        for (int i = 0; i <= 2048; ++i) {
            const double m = 1.0 + static_cast<double>(i) / 2048.0;
            mantUp[i] = static_cast<float>(std::pow(m, 2.2));
            mantDown[i] = static_cast<float>(std::pow(m, 1.0 / 2.2));
        }
    }
};

// Built once, on first use; read-only afterwards.
inline const GammaTables& gammaTables() {
    static const GammaTables tables;
    return tables;
}

namespace detail {
inline float fastPow(float x, const float* expTable, const float* mantTable) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const uint32_t e = (bits >> 23) & 0xffu;
    const uint32_t idx = (bits >> 12) & 0x7ffu;
    const float frac = static_cast<float>(bits & 0xfffu) * (1.0f / 4096.0f);
    const float m = mantTable[idx] + (mantTable[idx + 1] - mantTable[idx]) * frac;
    return expTable[e] * m;
}
}  // namespace detail

// max(c, 0)^2.2; NaN gives 0, +Inf gives +Inf. Written as selects over a power computed
// for any bits (the table indices are always in range) so that loops over it vectorise;
// `t` is passed in so that such loops read the tables without the one-time guard.
inline float powUpWith(const GammaTables& t, float c) {
    const float p = detail::fastPow(c, t.expUp, t.mantUp);
    // Zero, negative, NaN and subnormal inputs (whose power underflows) give 0.
    return c > 1.17549435e-38f ? (c == INFINITY ? INFINITY : p) : 0.0f;
}

inline float powUp(float c) {
    return powUpWith(gammaTables(), c);
}

// max(l, 0)^(1/2.2) for arguments that are 0 or normal: a positive subnormal gives 0 here
// (powDown takes the slow road for it). The loops that use it only pass values that
// cannot be subnormal.
inline float powDownNormal(const GammaTables& t, float l) {
    const float p = detail::fastPow(l, t.expDown, t.mantDown);
    return l > 1.17549435e-38f ? (l == INFINITY ? INFINITY : p) : 0.0f;
}

// max(l, 0)^(1/2.2); NaN gives 0, +Inf gives +Inf.
inline float powDown(float l) {
    if (!(l > 1.17549435e-38f) && l > 0.0f) {
        return std::pow(l, 0.45454544f);  // subnormals take the slow road
    }
    return powDownNormal(gammaTables(), l);
}

// ---- Noise ------------------------------------------------------------------------------
inline uint32_t mixHash(uint32_t v) {
    v ^= v >> 16;
    v *= 0x7feb352du;
    v ^= v >> 15;
    v *= 0x846ca68bu;
    v ^= v >> 16;
    return v;
}

// Uniform value in [0, 1] of an integer lattice point; inputs wrap as unsigned 32-bit.
inline float hash01(uint32_t x, uint32_t y, uint32_t frame, uint32_t salt) {
    const uint32_t h =
        mixHash(x * 374761393u ^ y * 668265263u ^ frame * 1442695041u ^ salt * 2654435761u);
    return static_cast<float>(h & 0xffffffu) / 16777215.0f;
}

// Lattice index of a finite coordinate, wrapped to 32 bits.
inline uint32_t latticeIndex(float v) {
    return static_cast<uint32_t>(static_cast<int64_t>(std::floor(v)));
}

inline float valueNoise(float x, float y, float cell, uint32_t frame, uint32_t salt) {
    if (cell < 1.0f) {
        cell = 1.0f;
    }
    const float gx = x / cell;
    const float gy = y / cell;
    const float fx0 = std::floor(gx);
    const float fy0 = std::floor(gy);
    const float tx = gx - fx0;
    const float ty = gy - fy0;
    const float sx = tx * tx * (3.0f - 2.0f * tx);
    const float sy = ty * ty * (3.0f - 2.0f * ty);
    const uint32_t x0 = latticeIndex(gx);
    const uint32_t y0 = latticeIndex(gy);
    const float a = hash01(x0, y0, frame, salt);
    const float b = hash01(x0 + 1u, y0, frame, salt);
    const float c = hash01(x0, y0 + 1u, frame, salt);
    const float d = hash01(x0 + 1u, y0 + 1u, frame, salt);
    const float top = a + (b - a) * sx;
    const float bottom = c + (d - c) * sx;
    return top + (bottom - top) * sy;
}

// Three octaves of value noise, in [-1, 1]; depends only on position, cell and frame.
inline float grainSignal(float x, float y, float cell, uint32_t frame) {
    float noise = 0.0f;
    float amplitude = 0.55f;
    float weight = 0.0f;
    for (uint32_t octave = 0; octave < 3; ++octave) {
        noise += (valueNoise(x, y, cell, frame, octave) - 0.5f) * 2.0f * amplitude;
        weight += amplitude;
        amplitude *= 0.5f;
        cell = maxf(cell * 0.5f, 1.0f);
    }
    return noise / weight;
}

// grainSignal along runs of one row: the lattice row and its vertical weight are fixed
// for the row; for each run the hashes of the lattice columns it touches are computed
// first, in a loop of their own that vectorises, and each pixel then interpolates its
// four corners from them. Gives exactly the values of grainSignal.
class GrainRow {
  public:
    // The longest run of fill.
    static constexpr int kMaxRun = 256;

    GrainRow(float y, float cell, uint32_t frame) {
        float amplitude = 0.55f;
        float weight = 0.0f;
        for (uint32_t o = 0; o < 3; ++o) {
            Octave& oct = octaves_[o];
            oct.cell = cell < 1.0f ? 1.0f : cell;
            const float gy = y / oct.cell;
            const float ty = gy - std::floor(gy);
            oct.sy = ty * ty * (3.0f - 2.0f * ty);
            const uint32_t y0 = latticeIndex(gy);
            const uint32_t rest = frame * 1442695041u ^ o * 2654435761u;
            oct.key0 = y0 * 668265263u ^ rest;
            oct.key1 = (y0 + 1u) * 668265263u ^ rest;
            oct.amplitude = amplitude;
            weight += amplitude;
            amplitude *= 0.5f;
            cell = maxf(cell * 0.5f, 1.0f);
        }
        weight_ = weight;
    }

    // out[i] = grainSignal at ((x0 + i) + 0.5) + offset for i below count (1..kMaxRun).
    void fill(int x0, int count, float offset, float* __restrict out) const {
        float noise[kMaxRun];
        for (int i = 0; i < count; ++i) {
            noise[i] = 0.0f;
        }
        for (const Octave& oct : octaves_) {
            const float first = oct.column(position(x0, offset));
            const float last = oct.column(position(x0 + count - 1, offset));
            const uint32_t base = latticeIndex(first);
            // Columns base .. base + span; cells are at least one pixel wide, so at most
            // count + 1 of them.
            const uint32_t span = latticeIndex(last) - base + 1u;
            float top[kMaxRun + 2], bottom[kMaxRun + 2];
            for (uint32_t j = 0; j <= span; ++j) {
                top[j] = hashKeyed(base + j, oct.key0);
                bottom[j] = hashKeyed(base + j, oct.key1);
            }
            // Lattice columns within 32-bit range (any picture's): the columns and weights
            // in a loop of 32-bit integers, then the reads, each of which vectorises.
            if (std::fabs(first) < 1e9f && std::fabs(last) < 1e9f) {
                int32_t col[kMaxRun];
                float sxs[kMaxRun];
                const auto base32 = static_cast<int32_t>(std::floor(first));
                for (int i = 0; i < count; ++i) {
                    const float gx = oct.column(position(x0 + i, offset));
                    const float fx0 = std::floor(gx);
                    const float tx = gx - fx0;
                    sxs[i] = tx * tx * (3.0f - 2.0f * tx);
                    col[i] = static_cast<int32_t>(fx0) - base32;
                }
                const float sy = oct.sy, amplitude = oct.amplitude;
                for (int i = 0; i < count; ++i) {
                    const int32_t j = col[i];
                    const float a = top[j], b = top[j + 1], c = bottom[j], d = bottom[j + 1];
                    const float t = a + (b - a) * sxs[i];
                    const float u = c + (d - c) * sxs[i];
                    const float v = t + (u - t) * sy;
                    noise[i] += (v - 0.5f) * 2.0f * amplitude;
                }
                continue;
            }
            for (int i = 0; i < count; ++i) {
                const float gx = oct.column(position(x0 + i, offset));
                const float fx0 = std::floor(gx);
                const float tx = gx - fx0;
                const float sx = tx * tx * (3.0f - 2.0f * tx);
                const uint32_t j = static_cast<uint32_t>(static_cast<int64_t>(fx0)) - base;
                const float a = top[j], b = top[j + 1], c = bottom[j], d = bottom[j + 1];
                const float t = a + (b - a) * sx;
                const float u = c + (d - c) * sx;
                const float v = t + (u - t) * oct.sy;
                noise[i] += (v - 0.5f) * 2.0f * oct.amplitude;
            }
        }
        for (int i = 0; i < count; ++i) {
            out[i] = noise[i] / weight_;
        }
    }

  private:
    static float position(int x, float offset) { return (static_cast<float>(x) + 0.5f) + offset; }

    // hash01 with everything but the column folded into key.
    static float hashKeyed(uint32_t x, uint32_t key) {
        return static_cast<float>(mixHash(x * 374761393u ^ key) & 0xffffffu) / 16777215.0f;
    }

    struct Octave {
        float cell, sy, amplitude;
        uint32_t key0, key1;  // the hash inputs of the two lattice rows, less the column

        float column(float x) const { return x / cell; }
    };
    Octave octaves_[3];
    float weight_ = 1.0f;
};

// ---- Look -------------------------------------------------------------------------------
// The four cube entries and weights of one tetrahedral lookup. Offsets count floats from
// the cube's start for entries of `unit` floats (3 for a plain cube, 4 for a packed one).
struct TetraTaps {
    std::ptrdiff_t o000, oA, oB, o111;
    float w0, wA, wB, w1;
};

namespace detail {
// Axis order (2 bits per axis: 0 red, 1 green, 2 blue) of each comparison pattern
// key = [dr > dg] | [dg > db] << 1 | [dr > db] << 2 | [db > dg] << 3 | [db > dr] << 4.
constexpr int tetraOrder(int key) {
    const bool rg = (key & 1) != 0, gb = (key & 2) != 0, rb = (key & 4) != 0;
    const bool bg = (key & 8) != 0, br = (key & 16) != 0;
    auto pack = [](int a, int b, int c) { return a | (b << 2) | (c << 4); };
    if (rg) {
        if (gb) {
            return pack(0, 1, 2);
        }
        return rb ? pack(0, 2, 1) : pack(2, 0, 1);
    }
    if (bg) {
        return pack(2, 1, 0);
    }
    return br ? pack(1, 2, 0) : pack(1, 0, 2);
}

struct TetraOrderTable {
    int v[32];
    constexpr TetraOrderTable() : v() {
        for (int k = 0; k < 32; ++k) {
            v[k] = tetraOrder(k);
        }
    }
};
inline constexpr TetraOrderTable kTetraOrderTable{};
}  // namespace detail

inline constexpr const int* kTetraOrder = detail::kTetraOrderTable.v;

// Which tetrahedron the fractions fall in, as the comparison pattern of kTetraOrder.
inline int tetraKey(float dr, float dg, float db) {
    return (dr > dg ? 1 : 0) | (dg > db ? 2 : 0) | (dr > db ? 4 : 0) | (db > dg ? 8 : 0) |
           (db > dr ? 16 : 0);
}

// The taps of lattice cell (r0, g0, b0) (each at most n - 1) at fractions (dr, dg, db).
// The six tetrahedra are chosen by strict comparisons so that ties fall to the later
// ones; each is an order of the axes by falling fraction, the corners step along the axes
// in that order and the weights are the differences of the sorted fractions. The choice
// is made by table rather than by branches: on textured pictures the order changes from
// pixel to pixel and branches would mostly be mispredicted.
inline TetraTaps tetraTapsAt(int n, int r0, int g0, int b0, float dr, float dg, float db, int key,
                             std::ptrdiff_t unit) {
    const std::ptrdiff_t sr = unit;
    const std::ptrdiff_t sg = unit * n;
    const std::ptrdiff_t sb = unit * n * n;
    // Steps to the next lattice point along each axis; 0 on the top face.
    const std::ptrdiff_t dR = r0 + 1 < n ? sr : 0;
    const std::ptrdiff_t dG = g0 + 1 < n ? sg : 0;
    const std::ptrdiff_t dB = b0 + 1 < n ? sb : 0;
    const int order = kTetraOrder[key];
    const float f[3] = {dr, dg, db};
    const std::ptrdiff_t step[3] = {dR, dG, dB};
    const int a1 = order & 3, a2 = (order >> 2) & 3, a3 = (order >> 4) & 3;
    const float f1 = f[a1], f2 = f[a2], f3 = f[a3];
    TetraTaps t;
    t.o000 = r0 * sr + g0 * sg + b0 * sb;
    t.oA = t.o000 + step[a1];
    t.oB = t.oA + step[a2];
    t.o111 = t.o000 + dR + dG + dB;
    t.w0 = 1.0f - f1;
    t.wA = f1 - f2;
    t.wB = f2 - f3;
    t.w1 = f3;
    return t;
}

// Inputs are clamped to [0, 1] and NaN counts as 0, so every offset lies inside the cube.
inline TetraTaps tetraTaps(int n, float r, float g, float b, std::ptrdiff_t unit) {
    const float top = static_cast<float>(n - 1);
    r = clampf(r, 0.0f, 1.0f) * top;
    g = clampf(g, 0.0f, 1.0f) * top;
    b = clampf(b, 0.0f, 1.0f) * top;
    int r0 = static_cast<int>(r);  // non-negative, so truncation is floor
    int g0 = static_cast<int>(g);
    int b0 = static_cast<int>(b);
    if (r0 >= n - 1) {
        r0 = n - 1;
        r = top;
    }
    if (g0 >= n - 1) {
        g0 = n - 1;
        g = top;
    }
    if (b0 >= n - 1) {
        b0 = n - 1;
        b = top;
    }
    const float dr = r - static_cast<float>(r0);
    const float dg = g - static_cast<float>(g0);
    const float db = b - static_cast<float>(b0);
    return tetraTapsAt(n, r0, g0, b0, dr, dg, db, tetraKey(dr, dg, db), unit);
}

// Tetrahedral interpolation in an N^3 cube of RGB entries (red fastest). Without a cube
// (null or N below 2) the input is returned.
inline void sampleTetra(const float* cube, int n, float r, float g, float b, float out[3]) {
    if (cube == nullptr || n < 2) {
        out[0] = r;
        out[1] = g;
        out[2] = b;
        return;
    }
    const TetraTaps t = tetraTaps(n, r, g, b, 3);
    for (int k = 0; k < 3; ++k) {
        out[k] = t.w0 * cube[t.o000 + k] + t.wA * cube[t.oA + k] + t.wB * cube[t.oB + k] +
                 t.w1 * cube[t.o111 + k];
    }
}

#if defined(__SSE2__)
// The weighted sum of the four entries of a packed cube, all channels at once.
inline __m128 tetraSum(const float* cube4, const TetraTaps& t) {
    __m128 acc = _mm_mul_ps(_mm_set1_ps(t.w0), _mm_loadu_ps(cube4 + t.o000));
    acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(t.wA), _mm_loadu_ps(cube4 + t.oA)));
    acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(t.wB), _mm_loadu_ps(cube4 + t.oB)));
    return _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(t.w1), _mm_loadu_ps(cube4 + t.o111)));
}
#endif

// The same lookup in a packed cube whose entries take 4 floats (RGB and one unused), so
// that each entry is one vector load. Gives exactly the values of sampleTetra.
inline void sampleTetraPacked(const float* cube4, int n, float r, float g, float b, float out[3]) {
    const TetraTaps t = tetraTaps(n, r, g, b, 4);
#if defined(__SSE2__)
    const __m128 acc = tetraSum(cube4, t);
    alignas(16) float v[4];
    _mm_store_ps(v, acc);
    out[0] = v[0];
    out[1] = v[1];
    out[2] = v[2];
#else
    for (int k = 0; k < 3; ++k) {
        out[k] = t.w0 * cube4[t.o000 + k] + t.wA * cube4[t.oA + k] + t.wB * cube4[t.oB + k] +
                 t.w1 * cube4[t.o111 + k];
    }
#endif
}

// The look over a run of pixels, in two loops that vectorise and one that reads the
// cube: the four taps and weights of every pixel are found together, and the two middle
// corners from the largest and smallest fraction (the tetrahedron of the sorted
// fractions; where fractions tie, the corner they leave open has weight 0). Gives the
// values of sampleTetraPacked. At most kLookRun pixels, cubes of at most kLookRunMaxEdge
// entries a side (whose offsets fit 32 bits).
inline constexpr int kLookRun = 256;
inline constexpr int kLookRunMaxEdge = 512;

inline void lookTaps(const float* __restrict r, const float* __restrict g,
                     const float* __restrict b, int count, const float* cube4, int n,
                     float* __restrict outR, float* __restrict outG, float* __restrict outB) {
    const float top = static_cast<float>(n - 1);
    const int32_t sr = 4, sg = 4 * n, sb = 4 * n * n;
    int32_t o000[kLookRun], oA[kLookRun], oB[kLookRun], o111[kLookRun];
    float w0[kLookRun], wA[kLookRun], wB[kLookRun], w1[kLookRun];
    for (int i = 0; i < count; ++i) {
        const float vr = clampf(r[i], 0.0f, 1.0f) * top;
        const float vg = clampf(g[i], 0.0f, 1.0f) * top;
        const float vb = clampf(b[i], 0.0f, 1.0f) * top;
        // Truncation is floor for these non-negative values; the top face stays in the
        // last cell with fraction 0.
        const int32_t tr = static_cast<int32_t>(vr), tg = static_cast<int32_t>(vg),
                      tb = static_cast<int32_t>(vb);
        const int32_t r0 = tr < n - 1 ? tr : n - 1, g0 = tg < n - 1 ? tg : n - 1,
                      b0 = tb < n - 1 ? tb : n - 1;
        const float dr = (tr < n - 1 ? vr : top) - static_cast<float>(r0);
        const float dg = (tg < n - 1 ? vg : top) - static_cast<float>(g0);
        const float db = (tb < n - 1 ? vb : top) - static_cast<float>(b0);
        const int32_t dR = r0 + 1 < n ? sr : 0, dG = g0 + 1 < n ? sg : 0, dB = b0 + 1 < n ? sb : 0;
        const float hi = maxf(dr, maxf(dg, db));
        const float lo = minf(dr, minf(dg, db));
        const float mid = maxf(minf(dr, dg), minf(maxf(dr, dg), db));
        const int32_t hiGB = dg >= db ? dG : dB;
        const int32_t stepHi = ((dr >= dg) & (dr >= db)) ? dR : hiGB;
        const int32_t loGB = dg <= db ? dG : dB;
        const int32_t stepLo = ((dr <= dg) & (dr <= db)) ? dR : loGB;
        const int32_t base = r0 * sr + g0 * sg + b0 * sb;
        o000[i] = base;
        oA[i] = base + stepHi;
        o111[i] = base + dR + dG + dB;
        oB[i] = base + dR + dG + dB - stepLo;
        w0[i] = 1.0f - hi;
        wA[i] = hi - mid;
        wB[i] = mid - lo;
        w1[i] = lo;
    }
    for (int i = 0; i < count; ++i) {
#if defined(__SSE2__)
        __m128 acc = _mm_mul_ps(_mm_set1_ps(w0[i]), _mm_loadu_ps(cube4 + o000[i]));
        acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(wA[i]), _mm_loadu_ps(cube4 + oA[i])));
        acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(wB[i]), _mm_loadu_ps(cube4 + oB[i])));
        acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(w1[i]), _mm_loadu_ps(cube4 + o111[i])));
        alignas(16) float v[4];
        _mm_store_ps(v, acc);
        outR[i] = v[0];
        outG[i] = v[1];
        outB[i] = v[2];
#else
        float v[3];
        for (int k = 0; k < 3; ++k) {
            v[k] = w0[i] * cube4[o000[i] + k] + wA[i] * cube4[oA[i] + k] +
                   wB[i] * cube4[oB[i] + k] + w1[i] * cube4[o111[i] + k];
        }
        outR[i] = v[0];
        outG[i] = v[1];
        outB[i] = v[2];
#endif
    }
}

// The look at `intensity` over a run of pixels held as channel arrays (at most
// kLookRun); pixels whose `keep` entry is non-zero are left alone.
inline void lookRun(float* __restrict r, float* __restrict g, float* __restrict b,
                    const int32_t* __restrict keep, int count, const float* cube4, int n,
                    float intensity) {
    float lr[kLookRun], lg[kLookRun], lb[kLookRun];
    lookTaps(r, g, b, count, cube4, n, lr, lg, lb);
    for (int i = 0; i < count; ++i) {
        const float vr = r[i], vg = g[i], vb = b[i];
        const bool k = keep[i] != 0;
        r[i] = k ? vr : vr + (lr[i] - vr) * intensity;
        g[i] = k ? vg : vg + (lg[i] - vg) * intensity;
        b[i] = k ? vb : vb + (lb[i] - vb) * intensity;
    }
}

// ---- Fast exponentials -----------------------------------------------------------------
// 2^x without libm, branch-free so that loops over rows vectorise: x is split into the
// nearest integer n and f = x - n in [-0.5, 0.5]; 2^f is a degree-7 Taylor polynomial
// (truncation error below 6e-9) and 2^n is built in the exponent bits. The relative error
// against the exact value is below 3e-7 (a few float roundings) for x in [-126, 126];
// x is clamped to that range first, so large negative x gives 2^-126 (about 1e-38)
// rather than 0, large positive x gives 2^126, and NaN gives 2^-126.
inline float fastExp2(float x) {
    x = minf(maxf(x, -126.0f), 126.0f);  // NaN gives -126
    // Adding and removing 1.5 x 2^23 rounds to the nearest integer in the default
    // rounding mode.
    const float n = (x + 12582912.0f) - 12582912.0f;
    const float f = x - n;
    float p = 1.5252733804059841e-05f;  // (ln 2)^7 / 7!
    p = p * f + 1.5403530393381610e-04f;
    p = p * f + 1.3333558146428443e-03f;
    p = p * f + 9.6181291076284772e-03f;
    p = p * f + 5.5504108664821580e-02f;
    p = p * f + 2.4022650695910071e-01f;
    p = p * f + 6.9314718055994531e-01f;
    p = p * f + 1.0f;
    const auto bits = static_cast<uint32_t>(static_cast<int32_t>(n) + 127) << 23;
    return p * std::bit_cast<float>(bits);
}

// e^x as 2^(x log2 e). The rounding of the product adds a relative error of about
// 6e-8 |x| to the 3e-7 of fastExp2; for x in [-88, 0], where it is used, the absolute
// error stays below 4e-7.
inline float fastExp(float x) {
    return fastExp2(x * 1.44269504f);
}

// ---- Tone -------------------------------------------------------------------------------
// The shadows and highlights steps are written without early returns or conditionally
// evaluated arithmetic: both sides of every choice are computed and then selected one
// condition at a time, so that their loops in toneRun vectorise (the compiler may not
// speculate floating-point operations that sit on one side of a branch). Where a step does
// not apply it leaves the pixel exactly as it was.

// The display-light scale of the shadows step for a pixel of (clamped) luma l, 1 where
// the step leaves the pixel alone.
inline float shadowScale(float l, float a) {
    const float fade = 1.0f - smoothMask(0.05f, 0.40f, l);
    const float w = l <= 0.05f ? 1.0f : fade;
    // The gain is 2^(a w) in linear light, capped for a lift at (0.40 / L)^2.2 so that
    // no pixel passes luma 0.40; applied in display light it is its 2.2th root, which
    // is taken directly: 2^(a w / 2.2), capped at 0.40 / L.
    const float gain = fastExp2(a * w / 2.2f);
    // l is positive wherever the result is used; the floor only keeps the division
    // finite elsewhere.
    const float capped = minf(gain, 0.40f / maxf(l, 1e-30f));
    const float scale = a > 0.0f ? capped : gain;
    // A luma outside (0, 0.40) (NaN and infinity included), no weight or a scale that
    // is not a positive finite number: no change.
    float result = scale > 0.0f ? scale : 1.0f;
    result = scale <= 3.40282347e+38f ? result : 1.0f;
    result = w > 0.0f ? result : 1.0f;
    result = l < 0.40f ? result : 1.0f;
    return l > 0.0f ? result : 1.0f;
}

// Lifts (a > 0) or lowers (a < 0) the shadows by up to one stop, fading out by luma 0.40.
// A non-finite luma or gain leaves the pixel as it is; channels at or below 0 are kept.
inline void applyShadowExposure(float& r, float& g, float& b, float a) {
    const float l = displayLuma(maxf(r, 0.0f), maxf(g, 0.0f), maxf(b, 0.0f));
    const float scale = shadowScale(l, a);
    const float sr = r * scale, sg = g * scale, sb = b * scale;
    r = r > 0.0f ? sr : r;
    g = g > 0.0f ? sg : g;
    b = b > 0.0f ? sb : b;
}

namespace detail {
// The highlight curve for amounts of one sign: the soft approach to 1 is computed only
// for raising (Raise true, a > 0).
template <bool Raise>
inline float highlightLuma(float y, float a) {
    const float stops = Raise ? 2.9f : 1.3f;
    const float s = minf(maxf(y, 0.000001f), 1.0f);  // NaN gives 0.000001
    const float w = smoothMask(0.34f, 0.92f, s);
    // (s^2.2 x 2^(a stops w))^(1/2.2), with the powers folded: s x 2^(a stops w / 2.2).
    float out = s * fastExp2(a * stops * w / 2.2f);
    if constexpr (Raise) {
        // A soft approach to 1 that never reaches it below luma 1.
        const float room = 1.0f - s;
        const float soft = s + room * (1.0f - fastExp(-(out - s) / maxf(room, 0.0001f)));
        out = out > s ? soft : out;
        out = s >= 1.0f ? 1.0f : out;
    }
    const float above = out + 0.35f * (y - 1.0f);
    float result = y > 1.0f ? above : out;
    result = y > 0.34f ? result : y;
    result = std::fabs(y) <= 3.40282347e+38f ? result : y;
    return a != 0.0f ? result : y;
}

template <bool Raise>
inline void highlights(float& r, float& g, float& b, float a) {
    const float l = displayLuma(r, g, b);
    const float m = highlightLuma<Raise>(l, a);
    const bool small = l <= 1e-8f;
    const float ratio = minf(maxf(m / (small ? 1.0f : l), 0.25f), 4.0f);  // NaN gives 0.25
    const float k = small ? 1.0f : ratio;
    const float finite = std::fabs(l) <= 3.40282347e+38f ? std::fabs(m) : INFINITY;
    const bool apply = finite <= 3.40282347e+38f;
    const float mr = m + (r - l) * k, mg = m + (g - l) * k, mb = m + (b - l) * k;
    r = apply ? mr : r;
    g = apply ? mg : g;
    b = apply ? mb : b;
}
}  // namespace detail

// The highlight tone curve on luma: raises (a > 0) up to 2.9 stops or lowers (a < 0) up
// to 1.3 stops above luma 0.34; values above 1 keep 35% of their excess. NaN and
// infinity are returned as they are. Branch-free like shadowScale (its clamps are
// written as min and max, which the compiler turns into vector operations where it would
// not for the nested selects of clampf).
inline float mapHighlightLuma(float y, float a) {
    return a > 0.0f ? detail::highlightLuma<true>(y, a) : detail::highlightLuma<false>(y, a);
}

// Moves the pixel's luma along the highlight curve, scaling its chroma with it. A
// non-finite luma or mapped luma leaves the pixel unchanged.
inline void applyHighlights(float& r, float& g, float& b, float a) {
    if (a > 0.0f) {
        detail::highlights<true>(r, g, b, a);
    } else {
        detail::highlights<false>(r, g, b, a);
    }
}

// Contrast, shadows, highlights and saturation over a run of pixels held as three
// channel arrays, one loop per step. Amounts of 0 skip their step; pixels whose `keep` entry is
// non-zero are left alone (they were graded before or are not graded at all).
struct ToneAmounts {
    float contrast = 0.0f;
    float shadows = 0.0f;
    float highlights = 0.0f;
    float saturation = 0.0f;
};

// The arrays must not overlap (they are declared __restrict so that the loops vectorise).
inline void toneRun(float* __restrict r, float* __restrict g, float* __restrict b,
                    const int32_t* __restrict keep, int count, const ToneAmounts& t) {
    if (t.contrast != 0.0f) {
        const float f = 1.0f + t.contrast;
        for (int i = 0; i < count; ++i) {
            const float vr = r[i], vg = g[i], vb = b[i];
            const float cr = (vr - 0.5f) * f + 0.5f;
            const float cg = (vg - 0.5f) * f + 0.5f;
            const float cb = (vb - 0.5f) * f + 0.5f;
            const bool k = keep[i] != 0;
            r[i] = k ? vr : cr;
            g[i] = k ? vg : cg;
            b[i] = k ? vb : cb;
        }
    }
    if (t.shadows != 0.0f) {
        const float a = t.shadows;
        for (int i = 0; i < count; ++i) {
            const float vr = r[i], vg = g[i], vb = b[i];
            float pr = vr, pg = vg, pb = vb;
            applyShadowExposure(pr, pg, pb, a);
            const bool k = keep[i] != 0;
            r[i] = k ? vr : pr;
            g[i] = k ? vg : pg;
            b[i] = k ? vb : pb;
        }
    }
    auto highlightRun = [&](auto raise, float a) {
        for (int i = 0; i < count; ++i) {
            const float vr = r[i], vg = g[i], vb = b[i];
            float pr = vr, pg = vg, pb = vb;
            detail::highlights<decltype(raise)::value>(pr, pg, pb, a);
            const bool k = keep[i] != 0;
            r[i] = k ? vr : pr;
            g[i] = k ? vg : pg;
            b[i] = k ? vb : pb;
        }
    };
    if (t.highlights > 0.0f) {
        highlightRun(std::true_type{}, t.highlights);
    } else if (t.highlights < 0.0f) {
        highlightRun(std::false_type{}, t.highlights);
    }
    if (t.saturation != 0.0f) {
        const float f = 1.0f + t.saturation;
        for (int i = 0; i < count; ++i) {
            const float vr = r[i], vg = g[i], vb = b[i];
            const float l = displayLuma(vr, vg, vb);
            const float sr = l + (vr - l) * f;
            const float sg = l + (vg - l) * f;
            const float sb = l + (vb - l) * f;
            const bool k = keep[i] != 0;
            r[i] = k ? vr : sr;
            g[i] = k ? vg : sg;
            b[i] = k ? vb : sb;
        }
    }
}

// ---- Glow -------------------------------------------------------------------------------
// Halation mask value of a graded pixel: 0 up to a peak channel of 0.62, 1 from 0.836.
inline float haloCover(float r, float g, float b) {
    return smoothMask(0.62f, 0.836f, maxf(r, maxf(g, b)));
}

// Soft bloom threshold on luma.
inline float bloomCover(float luma, float threshold) {
    return smoothMask(threshold - 0.28f, threshold + 0.098f, luma);
}

// One axis of the 8 x 8 downsampling Gaussian (sigma 1.85, centred on offset 1.5); the
// 2D weight of (dx, dy) is the product of the two axes.
inline float downsampleAxisWeight(int d) {
    const float t = static_cast<float>(d) - 1.5f;
    return std::exp(-0.5f * t * t / 3.4225f);
}

inline float downsampleWeight(int dx, int dy) {
    return downsampleAxisWeight(dx) * downsampleAxisWeight(dy);
}

// One channel of the screen blend of a glow in gamma-2.2 light; never above 1.
inline float screenChannel(const GammaTables& t, float c, float glowChannel, float amount) {
    const float glow = clampf(maxf(glowChannel, 0.0f) * amount, 0.0f, 1.0f);
    const float base = clampf(powUpWith(t, c), 0.0f, 1.0f);
    // 1 - (1 - base)(1 - glow) is 0 or at least 2^-24: never subnormal.
    return powDownNormal(t, 1.0f - (1.0f - base) * (1.0f - glow));
}

// Screen blend of a glow in gamma-2.2 light; the result never exceeds 1. A glow with no
// channel above 0 leaves the pixel unchanged.
inline void screenBlend(float& r, float& g, float& b, float gr, float gg, float gb, float amount) {
    if (!(gr > 0.0f) && !(gg > 0.0f) && !(gb > 0.0f)) {
        return;
    }
    const GammaTables& t = gammaTables();
    r = screenChannel(t, r, gr, amount);
    g = screenChannel(t, g, gg, amount);
    b = screenChannel(t, b, gb, amount);
}

// ---- Finish -----------------------------------------------------------------------------
struct FrameRect {
    float x1, y1, x2, y2;
};

// Vignette gain of the pixel at (x, y): 1 at the centre, moving towards 1 - 0.92 |amount|
// (darken) or 1 + 0.65 amount (brighten) beyond the feathered edge.
inline float vignetteScale(int x, int y, const FrameRect& rod, float amount, float size,
                           float feather) {
    const float halfW = maxf(1.0f, (rod.x2 - rod.x1) * 0.5f);
    const float halfH = maxf(1.0f, (rod.y2 - rod.y1) * 0.5f);
    const float nx = (static_cast<float>(x) + 0.5f - (rod.x1 + rod.x2) * 0.5f) / halfW;
    const float ny = (static_cast<float>(y) + 0.5f - (rod.y1 + rod.y2) * 0.5f) / halfH;
    const float radius = std::sqrt(nx * nx + ny * ny);
    const float inner = 1.0f - size;
    const float width = maxf(0.015f, feather * 1.05f);
    const float t = smoothMask(inner, inner + width, radius);
    const float m = std::fabs(amount);
    return amount < 0.0f ? 1.0f - t * m * 0.92f : 1.0f + t * m * 0.65f;
}

// Dither added after the vignette gain, the same on all three channels.
inline float vignetteDither(int x, int y, int frame) {
    return (hash01(static_cast<uint32_t>(x), static_cast<uint32_t>(y), static_cast<uint32_t>(frame),
                   19u) -
            0.5f) *
           (1.0f / 1023.0f);
}

// Whether the letterbox (top/bottom) or pillarbox (sides) bars cover the pixel.
inline bool borderCovers(int x, int y, const FrameRect& rod, float top, float side) {
    const float halfH = (rod.y2 - rod.y1) * 0.5f;
    const float halfW = (rod.x2 - rod.x1) * 0.5f;
    const float py = static_cast<float>(y) + 0.5f;
    const float px = static_cast<float>(x) + 0.5f;
    if (top > 0.0f && halfH > 0.0f) {
        const float bar = top * halfH;
        if (py < rod.y1 + bar || py >= rod.y2 - bar) {
            return true;
        }
    }
    if (side > 0.0f && halfW > 0.0f) {
        const float bar = side * halfW;
        if (px < rod.x1 + bar || px >= rod.x2 - bar) {
            return true;
        }
    }
    return false;
}

// Split-screen side of a column: -1 before (left), 0 the divider, 1 the grade.
inline int splitSide(int x, float splitX, float splitHalf) {
    const float cx = static_cast<float>(x) + 0.5f;
    if (splitX - splitHalf <= cx && cx < splitX + splitHalf) {
        return 0;
    }
    return cx < splitX ? -1 : 1;
}

}  // namespace vd
