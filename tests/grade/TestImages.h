// Images and cubes built by the engine tests.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "grade/Grade.h"

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

    // Component k of pixel (x, y) as a float in [0, 1] for integer depths.
    float get(int x, int y, int k) {
        const unsigned char* p = at(x, y);
        switch (view.depth) {
            case kDepthByte:
                return static_cast<float>(p[k]) / 255.0f;
            case kDepthShort: {
                uint16_t v;
                std::memcpy(&v, p + 2 * k, 2);
                return static_cast<float>(v) / 65535.0f;
            }
            default: {
                float v;
                std::memcpy(&v, p + 4 * k, 4);
                return v;
            }
        }
    }

    void set(int x, int y, int k, float v) {
        unsigned char* p = at(x, y);
        switch (view.depth) {
            case kDepthByte:
                p[k] = static_cast<unsigned char>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
                break;
            case kDepthShort: {
                const auto q =
                    static_cast<uint16_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 65535.0f));
                std::memcpy(p + 2 * k, &q, 2);
                break;
            }
            default:
                std::memcpy(p + 4 * k, &v, 4);
        }
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

// Cubes of edge n, red fastest, from a function of the lattice point's input colour.
inline std::vector<float> makeCube(
    int n, const std::function<std::array<float, 3>(float, float, float)>& f) {
    std::vector<float> cube(static_cast<std::size_t>(n) * n * n * 3);
    std::size_t i = 0;
    for (int b = 0; b < n; ++b) {
        for (int g = 0; g < n; ++g) {
            for (int r = 0; r < n; ++r) {
                const float top = static_cast<float>(n - 1);
                const auto c = f(static_cast<float>(r) / top, static_cast<float>(g) / top,
                                 static_cast<float>(b) / top);
                cube[i++] = c[0];
                cube[i++] = c[1];
                cube[i++] = c[2];
            }
        }
    }
    return cube;
}

inline std::vector<float> identityCube(int n) {
    return makeCube(n, [](float r, float g, float b) { return std::array<float, 3>{r, g, b}; });
}

// out = M in + t, which tetrahedral interpolation reproduces exactly.
inline std::array<float, 3> affineColour(float r, float g, float b) {
    return {0.7f * r + 0.2f * g + 0.05f * b + 0.02f, 0.1f * r + 0.8f * g + 0.1f * b - 0.01f,
            0.05f * r - 0.1f * g + 0.9f * b + 0.1f};
}

inline std::vector<float> affineCube(int n) {
    return makeCube(n, affineColour);
}

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
