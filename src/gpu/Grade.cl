// The grade on a GPU: one text compiled at run time as OpenCL C and ahead of time as CUDA
// (to PTX). The maths are those of the CPU engine (src/grade), step for step, so that the
// pictures agree; where the engine mends a fault, so does this file (see "Mended:" notes).
//
// Buffers are rows of 32-bit float pixels: pixel (x, y) of an image whose bounds start at
// (X1, Y1) starts (y - Y1) x rowBytes bytes plus (x - X1) x components floats into its
// buffer. Every kernel takes a 2D global id, returns at once outside its extent, and reads
// the Params block the host filled.

// ---- Dialect ----------------------------------------------------------------------------
#if defined(__CUDACC__)
#define VD_KERNEL extern "C" __global__
#define VD_GLOBAL
#define VD_DEVICE __device__
#define VD_CONST const
typedef unsigned char uchar;
typedef unsigned int uint;
typedef long long VdLong;
#define vd_gid0 ((int)(blockIdx.x * blockDim.x + threadIdx.x))
#define vd_gid1 ((int)(blockIdx.y * blockDim.y + threadIdx.y))
#define vd_floor(x) floorf(x)
#define vd_exp(x) expf(x)
#define vd_exp2(x) exp2f(x)
#define vd_pow(x, y) powf(x, y)
#define vd_log2(x) log2f(x)
#define vd_log10(x) log10f(x)
#define vd_sqrt(x) sqrtf(x)
#define vd_fabs(x) fabsf(x)
#else
#pragma OPENCL FP_CONTRACT OFF
#define VD_KERNEL __kernel
#define VD_GLOBAL __global
#define VD_DEVICE
#define VD_CONST const
typedef long VdLong;
#define vd_gid0 ((int)get_global_id(0))
#define vd_gid1 ((int)get_global_id(1))
#define vd_floor(x) floor(x)
#define vd_exp(x) exp(x)
#define vd_exp2(x) exp2(x)
#define vd_pow(x, y) pow(x, y)
#define vd_log2(x) log2(x)
#define vd_log10(x) log10(x)
#define vd_sqrt(x) sqrt(x)
#define vd_fabs(x) fabs(x)
#endif

// Finite: not NaN and not infinite.
#define vd_finite(y) ((y) == (y) && (y) > -3.4e38f && (y) < 3.4e38f)

// ---- Parameter block --------------------------------------------------------------------
// 65 four-byte fields; the host's copy (DevicePlan.h) has the same layout.
typedef struct {
    int srcX1, srcY1, srcRowBytes, srcComponents;
    int dstX1, dstY1, dstRowBytes, dstComponents;
    int x1, y1, x2, y2;
    int maskX1, maskY1, maskW, maskH;
    int blurW, blurH;
    int lutEdge, curveSize, frame, flags, blurRadius, encoding;
    int pad0, pad1;  // right and top edge (exclusive) of the source bounds
    float exposureGain, intensity, contrast, saturation;
    float temperature, tint, highlights, shadows;
    float grainAmount, grainCell, halationAmount;
    int bloomX1, bloomY1, bloomW, bloomH;
    int bloom0W, bloom0H, bloom1W, bloom1H;
    int bloomRad0, bloomRad1, bloomPad0, bloomPad1;
    float bloomAmount, bloomThreshold, vignetteAmount, vignetteSize;
    float vignetteFeather, borderTop, borderSide, borderR;
    float borderG, borderB, rodX1, rodY1, rodX2, rodY2;
    float splitX, splitHalf;
} Params;

enum {
    kDoLinear = 1,
    kDoExposure = 2,
    kDoShoulder = 4,
    kDoWb = 8,
    kDoLut = 16,
    kDoContrast = 32,
    kDoZones = 64,
    kDoSat = 128,
    kDoGrain = 256,
    kDoHalo = 512,
    kPremultiply = 1024,
    kHasSrc = 2048,
    kGather = 4096,
    kDoVignette = 8192,
    kDoBorder = 16384,
    kDoBloom = 32768,
    kDoSplit = 65536,
    kDoBeforeAfter = 131072
};

// ---- Small helpers ----------------------------------------------------------------------
// Clamp to [lo, hi]; NaN gives lo.
VD_DEVICE float vd_clampf(float v, float lo, float hi) {
    return v > lo ? (v < hi ? v : hi) : lo;
}
VD_DEVICE float vd_maxf(float a, float b) {
    return a > b ? a : b;
}
VD_DEVICE float vd_minf(float a, float b) {
    return a < b ? a : b;
}
VD_DEVICE int vd_clampi(int v, int lo, int hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}

VD_DEVICE float vd_smooth(float e0, float e1, float v) {
    float span = e1 - e0;
    if (span == 0.0f) {
        return 0.0f;
    }
    float t = vd_clampf((v - e0) / span, 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

VD_DEVICE float vd_luma(float r, float g, float b) {
    return 0.2126f * r + 0.7152f * g + 0.0722f * b;
}

// max(c, 0)^2.2 and max(l, 0)^(1/2.2); NaN gives 0. As 2^(p log2 x), which is several
// times cheaper than pow on some runtimes; the relative error stays near 1e-6 for the
// values the effects see, like that of the CPU's table forms.
VD_DEVICE float vd_pow_up(float c) {
    return c > 0.0f ? vd_exp2(2.2f * vd_log2(c)) : 0.0f;
}
VD_DEVICE float vd_pow_down(float l) {
    return l > 0.0f ? vd_exp2(0.45454544f * vd_log2(l)) : 0.0f;
}

// Pixel (x, y) of an image, as a float pointer.
VD_DEVICE VD_GLOBAL float* vd_pixel(VD_GLOBAL float* base, int x, int y, int x1, int y1,
                                    int rowBytes, int comps) {
    VdLong off = (VdLong)(y - y1) * (VdLong)rowBytes + (VdLong)(x - x1) * (VdLong)comps * 4;
    return (VD_GLOBAL float*)((VD_GLOBAL uchar*)base + off);
}

// The source pixel at (x, y): opaque black outside the source area or without a source.
VD_DEVICE void vd_fetch(VD_GLOBAL const float* src, VD_GLOBAL const Params* p, int x, int y,
                        float* c) {
    c[0] = 0.0f;
    c[1] = 0.0f;
    c[2] = 0.0f;
    c[3] = 1.0f;
    if ((p->flags & kHasSrc) == 0 || x < p->srcX1 || x >= p->pad0 || y < p->srcY1 ||
        y >= p->pad1) {
        return;
    }
    VD_GLOBAL const float* s = vd_pixel((VD_GLOBAL float*)src, x, y, p->srcX1, p->srcY1,
                                        p->srcRowBytes, p->srcComponents);
    c[0] = s[0];
    c[1] = s[1];
    c[2] = s[2];
    if (p->srcComponents == 4) {
        c[3] = s[3];
    }
}

// ---- Camera curves ----------------------------------------------------------------------
// The packed table: decode [0, 4096), encode of 0..1 [4096, 8192), encode of 1..highMax
// [8192, 12288), highMax at 12288.
VD_DEVICE float vd_sample_table(VD_GLOBAL const float* t, float pos) {
    pos = pos > 0.0f ? (pos < 4095.0f ? pos : 4095.0f) : 0.0f;
    int i = (int)pos;
    int next = i < 4095 ? i + 1 : 4095;
    return t[i] + (t[next] - t[i]) * (pos - (float)i);
}

VD_DEVICE float vd_decode(float code, VD_GLOBAL const float* t) {
    if (!(code > 0.0f)) {
        return t[0];
    }
    if (code >= 1.0f) {
        return t[4095];
    }
    float pos = code * 4095.0f;
    int i = (int)pos;
    int next = i < 4095 ? i + 1 : 4095;
    return t[i] + (t[next] - t[i]) * (pos - (float)i);
}

// The analytic encode curves, for what the table does not cover.
VD_DEVICE float vd_encode_analytic(float l, int encoding) {
    if (encoding == 1) {
        if (!(l > 0.0f)) {
            return 0.0f;
        }
        return l < 0.018f ? 4.5f * l : 1.099f * vd_pow(l, 0.45f) - 0.099f;
    }
    if (encoding == 2) {
        if (l <= 0.0078f) {
            return 6.025f * l + 0.0929f;
        }
        return 0.256663f * vd_log10(0.9892f * l + 0.0108f) + 0.584555f;
    }
    if (!(l >= -0.05641088f)) {
        return 0.0f;
    }
    if (l < 0.01f) {
        float t = l + 0.05641088f;
        return 47.28711236f * t * t;
    }
    return 0.08550479f * vd_log2(l + 0.00964052f) + 0.69336945f;
}

// Mended: linear values between the curve's black (decode[0]) and 0 take the analytic
// curve instead of the table, which starts at linear 0 and would turn every dark log code
// into the code of black; values at or below black and non-finite values give 0.
VD_DEVICE float vd_encode(float linear, VD_GLOBAL const float* t, int encoding) {
    if (!vd_finite(linear) || !(linear > t[0])) {
        return 0.0f;
    }
    float highMax = t[12288];
    if (linear >= highMax || linear < 0.0f) {
        return vd_encode_analytic(linear, encoding);
    }
    if (linear <= 1.0f) {
        return vd_sample_table(t + 4096, linear * 4095.0f);
    }
    if (!(highMax - 1.0f > 0.0f)) {
        return vd_sample_table(t + 8192, 4095.0f);
    }
    return vd_sample_table(t + 8192, (linear - 1.0f) / (highMax - 1.0f) * 4095.0f);
}

// ---- Per-pixel grade --------------------------------------------------------------------
VD_DEVICE void vd_linearise(VD_GLOBAL const Params* p, VD_GLOBAL const float* curve, float* c) {
    float lr = vd_decode(c[0], curve);
    float lg = vd_decode(c[1], curve);
    float lb = vd_decode(c[2], curve);
    lr = lr < 1e-7f ? vd_minf(lr, 0.0f) : lr;
    lg = lg < 1e-7f ? vd_minf(lg, 0.0f) : lg;
    lb = lb < 1e-7f ? vd_minf(lb, 0.0f) : lb;
    if (!(lr > 0.0f) && !(lg > 0.0f) && !(lb > 0.0f)) {
        return;
    }
    int f = p->flags;
    if (f & kDoExposure) {
        lr *= p->exposureGain;
        lg *= p->exposureGain;
        lb *= p->exposureGain;
    }
    if (f & kDoShoulder) {
        float l = vd_luma(lr, lg, lb);
        if (l > 1.44f) {
            float compressed = 1.44f + 44.64f * (1.0f - vd_exp(-(l - 1.44f) / 44.64f));
            float limited = vd_maxf(compressed, l / p->exposureGain);
            float k = limited / l;
            lr *= k;
            lg *= k;
            lb *= k;
        }
    }
    if (f & kDoWb) {
        float t = p->temperature;
        float l0 = vd_luma(lr, lg, lb);
        float r1 = lr * (1.0f + 0.25f * t);
        float b1 = lb * (1.0f - 0.25f * t);
        float g1 = lg * (1.0f - 0.2f * p->tint);
        float l1 = vd_luma(r1, g1, b1);
        if (l0 > 1e-8f && l1 > 1e-8f) {
            float k = l0 / l1;
            r1 *= k;
            g1 *= k;
            b1 *= k;
        }
        lr = r1;
        lg = g1;
        lb = b1;
    }
    c[0] = vd_encode(lr, curve, p->encoding);
    c[1] = vd_encode(lg, curve, p->encoding);
    c[2] = vd_encode(lb, curve, p->encoding);
}

// Tetrahedral lookup in an n^3 cube of RGB entries, red fastest. Mended: inputs are
// clamped to [0, 1] and NaN counts as 0, so no index leaves the cube.
VD_DEVICE void vd_look(VD_GLOBAL const float* cube, int n, float* c) {
    float top = (float)(n - 1);
    float v[3];
    int i0[3];
    for (int k = 0; k < 3; ++k) {
        v[k] = vd_clampf(c[k], 0.0f, 1.0f) * top;
        i0[k] = (int)v[k];
        if (i0[k] >= n - 1) {
            i0[k] = n - 1;
            v[k] = top;
        }
    }
    float f[3] = {v[0] - (float)i0[0], v[1] - (float)i0[1], v[2] - (float)i0[2]};
    int stride[3] = {3, 3 * n, 3 * n * n};
    int step[3];
    for (int k = 0; k < 3; ++k) {
        step[k] = i0[k] + 1 < n ? stride[k] : 0;
    }
    // The axes by falling fraction; strict comparisons send ties to the later tetrahedra.
    int a1, a2, a3;
    if (f[0] > f[1]) {
        if (f[1] > f[2]) {
            a1 = 0, a2 = 1, a3 = 2;
        } else if (f[0] > f[2]) {
            a1 = 0, a2 = 2, a3 = 1;
        } else {
            a1 = 2, a2 = 0, a3 = 1;
        }
    } else if (f[2] > f[1]) {
        a1 = 2, a2 = 1, a3 = 0;
    } else if (f[2] > f[0]) {
        a1 = 1, a2 = 2, a3 = 0;
    } else {
        a1 = 1, a2 = 0, a3 = 2;
    }
    int o000 = i0[0] * stride[0] + i0[1] * stride[1] + i0[2] * stride[2];
    int oA = o000 + step[a1];
    int oB = oA + step[a2];
    int o111 = o000 + step[0] + step[1] + step[2];
    float w0 = 1.0f - f[a1], wA = f[a1] - f[a2], wB = f[a2] - f[a3], w1 = f[a3];
    for (int k = 0; k < 3; ++k) {
        float acc = w0 * cube[o000 + k];
        acc = acc + wA * cube[oA + k];
        acc = acc + wB * cube[oB + k];
        acc = acc + w1 * cube[o111 + k];
        v[k] = acc;
    }
    c[0] = v[0];
    c[1] = v[1];
    c[2] = v[2];
}

// Shadows: lifts or lowers by up to one stop in linear light, fading out by luma 0.40,
// a lift capped so that no pixel passes luma 0.40. A non-finite luma or gain leaves the
// pixel alone; channels at or below 0 are kept.
VD_DEVICE void vd_shadows(float* c, float a) {
    float l = vd_luma(vd_maxf(c[0], 0.0f), vd_maxf(c[1], 0.0f), vd_maxf(c[2], 0.0f));
    if (!(l > 0.0f) || !(l < 0.40f)) {
        return;
    }
    float w = l <= 0.05f ? 1.0f : 1.0f - vd_smooth(0.05f, 0.40f, l);
    if (!(w > 0.0f)) {
        return;
    }
    float gain = vd_exp2(a * w / 2.2f);
    float scale = a > 0.0f ? vd_minf(gain, 0.40f / vd_maxf(l, 1e-30f)) : gain;
    if (!(scale > 0.0f) || !(scale <= 3.40282347e+38f)) {
        return;
    }
    for (int k = 0; k < 3; ++k) {
        c[k] = c[k] > 0.0f ? c[k] * scale : c[k];
    }
}

VD_DEVICE float vd_highlight_luma(float y, float a) {
    if (a == 0.0f || !vd_finite(y) || !(y > 0.34f)) {
        return y;
    }
    float stops = a > 0.0f ? 2.9f : 1.3f;
    float s = vd_minf(vd_maxf(y, 0.000001f), 1.0f);
    float w = vd_smooth(0.34f, 0.92f, s);
    float out = s * vd_exp2(a * stops * w / 2.2f);
    if (a > 0.0f) {
        float room = 1.0f - s;
        if (out > s) {
            out = s + room * (1.0f - vd_exp(-(out - s) / vd_maxf(room, 0.0001f)));
        }
        if (s >= 1.0f) {
            out = 1.0f;
        }
    }
    return y > 1.0f ? out + 0.35f * (y - 1.0f) : out;
}

VD_DEVICE void vd_highlights(float* c, float a) {
    float l = vd_luma(c[0], c[1], c[2]);
    float m = vd_highlight_luma(l, a);
    if (!vd_finite(l) || !vd_finite(m)) {
        return;
    }
    float k = l <= 1e-8f ? 1.0f : vd_minf(vd_maxf(m / l, 0.25f), 4.0f);
    for (int i = 0; i < 3; ++i) {
        c[i] = m + (c[i] - l) * k;
    }
}

// The adjustment amounts: 0 where the value is not finite or its flag is clear.
VD_DEVICE float vd_step_amount(float v, int on) {
    return on && vd_finite(v) ? vd_clampf(v, -1.0f, 1.0f) : 0.0f;
}

// Linearise, look, contrast, shadows, highlights, saturation: the grade up to the point
// where the mask and the bloom source are taken.
VD_DEVICE void vd_grade_core(VD_GLOBAL const Params* p, VD_GLOBAL const float* curve,
                             VD_GLOBAL const float* lut, float* c) {
    int f = p->flags;
    if (f & kDoLinear) {
        vd_linearise(p, curve, c);
    }
    if ((f & kDoLut) && p->lutEdge >= 2) {
        float l[3] = {c[0], c[1], c[2]};
        vd_look(lut, p->lutEdge, l);
        for (int k = 0; k < 3; ++k) {
            c[k] = c[k] + (l[k] - c[k]) * p->intensity;
        }
    }
    if ((f & (kDoContrast | kDoZones | kDoSat)) == 0) {
        return;
    }
    float contrast = vd_step_amount(p->contrast, f & kDoContrast);
    float shadows = vd_step_amount(p->shadows, f & kDoZones);
    float highlights = vd_step_amount(p->highlights, f & kDoZones);
    float saturation = vd_step_amount(p->saturation, f & kDoSat);
    if (contrast != 0.0f) {
        float k = 1.0f + contrast;
        for (int i = 0; i < 3; ++i) {
            c[i] = (c[i] - 0.5f) * k + 0.5f;
        }
    }
    if (shadows != 0.0f) {
        vd_shadows(c, shadows);
    }
    if (highlights != 0.0f) {
        vd_highlights(c, highlights);
    }
    if (saturation != 0.0f) {
        float k = 1.0f + saturation;
        float l = vd_luma(c[0], c[1], c[2]);
        for (int i = 0; i < 3; ++i) {
            c[i] = l + (c[i] - l) * k;
        }
    }
}

// ---- Grain ------------------------------------------------------------------------------
VD_DEVICE uint vd_mix_hash(uint v) {
    v ^= v >> 16;
    v *= 0x7feb352du;
    v ^= v >> 15;
    v *= 0x846ca68bu;
    v ^= v >> 16;
    return v;
}

VD_DEVICE float vd_hash01(uint x, uint y, uint frame, uint salt) {
    uint h = vd_mix_hash(x * 374761393u ^ y * 668265263u ^ frame * 1442695041u ^
                         salt * 2654435761u);
    return (float)(h & 0xffffffu) / 16777215.0f;
}

VD_DEVICE uint vd_lattice(float v) {
    return (uint)(VdLong)vd_floor(v);
}

VD_DEVICE float vd_value_noise(float x, float y, float cell, uint frame, uint salt) {
    if (cell < 1.0f) {
        cell = 1.0f;
    }
    float gx = cell == 1.0f ? x : x / cell;
    float gy = y / cell;
    float tx = gx - vd_floor(gx);
    float ty = gy - vd_floor(gy);
    float sx = tx * tx * (3.0f - 2.0f * tx);
    float sy = ty * ty * (3.0f - 2.0f * ty);
    uint x0 = vd_lattice(gx);
    uint y0 = vd_lattice(gy);
    float a = vd_hash01(x0, y0, frame, salt);
    float b = vd_hash01(x0 + 1u, y0, frame, salt);
    float c = vd_hash01(x0, y0 + 1u, frame, salt);
    float d = vd_hash01(x0 + 1u, y0 + 1u, frame, salt);
    float top = a + (b - a) * sx;
    float bottom = c + (d - c) * sx;
    return top + (bottom - top) * sy;
}

// Three octaves of value noise in [-1, 1].
VD_DEVICE float vd_grain_signal(float x, float y, float cell, uint frame) {
    float noise = 0.0f;
    float amplitude = 0.55f;
    float weight = 0.0f;
    for (uint o = 0; o < 3u; ++o) {
        noise += (vd_value_noise(x, y, cell, frame, o) - 0.5f) * 2.0f * amplitude;
        weight += amplitude;
        amplitude *= 0.5f;
        cell = vd_maxf(cell * 0.5f, 1.0f);
    }
    return noise / weight;
}

VD_DEVICE void vd_grain(VD_GLOBAL const Params* p, int x, int y, float* c) {
    float l = vd_clampf(vd_luma(c[0], c[1], c[2]), 0.0f, 1.0f);
    float w = vd_smooth(0.02f, 0.22f, l) * (1.0f - vd_smooth(0.78f, 0.98f, l));
    if (!(w > 0.0f)) {
        return;
    }
    float amount = p->grainAmount * 0.22f * w;
    float px = (float)x + 0.5f;
    float py = (float)y + 0.5f;
    float n = vd_grain_signal(px, py, p->grainCell, (uint)p->frame);
    float m = vd_grain_signal(px + 19.0f, py + 7.0f, p->grainCell, (uint)p->frame + 17u);
    c[0] = c[0] + n * amount;
    c[1] = c[1] + n * amount * 0.92f + m * amount * 0.08f;
    c[2] = c[2] + n * amount * 0.92f - m * amount * 0.08f;
}

// ---- Glow -------------------------------------------------------------------------------
VD_DEVICE float vd_halo_cover(float* c) {
    return vd_smooth(0.62f, 0.836f, vd_maxf(c[0], vd_maxf(c[1], c[2])));
}

VD_DEVICE float vd_bloom_cover(float luma, float threshold) {
    return vd_smooth(threshold - 0.28f, threshold + 0.098f, luma);
}

// Screen blend in gamma-2.2 light; a glow with no channel above 0 changes nothing.
VD_DEVICE void vd_screen(float* c, float gr, float gg, float gb, float amount) {
    if (!(gr > 0.0f) && !(gg > 0.0f) && !(gb > 0.0f)) {
        return;
    }
    float glow[3] = {gr, gg, gb};
    for (int k = 0; k < 3; ++k) {
        float g = vd_clampf(vd_maxf(glow[k], 0.0f) * amount, 0.0f, 1.0f);
        float base = vd_clampf(vd_pow_up(c[k]), 0.0f, 1.0f);
        c[k] = vd_pow_down(1.0f - (1.0f - base) * (1.0f - g));
    }
}

// One axis of a bilinear grid read at fractional position f of a grid n cells long.
VD_DEVICE void vd_grid_axis(float f, int n, int* i0, int* i1, float* t) {
    float ic = vd_clampf(vd_floor(f), 0.0f, (float)(n - 1));
    *i0 = (int)ic;
    *i1 = *i0 + 1 < n ? *i0 + 1 : n - 1;
    *t = vd_clampf(f - ic, 0.0f, 1.0f);
}

// Bilinear read of channel k of a grid of `comps` floats per cell.
VD_DEVICE float vd_bilinear(VD_GLOBAL const float* grid, int w, int comps, int k, int x0, int x1,
                            float tx, int y0, int y1, float ty) {
    VD_GLOBAL const float* r0 = grid + (VdLong)y0 * w * comps;
    VD_GLOBAL const float* r1 = grid + (VdLong)y1 * w * comps;
    float a = r0[x0 * comps + k], b = r0[x1 * comps + k];
    float c = r1[x0 * comps + k], d = r1[x1 * comps + k];
    float top = a + (b - a) * tx;
    float bottom = c + (d - c) * tx;
    return top + (bottom - top) * ty;
}

// Rounding noise of the normalised blur weights leaves a ring of about 1e-7 inside a
// uniformly bright area; anything this small is no glow.
#define VD_RING_FLOOR 1e-6f

// Mended: the ring is read against the mask region, which covers the whole bloom region
// when both effects run, so no graded pixel reads cover 0 beside a bright blur.
VD_DEVICE void vd_halo_composite(VD_GLOBAL const Params* p, VD_GLOBAL const float* core,
                                 VD_GLOBAL const float* blur, int x, int y, float* c) {
    int dx = x - p->maskX1;
    int dy = y - p->maskY1;
    int x0, x1, y0, y1;
    float tx, ty;
    vd_grid_axis(((float)dx + 0.5f) * 0.25f - 0.5f, p->blurW, &x0, &x1, &tx);
    vd_grid_axis(((float)dy + 0.5f) * 0.25f - 0.5f, p->blurH, &y0, &y1, &ty);
    float wide = vd_bilinear(blur, p->blurW, 1, 0, x0, x1, tx, y0, y1, ty);
    float cover = 0.0f;
    if (dx >= 0 && dx < p->maskW && dy >= 0 && dy < p->maskH) {
        cover = core[(VdLong)dy * p->maskW + dx];
    }
    float ring = vd_maxf(wide - cover, 0.0f);
    if (ring < VD_RING_FLOOR) {
        ring = 0.0f;
    }
    float gain = p->halationAmount * p->halationAmount * 1.65f;
    vd_screen(c, ring, ring * 0.16f, 0.0f, gain);
}

// ---- Finish -----------------------------------------------------------------------------
VD_DEVICE void vd_vignette_border(VD_GLOBAL const Params* p, int x, int y, float* c) {
    int f = p->flags;
    if (f & kDoVignette) {
        float halfW = vd_maxf(1.0f, (p->rodX2 - p->rodX1) * 0.5f);
        float halfH = vd_maxf(1.0f, (p->rodY2 - p->rodY1) * 0.5f);
        float nx = ((float)x + 0.5f - (p->rodX1 + p->rodX2) * 0.5f) / halfW;
        float ny = ((float)y + 0.5f - (p->rodY1 + p->rodY2) * 0.5f) / halfH;
        float radius = vd_sqrt(nx * nx + ny * ny);
        float inner = 1.0f - p->vignetteSize;
        float width = vd_maxf(0.015f, p->vignetteFeather * 1.05f);
        float t = vd_smooth(inner, inner + width, radius);
        float amount = p->vignetteAmount;
        float m = vd_fabs(amount);
        float s = amount < 0.0f ? 1.0f - t * m * 0.92f : 1.0f + t * m * 0.65f;
        float dither =
            (vd_hash01((uint)x, (uint)y, (uint)p->frame, 19u) - 0.5f) * (1.0f / 1023.0f);
        for (int k = 0; k < 3; ++k) {
            c[k] = c[k] * s + dither;
        }
    }
    if (f & kDoBorder) {
        float halfH = (p->rodY2 - p->rodY1) * 0.5f;
        float halfW = (p->rodX2 - p->rodX1) * 0.5f;
        float py = (float)y + 0.5f;
        float px = (float)x + 0.5f;
        int covered = 0;
        if (p->borderTop > 0.0f && halfH > 0.0f) {
            float bar = p->borderTop * halfH;
            covered = py < p->rodY1 + bar || py >= p->rodY2 - bar;
        }
        if (!covered && p->borderSide > 0.0f && halfW > 0.0f) {
            float bar = p->borderSide * halfW;
            covered = px < p->rodX1 + bar || px >= p->rodX2 - bar;
        }
        if (covered) {
            c[0] = p->borderR;
            c[1] = p->borderG;
            c[2] = p->borderB;
        }
    }
}

// Split screen: the source left of the divider, white on it, the grade right of it.
VD_DEVICE void vd_compare(VD_GLOBAL const Params* p, int x, const float* before, float* c) {
    if ((p->flags & kDoSplit) == 0) {
        return;
    }
    float cx = (float)x + 0.5f;
    if (p->splitX - p->splitHalf <= cx && cx < p->splitX + p->splitHalf) {
        c[0] = c[1] = c[2] = 1.0f;
    } else if (cx < p->splitX) {
        c[0] = before[0];
        c[1] = before[1];
        c[2] = before[2];
    }
}

// Writes a finished pixel (premultiplied again when the source was) to the output.
VD_DEVICE void vd_store(VD_GLOBAL float* dst, VD_GLOBAL const Params* p, int x, int y, float* c) {
    VD_GLOBAL float* o = vd_pixel(dst, x, y, p->dstX1, p->dstY1, p->dstRowBytes, p->dstComponents);
    float a = c[3];
    if (p->flags & kPremultiply) {
        c[0] *= a;
        c[1] *= a;
        c[2] *= a;
    }
    o[0] = c[0];
    o[1] = c[1];
    o[2] = c[2];
    if (p->dstComponents == 4) {
        o[3] = a;
    }
}

// Source pixel, divided by alpha when the source is premultiplied. False for a
// transparent premultiplied pixel, which has nothing to grade.
VD_DEVICE int vd_fetch_straight(VD_GLOBAL const float* src, VD_GLOBAL const Params* p, int x,
                                int y, float* c) {
    vd_fetch(src, p, x, y, c);
    if (p->flags & kPremultiply) {
        if (!(c[3] > 0.000001f)) {
            return 0;
        }
        c[0] /= c[3];
        c[1] /= c[3];
        c[2] /= c[3];
    }
    return 1;
}

// ---- Separable reductions ---------------------------------------------------------------
// One axis of the 8 x 8 downsampling Gaussian (sigma 1.85, centred on offset 1.5).
VD_DEVICE float vd_down_weight(int d) {
    float t = (float)d - 1.5f;
    return vd_exp(-0.5f * t * t / 3.4225f);
}

// The eight axis weights of offsets -2..5; returns 1 / (sum of the 8 x 8 weights).
VD_DEVICE float vd_down_weights(float* w) {
    float s = 0.0f;
    for (int d = 0; d < 8; ++d) {
        w[d] = vd_down_weight(d - 2);
        s += w[d];
    }
    return 1.0f / vd_maxf(s * s, 1e-8f);
}

// ---- Kernels ----------------------------------------------------------------------------

// Halation cover of the graded mask region (up to saturation, no grain).
VD_KERNEL void vd_mask(VD_GLOBAL const float* src, VD_GLOBAL float* core,
                       VD_GLOBAL const float* curves, VD_GLOBAL const float* lut,
                       VD_GLOBAL const Params* p) {
    int i = vd_gid0, j = vd_gid1;
    if (i >= p->maskW || j >= p->maskH) {
        return;
    }
    float c[4];
    float cover = 0.0f;
    if (vd_fetch_straight(src, p, p->maskX1 + i, p->maskY1 + j, c)) {
        vd_grade_core(p, curves, lut, c);
        cover = vd_halo_cover(c);
    }
    core[(VdLong)j * p->maskW + i] = cover;
}

// The quarter-resolution reduction of the mask.
VD_KERNEL void vd_down(VD_GLOBAL const float* core, VD_GLOBAL float* small,
                       VD_GLOBAL const Params* p) {
    int i = vd_gid0, j = vd_gid1;
    if (i >= p->blurW || j >= p->blurH) {
        return;
    }
    float w[8];
    float norm = vd_down_weights(w);
    float acc = 0.0f;
    for (int dy = 0; dy < 8; ++dy) {
        int y = vd_clampi(4 * j + dy - 2, 0, p->maskH - 1);
        float row = 0.0f;
        for (int dx = 0; dx < 8; ++dx) {
            int x = vd_clampi(4 * i + dx - 2, 0, p->maskW - 1);
            row += w[dx] * core[(VdLong)y * p->maskW + x];
        }
        acc += w[dy] * row;
    }
    small[(VdLong)j * p->blurW + i] = acc * norm;
}

VD_KERNEL void vd_blur_h(VD_GLOBAL const float* src, VD_GLOBAL float* dst,
                         VD_GLOBAL const float* weights, VD_GLOBAL const Params* p) {
    int i = vd_gid0, j = vd_gid1;
    if (i >= p->blurW || j >= p->blurH) {
        return;
    }
    int k = p->blurRadius;
    VD_GLOBAL const float* row = src + (VdLong)j * p->blurW;
    float acc = 0.0f;
    for (int d = -k; d <= k; ++d) {
        acc += weights[d + k] * row[vd_clampi(i + d, 0, p->blurW - 1)];
    }
    dst[(VdLong)j * p->blurW + i] = acc;
}

VD_KERNEL void vd_blur_v(VD_GLOBAL const float* src, VD_GLOBAL float* dst,
                         VD_GLOBAL const float* weights, VD_GLOBAL const Params* p) {
    int i = vd_gid0, j = vd_gid1;
    if (i >= p->blurW || j >= p->blurH) {
        return;
    }
    int k = p->blurRadius;
    float acc = 0.0f;
    for (int d = -k; d <= k; ++d) {
        acc += weights[d + k] * src[(VdLong)vd_clampi(j + d, 0, p->blurH - 1) * p->blurW + i];
    }
    dst[(VdLong)j * p->blurW + i] = acc;
}

// The grade of a window pixel, or with kGather of a bloom-region pixel up to bloom.
VD_KERNEL void vd_grade(VD_GLOBAL const float* src, VD_GLOBAL float* dst,
                        VD_GLOBAL const float* curves, VD_GLOBAL const float* lut,
                        VD_GLOBAL const float* haloCore, VD_GLOBAL const float* haloBlur,
                        VD_GLOBAL const Params* p) {
    int x = p->x1 + vd_gid0, y = p->y1 + vd_gid1;
    if (x >= p->x2 || y >= p->y2) {
        return;
    }
    int f = p->flags;
    float c[4];
    if (!vd_fetch_straight(src, p, x, y, c)) {
        VD_GLOBAL float* o =
            vd_pixel(dst, x, y, p->dstX1, p->dstY1, p->dstRowBytes, p->dstComponents);
        for (int k = 0; k < p->dstComponents; ++k) {
            o[k] = 0.0f;
        }
        return;
    }
    if (f & kDoBeforeAfter) {
        vd_store(dst, p, x, y, c);
        return;
    }
    float before[3] = {c[0], c[1], c[2]};
    vd_grade_core(p, curves, lut, c);
    if (f & kDoGrain) {
        vd_grain(p, x, y, c);
    }
    if (f & kDoHalo) {
        vd_halo_composite(p, haloCore, haloBlur, x, y, c);
    }
    if (f & kGather) {
        VD_GLOBAL float* o = vd_pixel(dst, x, y, p->dstX1, p->dstY1, p->dstRowBytes, 4);
        o[0] = c[0];
        o[1] = c[1];
        o[2] = c[2];
        o[3] = c[3];
        return;
    }
    vd_vignette_border(p, x, y, c);
    vd_compare(p, x, before, c);
    vd_store(dst, p, x, y, c);
}

// The first bloom level: the 8 x 8 reduction of the graded bloom region, each tap in
// linear light and weighted by its bloom cover.
VD_KERNEL void vd_bloom_extract(VD_GLOBAL const float* graded, VD_GLOBAL float* small,
                                VD_GLOBAL const Params* p) {
    int i = vd_gid0, j = vd_gid1;
    if (i >= p->bloom0W || j >= p->bloom0H) {
        return;
    }
    float w[8];
    float norm = vd_down_weights(w);
    float acc[3] = {0.0f, 0.0f, 0.0f};
    for (int dy = 0; dy < 8; ++dy) {
        int y = vd_clampi(4 * j + dy - 2, 0, p->bloomH - 1);
        float row[3] = {0.0f, 0.0f, 0.0f};
        for (int dx = 0; dx < 8; ++dx) {
            int x = vd_clampi(4 * i + dx - 2, 0, p->bloomW - 1);
            VD_GLOBAL const float* t = graded + ((VdLong)y * p->bloomW + x) * 4;
            float cover = vd_bloom_cover(vd_luma(t[0], t[1], t[2]), p->bloomThreshold);
            if (cover > 0.0f) {
                for (int k = 0; k < 3; ++k) {
                    row[k] += w[dx] * (cover * vd_pow_up(t[k]));
                }
            }
        }
        for (int k = 0; k < 3; ++k) {
            acc[k] += w[dy] * row[k];
        }
    }
    VD_GLOBAL float* o = small + ((VdLong)j * p->bloom0W + i) * 4;
    o[0] = acc[0] * norm;
    o[1] = acc[1] * norm;
    o[2] = acc[2] * norm;
    o[3] = 0.0f;
}

// The second bloom level: the same reduction of the first, before it is blurred.
VD_KERNEL void vd_bloom_down(VD_GLOBAL const float* level0, VD_GLOBAL float* small,
                             VD_GLOBAL const Params* p) {
    int i = vd_gid0, j = vd_gid1;
    if (i >= p->bloom1W || j >= p->bloom1H) {
        return;
    }
    float w[8];
    float norm = vd_down_weights(w);
    float acc[3] = {0.0f, 0.0f, 0.0f};
    for (int dy = 0; dy < 8; ++dy) {
        int y = vd_clampi(4 * j + dy - 2, 0, p->bloom0H - 1);
        float row[3] = {0.0f, 0.0f, 0.0f};
        for (int dx = 0; dx < 8; ++dx) {
            int x = vd_clampi(4 * i + dx - 2, 0, p->bloom0W - 1);
            VD_GLOBAL const float* t = level0 + ((VdLong)y * p->bloom0W + x) * 4;
            for (int k = 0; k < 3; ++k) {
                row[k] += w[dx] * t[k];
            }
        }
        for (int k = 0; k < 3; ++k) {
            acc[k] += w[dy] * row[k];
        }
    }
    VD_GLOBAL float* o = small + ((VdLong)j * p->bloom1W + i) * 4;
    o[0] = acc[0] * norm;
    o[1] = acc[1] * norm;
    o[2] = acc[2] * norm;
    o[3] = 0.0f;
}

// The bloom blurs read the level-0 size and radius of the block they are given (the
// level-1 block carries level 1's there).
VD_KERNEL void vd_bloom_blur_h(VD_GLOBAL const float* src, VD_GLOBAL float* dst,
                               VD_GLOBAL const float* weights, VD_GLOBAL const Params* p) {
    int i = vd_gid0, j = vd_gid1;
    int w = p->bloom0W, h = p->bloom0H, k = p->bloomRad0;
    if (i >= w || j >= h) {
        return;
    }
    float acc[3] = {0.0f, 0.0f, 0.0f};
    for (int d = -k; d <= k; ++d) {
        VD_GLOBAL const float* t = src + ((VdLong)j * w + vd_clampi(i + d, 0, w - 1)) * 4;
        for (int c = 0; c < 3; ++c) {
            acc[c] += weights[d + k] * t[c];
        }
    }
    VD_GLOBAL float* o = dst + ((VdLong)j * w + i) * 4;
    o[0] = acc[0];
    o[1] = acc[1];
    o[2] = acc[2];
    o[3] = 0.0f;
}

VD_KERNEL void vd_bloom_blur_v(VD_GLOBAL const float* src, VD_GLOBAL float* dst,
                               VD_GLOBAL const float* weights, VD_GLOBAL const Params* p) {
    int i = vd_gid0, j = vd_gid1;
    int w = p->bloom0W, h = p->bloom0H, k = p->bloomRad0;
    if (i >= w || j >= h) {
        return;
    }
    float acc[3] = {0.0f, 0.0f, 0.0f};
    for (int d = -k; d <= k; ++d) {
        VD_GLOBAL const float* t = src + ((VdLong)vd_clampi(j + d, 0, h - 1) * w + i) * 4;
        for (int c = 0; c < 3; ++c) {
            acc[c] += weights[d + k] * t[c];
        }
    }
    VD_GLOBAL float* o = dst + ((VdLong)j * w + i) * 4;
    o[0] = acc[0];
    o[1] = acc[1];
    o[2] = acc[2];
    o[3] = 0.0f;
}

// The graded window pixel with bloom screened in, then vignette, borders, comparison and
// premultiplication.
VD_KERNEL void vd_finish(VD_GLOBAL const float* graded, VD_GLOBAL const float* level0,
                         VD_GLOBAL const float* level1, VD_GLOBAL float* dst,
                         VD_GLOBAL const Params* p, VD_GLOBAL const float* src) {
    int x = p->x1 + vd_gid0, y = p->y1 + vd_gid1;
    if (x >= p->x2 || y >= p->y2) {
        return;
    }
    float before[4];
    if (!vd_fetch_straight(src, p, x, y, before)) {
        VD_GLOBAL float* o =
            vd_pixel(dst, x, y, p->dstX1, p->dstY1, p->dstRowBytes, p->dstComponents);
        for (int k = 0; k < p->dstComponents; ++k) {
            o[k] = 0.0f;
        }
        return;
    }
    float c[4] = {0.0f, 0.0f, 0.0f, before[3]};
    int bx = x - p->bloomX1, by = y - p->bloomY1;
    if (bx >= 0 && bx < p->bloomW && by >= 0 && by < p->bloomH) {
        VD_GLOBAL const float* g = graded + ((VdLong)by * p->bloomW + bx) * 4;
        c[0] = g[0];
        c[1] = g[1];
        c[2] = g[2];
    }
    float fx = (float)bx + 0.5f;
    float fy = (float)by + 0.5f;
    int x0, x1, y0, y1, u0, u1, v0, v1;
    float tx, ty, tu, tv;
    vd_grid_axis(fx / 4.0f - 0.5f, p->bloom0W, &x0, &x1, &tx);
    vd_grid_axis(fy / 4.0f - 0.5f, p->bloom0H, &y0, &y1, &ty);
    vd_grid_axis(fx / 16.0f - 0.5f, p->bloom1W, &u0, &u1, &tu);
    vd_grid_axis(fy / 16.0f - 0.5f, p->bloom1H, &v0, &v1, &tv);
    float glow[3];
    for (int k = 0; k < 3; ++k) {
        float wide = vd_bilinear(level0, p->bloom0W, 4, k, x0, x1, tx, y0, y1, ty);
        float broad = vd_bilinear(level1, p->bloom1W, 4, k, u0, u1, tu, v0, v1, tv);
        glow[k] = 0.82f * wide + 0.22f * broad;
    }
    vd_screen(c, glow[0], glow[1], glow[2], p->bloomAmount * p->bloomAmount * 2.15f);
    vd_vignette_border(p, x, y, c);
    vd_compare(p, x, before, c);
    vd_store(dst, p, x, y, c);
}
