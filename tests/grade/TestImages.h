// Images and cubes built by the engine tests.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "grade/Grade.h"
#include "grade/Samples.h"

namespace vd::test {

// An owned host-style image of any depth, rows stored top-down.
struct TestImage {
    std::vector<unsigned char> bytes;
    ImageView view;

    TestImage(PixelRect bounds, int components, int depth) {
        const int w = bounds.x2 - bounds.x1;
        const int h = bounds.y2 - bounds.y1;
        const int rowBytes = w * components * bytesPerComponent(depth);
        bytes.assign(static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(h), 0);
        view.x1 = bounds.x1;
        view.y1 = bounds.y1;
        view.x2 = bounds.x2;
        view.y2 = bounds.y2;
        view.components = components;
        view.depth = depth;
        view.data = bytes.data();
        view.rowBytes = rowBytes;
    }

    unsigned char* at(int x, int y) {
        return imageRow(view, y) + static_cast<std::ptrdiff_t>(x - view.x1) * view.components *
                                       bytesPerComponent(view.depth);
    }

    // Component k of pixel (x, y), converted as the engine converts samples.
    float get(int x, int y, int k) {
        return loadSample(at(x, y) + k * bytesPerComponent(view.depth), view.depth);
    }

    void set(int x, int y, int k, float v) {
        storeSample(at(x, y) + k * bytesPerComponent(view.depth), view.depth, v);
    }

    // Fills every pixel with f(x, y) -> {r, g, b, a}.
    void fill(const std::function<std::array<float, 4>(int, int)>& f) {
        for (int y = view.y1; y < view.y2; ++y) {
            for (int x = view.x1; x < view.x2; ++x) {
                const auto c = f(x, y);
                for (int k = 0; k < view.components; ++k) {
                    set(x, y, k, c[static_cast<std::size_t>(k)]);
                }
            }
        }
    }
};

// Largest absolute difference over every component of the pixels of `rect`.
inline float maxDifference(TestImage& a, TestImage& b, const PixelRect& rect) {
    float worst = 0.0f;
    for (int y = rect.y1; y < rect.y2; ++y) {
        for (int x = rect.x1; x < rect.x2; ++x) {
            for (int k = 0; k < a.view.components; ++k) {
                const float d = std::fabs(a.get(x, y, k) - b.get(x, y, k));
                if (!(d <= worst)) {
                    worst = d;  // NaN makes the difference NaN, which fails any bound
                }
            }
        }
    }
    return worst;
}

// A cube of edge n, red fastest, of values a little beyond [0, 1] on both sides.
inline std::vector<float> randomCube(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-0.1f, 1.1f);
    std::vector<float> cube(static_cast<std::size_t>(n) * n * n * 3);
    for (float& v : cube) {
        v = dist(rng);
    }
    return cube;
}

}  // namespace vd::test
