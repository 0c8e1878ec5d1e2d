#include "grade/Effects.h"

#include <algorithm>
#include <array>

#include "grade/Grade.h"

namespace vd {

namespace {

// d[i] += w s[i] for i below n: the inner loop of the blurs and reductions, built for the
// x86-64 baseline and for AVX2 (the same arithmetic in the same order, so the same bytes).
void addScaledBaseline(float* __restrict d, const float* __restrict s, float w, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        d[i] += w * s[i];
    }
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
[[gnu::target("avx2")]] void addScaledAvx2(float* __restrict d, const float* __restrict s, float w,
                                           std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        d[i] += w * s[i];
    }
}
#endif

using AddScaled = void (*)(float*, const float*, float, std::size_t);

AddScaled addScaled() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    if (simdTarget() == SimdTarget::avx2) {
        return addScaledAvx2;
    }
#endif
    return addScaledBaseline;
}

// The 8 x 8 reduction; rowSource(y, band, rowWork) gives input row y, transformed if need
// be into rowWork (inW x channels floats of that band's own).
template <class RowSource>
void reduceQuarter(const ThreadPlan& plan, RowSource rowSource, int inW, int inH, int channels,
                   float* out, int outW, int outH, float* work) {
    std::array<float, 8> w{};
    float axisSum = 0.0f;
    for (int d = -2; d <= 5; ++d) {
        w[d + 2] = downsampleAxisWeight(d);
        axisSum += w[d + 2];
    }
    const float norm = 1.0f / std::max(axisSum * axisSum, 1e-8f);
    const std::size_t rowFloats = static_cast<std::size_t>(outW) * channels;
    // Horizontal reduction of every input row, then vertical reduction of the columns.
    float* const tmp = work;
    float* const rowWork = work + static_cast<std::size_t>(inH) * rowFloats;
    const std::size_t rowWorkFloats = static_cast<std::size_t>(inW) * channels;
    forEachRowIndexed(plan, inH, [&](int y, int band) {
        const float* src = rowSource(y, rowWork + static_cast<std::size_t>(band) * rowWorkFloats);
        float* dst = tmp + static_cast<std::size_t>(y) * rowFloats;
        for (int bx = 0; bx < outW; ++bx) {
            for (int c = 0; c < channels; ++c) {
                float acc = 0.0f;
                for (int d = 0; d < 8; ++d) {
                    const int x = std::clamp(4 * bx + d - 2, 0, inW - 1);
                    acc += w[d] * src[static_cast<std::size_t>(x) * channels + c];
                }
                dst[static_cast<std::size_t>(bx) * channels + c] = acc;
            }
        }
    });
    const AddScaled add = addScaled();
    forEachRow(plan, outH, [&](int by) {
        float* dst = out + static_cast<std::size_t>(by) * rowFloats;
        std::fill(dst, dst + rowFloats, 0.0f);
        for (int d = 0; d < 8; ++d) {
            const int y = std::clamp(4 * by + d - 2, 0, inH - 1);
            add(dst, tmp + static_cast<std::size_t>(y) * rowFloats, w[d], rowFloats);
        }
        for (std::size_t i = 0; i < rowFloats; ++i) {
            dst[i] *= norm;
        }
    });
}

}  // namespace

std::size_t reduceWorkFloats(int inW, int inH, int outW, int channels, int bands) {
    return (static_cast<std::size_t>(inH) * outW + static_cast<std::size_t>(bands) * inW) *
           static_cast<std::size_t>(channels);
}

void downsampleQuarter(const ThreadPlan& plan, const float* in, std::size_t stride, int inW,
                       int inH, int channels, float* out, int outW, int outH, float* work) {
    reduceQuarter(
        plan, [in, stride](int y, float*) { return in + static_cast<std::size_t>(y) * stride; },
        inW, inH, channels, out, outW, outH, work);
}

void extractBloomLevel(const ThreadPlan& plan, const float* rgb, std::size_t stride, int inW,
                       int inH, float threshold, float* out, int outW, int outH, float* work) {
    reduceQuarter(
        plan,
        [&](int y, float* row) {
            const float* src = rgb + static_cast<std::size_t>(y) * stride;
            for (int x = 0; x < inW; ++x) {
                bloomExtract(src + 3 * x, threshold, row + 3 * x);
            }
            return static_cast<const float*>(row);
        },
        inW, inH, 3, out, outW, outH, work);
}

void extractHaloLevel(const ThreadPlan& plan, const float* rgb, std::size_t stride, int inW,
                      int inH, float* out, int outW, int outH, float* work) {
    reduceQuarter(
        plan,
        [&](int y, float* row) {
            const float* src = rgb + static_cast<std::size_t>(y) * stride;
            for (int x = 0; x < inW; ++x) {
                row[x] = haloCover(src[3 * x], src[3 * x + 1], src[3 * x + 2]);
            }
            return static_cast<const float*>(row);
        },
        inW, inH, 1, out, outW, outH, work);
}

int blurWeights(int radius, int cap, float (&w)[2 * kMaxBlurTaps + 1]) {
    const int k = std::max(0, std::min({radius, cap, kMaxBlurTaps}));
    const float sigma = std::max(static_cast<float>(k) / 3.2f, 1.6f);
    float sum = 0.0f;
    for (int j = -k; j <= k; ++j) {
        const float v = std::exp(-0.5f * static_cast<float>(j * j) / (sigma * sigma));
        w[j + k] = v;
        sum += v;
    }
    for (int j = 0; j <= 2 * k; ++j) {
        w[j] /= sum;
    }
    return k;
}

void blurSeparable(const ThreadPlan& plan, float* grid, int w, int h, int channels, int radius,
                   int cap, float* work) {
    if (w < 1 || h < 1 || radius < 1) {
        return;
    }
    float weights[2 * kMaxBlurTaps + 1];
    const int k = blurWeights(radius, cap, weights);
    const std::size_t rowFloats = static_cast<std::size_t>(w) * channels;
    float* const tmp = work;
    const AddScaled add = addScaled();
    // Columns whose taps all lie inside the row: [k, w - k).
    const int inner0 = std::min(k, w);
    const int inner1 = std::max(inner0, w - k);
    forEachRow(plan, h, [&](int y) {
        const float* src = grid + static_cast<std::size_t>(y) * rowFloats;
        float* dst = tmp + static_cast<std::size_t>(y) * rowFloats;
        // Edge columns tap clamped pixels one at a time.
        auto edge = [&](int x) {
            for (int c = 0; c < channels; ++c) {
                float acc = 0.0f;
                for (int j = -k; j <= k; ++j) {
                    const int xx = std::clamp(x + j, 0, w - 1);
                    acc += weights[j + k] * src[static_cast<std::size_t>(xx) * channels + c];
                }
                dst[static_cast<std::size_t>(x) * channels + c] = acc;
            }
        };
        for (int x = 0; x < inner0; ++x) {
            edge(x);
        }
        for (int x = inner1; x < w; ++x) {
            edge(x);
        }
        // Inner columns: each tap added over the whole run, which sums every pixel's taps
        // in the same order as the edge loop does.
        if (inner1 > inner0) {
            float* d = dst + static_cast<std::size_t>(inner0) * channels;
            const std::size_t n = static_cast<std::size_t>(inner1 - inner0) * channels;
            std::fill(d, d + n, 0.0f);
            for (int j = 0; j <= 2 * k; ++j) {
                add(d, src + static_cast<std::size_t>(inner0 - k + j) * channels, weights[j], n);
            }
        }
    });
    forEachRow(plan, h, [&](int y) {
        float* dst = grid + static_cast<std::size_t>(y) * rowFloats;
        std::fill(dst, dst + rowFloats, 0.0f);
        for (int j = -k; j <= k; ++j) {
            const int yy = std::clamp(y + j, 0, h - 1);
            add(dst, tmp + static_cast<std::size_t>(yy) * rowFloats, weights[j + k], rowFloats);
        }
    });
}

}  // namespace vd
