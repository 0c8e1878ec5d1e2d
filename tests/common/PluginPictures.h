// What the tests that render through the built .ofx share: the bundle loaded in the test
// host with one instance, controls set by name, and pictures compared or cut out.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "TestHost.h"

namespace vd::test {

using Controls = std::vector<std::pair<std::string, testhost::ParamValue>>;

// The largest difference of a from b over a region. Without a region the two must have the
// same bounds and layout. An integer a is compared with b clamped to the range it can hold;
// a NaN on either side counts as infinite.
inline float maxDifference(const testhost::Image& a, const testhost::Image& b,
                           std::optional<OfxRectI> region = std::nullopt) {
    const float inf = std::numeric_limits<float>::infinity();
    const OfxRectI ra = a.bounds(), rb = b.bounds();
    if (!region && (ra.x1 != rb.x1 || ra.y1 != rb.y1 || ra.x2 != rb.x2 || ra.y2 != rb.y2 ||
                    a.components() != b.components())) {
        return inf;
    }
    const OfxRectI r = region.value_or(ra);
    const bool clamp = a.depth() != testhost::BitDepth::float32;
    float worst = 0.0f;
    for (int y = r.y1; y < r.y2; ++y) {
        for (int x = r.x1; x < r.x2; ++x) {
            for (int c = 0; c < a.components(); ++c) {
                const float e = clamp ? std::clamp(b.at(x, y, c), 0.0f, 1.0f) : b.at(x, y, c);
                const float d = std::fabs(a.at(x, y, c) - e);
                if (std::isnan(d)) {
                    return inf;  // unwritten or NaN output
                }
                worst = std::max(worst, d);
            }
        }
    }
    return worst;
}

// A synthetic frame, the same wherever it is cropped: smooth colour ramps, alpha varying
// from pixel to pixel (zero in one of eleven) and a lattice of small super-white dots for
// halation and bloom to spread (white in integer depths). The 6 x 4 dots sit on even
// coordinates, so a 2 x 2 reduction keeps them whole; `scale` shrinks the frame as a host
// does at a render scale.
inline testhost::Image scene(testhost::BitDepth depth, int components, OfxRectI region,
                             bool premultiplied = false, double scale = 1.0) {
    testhost::Image image(depth, components, region);
    image.premultiplied = premultiplied && components == 4;
    for (int y = region.y1; y < region.y2; ++y) {
        for (int x = region.x1; x < region.x2; ++x) {
            const double fx = x / scale, fy = y / scale;
            const bool dot =
                std::fmod(fx + 400.0, 40.0) >= 18.0 && std::fmod(fx + 400.0, 40.0) < 24.0 &&
                std::fmod(fy + 280.0, 28.0) >= 12.0 && std::fmod(fy + 280.0, 28.0) < 16.0;
            float rgb[3] = {static_cast<float>(0.05 + 0.55 * fx / 192.0),
                            static_cast<float>(0.1 + 0.45 * fy / 108.0),
                            static_cast<float>(0.2 + 0.15 * std::sin((fx + 2 * fy) * 0.11))};
            if (dot) {
                rgb[0] = rgb[1] = rgb[2] = 6.0f;
            }
            const int cell = (x + 3 * y) % 11;
            const float alpha = cell == 0 ? 0.0f : 0.35f + 0.65f * static_cast<float>(cell) / 10.0f;
            for (int c = 0; c < 3; ++c) {
                image.set(x, y, c, image.premultiplied ? rgb[c] * alpha : rgb[c]);
            }
            if (components == 4) {
                image.set(x, y, 3, alpha);
            }
        }
    }
    return image;
}

// The part of an image inside region, in the same depth, layout and premultiplication.
inline testhost::Image crop(const testhost::Image& image, OfxRectI region) {
    testhost::Image out(image.depth(), image.components(), region);
    out.premultiplied = image.premultiplied;
    for (int y = region.y1; y < region.y2; ++y) {
        for (int x = region.x1; x < region.x2; ++x) {
            for (int c = 0; c < image.components(); ++c) {
                out.set(x, y, c, image.at(x, y, c));
            }
        }
    }
    return out;
}

// The built bundle in the test host with one instance in the filter context; anything the
// host notices the plug-in doing wrong fails the test.
class PluginTest : public ::testing::Test {
  protected:
    void start(testhost::HostProfile profile = {}) {
        fx_ = nullptr;
        host_.reset();
        profile.onProblem = [](const std::string& p) { ADD_FAILURE() << "host: " << p; };
        host_.emplace(VD_BUNDLE_DIR, profile);
        host_->setUp(kOfxImageEffectContextFilter);
        fx_ = &host_->createInstance(kOfxImageEffectContextFilter);
    }
    void set(const Controls& controls) {
        for (const auto& [name, value] : controls) {
            fx_->setValue(name, value);
        }
    }

    std::optional<testhost::TestHost> host_;
    testhost::Instance* fx_ = nullptr;
};

}  // namespace vd::test
