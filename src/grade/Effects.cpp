#include "grade/Effects.h"

#include <algorithm>
#include <array>

#include "grade/Threads.h"

namespace vd {

namespace {

// The 8 x 8 reduction; rowSource(y, thread) gives input row y (possibly transformed into
// that thread's scratch).
template <class RowSource>
void reduceQuarter(RowSource rowSource, int inW, int inH, int channels, float* out, int outW,
                   int outH) {
    std::array<float, 8> w{};
    float axisSum = 0.0f;
    for (int d = -2; d <= 5; ++d) {
        w[d + 2] = downsampleAxisWeight(d);
        axisSum += w[d + 2];
    }
    const float norm = 1.0f / std::max(axisSum * axisSum, 1e-8f);
    const std::size_t rowFloats = static_cast<std::size_t>(outW) * channels;
    // Horizontal reduction of every input row, then vertical reduction of the columns.
    std::vector<float> tmp(static_cast<std::size_t>(inH) * rowFloats);
    forEachRowIndexed(inH, [&](int y, int thread) {
        const float* src = rowSource(y, thread);
        float* dst = tmp.data() + static_cast<std::size_t>(y) * rowFloats;
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
    forEachRow(outH, [&](int by) {
        float* dst = out + static_cast<std::size_t>(by) * rowFloats;
        std::fill(dst, dst + rowFloats, 0.0f);
        for (int d = 0; d < 8; ++d) {
            const int y = std::clamp(4 * by + d - 2, 0, inH - 1);
            const float* src = tmp.data() + static_cast<std::size_t>(y) * rowFloats;
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

void downsampleQuarter(const float* in, int inW, int inH, int channels, float* out, int outW,
                       int outH) {
    const std::size_t stride = static_cast<std::size_t>(inW) * channels;
    reduceQuarter([in, stride](int y, int) { return in + static_cast<std::size_t>(y) * stride; },
                  inW, inH, channels, out, outW, outH);
}

void extractBloomLevel(const float* rgb, int inW, int inH, float threshold, float* out, int outW,
                       int outH) {
    const std::size_t stride = static_cast<std::size_t>(inW) * 3;
    std::vector<float> scratch(static_cast<std::size_t>(helperThreads(inH)) * stride);
    reduceQuarter(
        [&](int y, int thread) {
            const float* src = rgb + static_cast<std::size_t>(y) * stride;
            float* row = scratch.data() + static_cast<std::size_t>(thread) * stride;
            for (int x = 0; x < inW; ++x) {
                bloomExtract(src + 3 * x, threshold, row + 3 * x);
            }
            return static_cast<const float*>(row);
        },
        inW, inH, 3, out, outW, outH);
}

std::vector<float> blurWeights(int radius, int cap) {
    const int k = std::max(0, std::min(radius, cap));
    const float sigma = std::max(static_cast<float>(k) / 3.2f, 1.6f);
    std::vector<float> w(static_cast<std::size_t>(2 * k + 1));
    float sum = 0.0f;
    for (int j = -k; j <= k; ++j) {
        const float v = std::exp(-0.5f * static_cast<float>(j * j) / (sigma * sigma));
        w[static_cast<std::size_t>(j + k)] = v;
        sum += v;
    }
    for (float& v : w) {
        v /= sum;
    }
    return w;
}

void blurSeparable(float* grid, int w, int h, int channels, int radius, int cap) {
    if (w < 1 || h < 1 || radius < 1) {
        return;
    }
    const std::vector<float> weights = blurWeights(radius, cap);
    const int k = static_cast<int>(weights.size() / 2);
    const std::size_t rowFloats = static_cast<std::size_t>(w) * channels;
    std::vector<float> tmp(static_cast<std::size_t>(h) * rowFloats);
    forEachRow(h, [&](int y) {
        const float* src = grid + static_cast<std::size_t>(y) * rowFloats;
        float* dst = tmp.data() + static_cast<std::size_t>(y) * rowFloats;
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
    forEachRow(h, [&](int y) {
        float* dst = grid + static_cast<std::size_t>(y) * rowFloats;
        std::fill(dst, dst + rowFloats, 0.0f);
        for (int j = -k; j <= k; ++j) {
            const int yy = std::clamp(y + j, 0, h - 1);
            const float* src = tmp.data() + static_cast<std::size_t>(yy) * rowFloats;
            const float wj = weights[j + k];
            for (std::size_t i = 0; i < rowFloats; ++i) {
                dst[i] += wj * src[i];
            }
        }
    });
}

}  // namespace vd
