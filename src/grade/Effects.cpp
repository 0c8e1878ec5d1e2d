#include "grade/Effects.h"

#include <algorithm>
#include <array>

namespace vd {

namespace {

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
    forEachRow(plan, outH, [&](int by) {
        float* dst = out + static_cast<std::size_t>(by) * rowFloats;
        std::fill(dst, dst + rowFloats, 0.0f);
        for (int d = 0; d < 8; ++d) {
            const int y = std::clamp(4 * by + d - 2, 0, inH - 1);
            const float* src = tmp + static_cast<std::size_t>(y) * rowFloats;
            for (std::size_t i = 0; i < rowFloats; ++i) {
                dst[i] += w[d] * src[i];
            }
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
    forEachRow(plan, h, [&](int y) {
        const float* src = grid + static_cast<std::size_t>(y) * rowFloats;
        float* dst = tmp + static_cast<std::size_t>(y) * rowFloats;
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < channels; ++c) {
                float acc = 0.0f;
                if (x >= k && x + k < w) {
                    const float* p = src + static_cast<std::size_t>(x - k) * channels + c;
                    for (int j = 0; j <= 2 * k; ++j) {
                        acc += weights[j] * p[static_cast<std::size_t>(j) * channels];
                    }
                } else {
                    for (int j = -k; j <= k; ++j) {
                        const int xx = std::clamp(x + j, 0, w - 1);
                        acc += weights[j + k] * src[static_cast<std::size_t>(xx) * channels + c];
                    }
                }
                dst[static_cast<std::size_t>(x) * channels + c] = acc;
            }
        }
    });
    forEachRow(plan, h, [&](int y) {
        float* dst = grid + static_cast<std::size_t>(y) * rowFloats;
        std::fill(dst, dst + rowFloats, 0.0f);
        for (int j = -k; j <= k; ++j) {
            const int yy = std::clamp(y + j, 0, h - 1);
            const float* src = tmp + static_cast<std::size_t>(yy) * rowFloats;
            const float wj = weights[j + k];
            for (std::size_t i = 0; i < rowFloats; ++i) {
                dst[i] += wj * src[i];
            }
        }
    });
}

}  // namespace vd
