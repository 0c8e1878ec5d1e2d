#include "grade/GradeContext.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "grade/Curves.h"
#include "grade/Grade.h"

namespace vd {

namespace {

// Clamp with a replacement for non-finite values.
float clampOr(float v, float lo, float hi, float fallback) {
    if (!std::isfinite(v)) {
        return fallback;
    }
    return std::clamp(v, lo, hi);
}

// Clamp that keeps NaN (the flags treat a NaN as "on"; the step then reads it as 0).
float clampKeepNaN(float v, float lo, float hi) {
    if (std::isnan(v)) {
        return v;
    }
    return std::clamp(v, lo, hi);
}

// A fresh record: its values stand in for controls that are not finite.
constexpr GradeSettings kFresh{};

float heightOr1080(float h) {
    return h > 0.0f ? h : 1080.0f;
}

float sanitiseRadius(float r) {
    if (!std::isfinite(r) || r < 0.0f) {
        return 0.0f;
    }
    return std::min(r, 4.0f);
}

int32_t radiusPixels(float radius, float unitPx, float frameHeight, float scale) {
    const float r = sanitiseRadius(radius);
    const float h = heightOr1080(frameHeight);
    const float s = scale > 0.0f ? scale : 1.0f;
    const float px = std::ceil(std::max(r * unitPx * h / 1080.0f * s, 0.0f));
    if (!(px < static_cast<float>(kMaxEffectRadiusPx))) {
        return kMaxEffectRadiusPx;
    }
    return static_cast<int32_t>(px);
}

double roundHalfAway(double v) {
    return v < 0.0 ? -std::floor(-v + 0.5) : std::floor(v + 0.5);
}

}  // namespace

float derivedScale(const GradeSettings& s) {
    return std::isfinite(s.renderScale) && s.renderScale > 0.0f ? s.renderScale : 1.0f;
}

float derivedFrameHeight(const GradeSettings& s, const PixelRect& frameRect) {
    if (s.frameHeight >= 1) {
        return static_cast<float>(s.frameHeight);
    }
    const double height = static_cast<double>(frameRect.y2) - static_cast<double>(frameRect.y1);
    return static_cast<float>(height / static_cast<double>(derivedScale(s)));
}

int32_t haloRadiusPixels(float radius, float frameHeight, float scale) {
    return radiusPixels(radius, 52.0f, frameHeight, scale);
}

int32_t bloomRadiusPixels(float radius, float frameHeight, float scale) {
    return radiusPixels(radius, 120.0f, frameHeight, scale);
}

float grainCellPixels(float grainSize, float frameHeight, float scale) {
    const float size = clampOr(grainSize, 0.25f, 4.0f, kFresh.grainSize);
    const float s = scale > 0.0f ? scale : 1.0f;
    const float cell = size * 1.6f * (frameHeight / 1080.0f) * s;
    // A non-finite cell (an absurd frame height) falls back to the smallest cell.
    return std::isfinite(cell) ? std::max(1.0f, cell) : 1.0f;
}

int32_t dividerWidthPixels(float frameHeight, float scale) {
    const double h = heightOr1080(frameHeight);
    const double s = scale > 0.0f ? scale : 1.0f;
    const double w = roundHalfAway(h * s / 1080.0);
    if (!(w < 1e9)) {
        return 1000000000;
    }
    return static_cast<int32_t>(std::max(1.0, w));
}

GradeContext deriveGradeContext(const GradeSettings& s, const ImageView* src, const ImageView& dst,
                                const PixelRect& frameRect, const PixelRect& window) {
    GradeContext c;
    c.src = src;
    c.dst = &dst;
    c.settings = &s;

    const PixelRect rod = rectEmpty(frameRect) ? imageBounds(dst) : frameRect;
    c.rod = {static_cast<float>(rod.x1), static_cast<float>(rod.y1), static_cast<float>(rod.x2),
             static_cast<float>(rod.y2)};
    c.x1 = window.x1;
    c.y1 = window.y1;
    c.x2 = window.x2;
    c.y2 = window.y2;
    c.frame = s.frame;

    c.exposureStops = clampOr(s.exposure, -4.0f, 4.0f, 0.0f);
    c.exposureGain = std::exp2(c.exposureStops);
    c.encoding = isCameraEncoding(s.encoding) ? s.encoding : CameraEncoding::AppleLog;
    c.intensity = clampKeepNaN(s.intensity, 0.0f, 1.0f);
    c.contrast = clampKeepNaN(s.contrast, -1.0f, 1.0f);
    c.saturation = clampKeepNaN(s.saturation, -1.0f, 1.0f);
    c.highlights = clampKeepNaN(s.highlights, -1.0f, 1.0f);
    c.shadows = clampKeepNaN(s.shadows, -1.0f, 1.0f);
    c.temperature = clampOr(s.temperature, -1.0f, 1.0f, 0.0f);
    c.tint = clampOr(s.tint, -1.0f, 1.0f, 0.0f);
    c.grainAmount = clampOr(s.grainAmount, 0.0f, 1.0f, 0.0f);
    c.halationAmount = clampOr(s.halationAmount, 0.0f, 1.0f, 0.0f);
    c.bloomAmount = clampOr(s.bloomAmount, 0.0f, 1.0f, 0.0f);
    c.bloomThreshold = clampOr(s.bloomThreshold, 0.0f, 1.0f, kFresh.bloomThreshold);
    c.vignetteAmount = clampOr(s.vignetteAmount, -1.0f, 1.0f, 0.0f);
    c.vignetteSize = clampOr(s.vignetteSize, 0.0f, 1.0f, kFresh.vignetteSize);
    c.vignetteFeather = clampOr(s.vignetteFeather, 0.0f, 1.0f, kFresh.vignetteFeather);
    c.borderTop = clampOr(s.borderTop, 0.0f, 1.0f, 0.0f);
    c.borderSide = clampOr(s.borderSide, 0.0f, 1.0f, 0.0f);
    for (int k = 0; k < 3; ++k) {
        c.borderColour[k] = clampOr(s.borderColour[k], 0.0f, 1.0f, 0.0f);
    }

    const float scale = derivedScale(s);
    const float height = derivedFrameHeight(s, rod);
    c.grainCell = grainCellPixels(s.grainSize, height, scale);
    c.haloRadiusPx = haloRadiusPixels(s.halationRadius, height, scale);
    c.bloomRadiusPx = bloomRadiusPixels(s.bloomRadius, height, scale);

    uint32_t f = 0;
    if (c.exposureStops != 0.0f) {
        f |= kDoExposure;
    }
    if (c.exposureStops > 0.0f) {
        f |= kDoShoulder;
    }
    if (c.temperature != 0.0f || c.tint != 0.0f) {
        f |= kDoWb;
    }
    if ((f & (kDoExposure | kDoWb)) != 0) {
        f |= kDoLinear;
    }
    if (s.lutData != nullptr && s.lutEdge >= 2 && c.intensity > 0.0f) {
        f |= kDoLut;
    }
    if (c.contrast != 0.0f) {
        f |= kDoContrast;
    }
    if (c.highlights != 0.0f || c.shadows != 0.0f) {
        f |= kDoZones;
    }
    if (c.saturation != 0.0f) {
        f |= kDoSat;
    }
    if (c.grainAmount > 0.0f) {
        f |= kDoGrain;
    }
    if (c.halationAmount > 0.0f) {
        f |= kDoHalo;
    }
    if (src != nullptr) {
        f |= kHasSrc;
        if (s.premultiplied && src->components == 4) {
            f |= kPremultiply;
        }
    }
    if (c.vignetteAmount != 0.0f) {
        f |= kDoVignette;
    }
    if (c.borderTop > 0.0f || c.borderSide > 0.0f) {
        f |= kDoBorder;
    }
    if (c.bloomAmount > 0.0f) {
        f |= kDoBloom;
    }
    if (s.splitScreen && !s.beforeAfter) {
        f |= kDoSplit;
    }
    if (s.beforeAfter) {
        f = (f & (kPremultiply | kHasSrc | kGather)) | kDoBeforeAfter;
    }
    c.flags = f;

    auto stepValue = [](float v, bool on) {
        return on && std::isfinite(v) ? std::clamp(v, -1.0f, 1.0f) : 0.0f;
    };
    c.stepContrast = stepValue(c.contrast, c.has(kDoContrast));
    c.stepHighlights = stepValue(c.highlights, c.has(kDoZones));
    c.stepShadows = stepValue(c.shadows, c.has(kDoZones));
    c.stepSaturation = stepValue(c.saturation, c.has(kDoSat));
    c.wbGain[0] = 1.0 + 0.25 * c.temperature;
    c.wbGain[1] = 1.0 - 0.2 * c.tint;
    c.wbGain[2] = 1.0 - 0.25 * c.temperature;
    c.haloGain = c.halationAmount * c.halationAmount * 1.65f;
    c.bloomGain = c.bloomAmount * c.bloomAmount * 2.15f;

    if (c.has(kDoSplit)) {
        const float p = clampOr(s.splitPosition, 0.0f, 1.0f, kFresh.splitPosition);
        c.splitX = c.rod.x1 + (c.rod.x2 - c.rod.x1) * p;
        c.splitHalf = static_cast<float>(dividerWidthPixels(height, scale)) * 0.5f;
    }

    c.curve = curveTable(c.encoding);
    return c;
}

std::optional<EffectRegion> effectRegion(const PixelRect& window, int32_t radius,
                                         const PixelRect* sourceBounds, int32_t align,
                                         int32_t originX, int32_t originY) {
    const int64_t r = std::max<int64_t>(radius, 0);
    int64_t gx1 = int64_t{window.x1} - r;
    int64_t gy1 = int64_t{window.y1} - r;
    int64_t gx2 = int64_t{window.x2} + r;
    int64_t gy2 = int64_t{window.y2} + r;
    if (sourceBounds != nullptr) {
        gx1 = std::max<int64_t>(gx1, sourceBounds->x1);
        gy1 = std::max<int64_t>(gy1, sourceBounds->y1);
        gx2 = std::min<int64_t>(gx2, sourceBounds->x2);
        gy2 = std::min<int64_t>(gy2, sourceBounds->y2);
    }
    int64_t x1 = std::min<int64_t>(window.x1, gx1);
    int64_t y1 = std::min<int64_t>(window.y1, gy1);
    if (align > 1) {
        auto snap = [align](int64_t v, int64_t origin) {
            const int64_t d = v - origin;
            const int64_t q = d >= 0 ? d / align : -((-d + align - 1) / align);
            return origin + q * align;
        };
        x1 = snap(x1, originX);
        y1 = snap(y1, originY);
    }
    const int64_t w = std::max<int64_t>(std::max<int64_t>(gx2, window.x2) - x1, 1);
    const int64_t h = std::max<int64_t>(std::max<int64_t>(gy2, window.y2) - y1, 1);
    constexpr int64_t lo = std::numeric_limits<int32_t>::min();
    constexpr int64_t hi = std::numeric_limits<int32_t>::max();
    if (x1 < lo || y1 < lo || x1 + w > hi || y1 + h > hi) {
        return std::nullopt;
    }
    return EffectRegion{static_cast<int32_t>(x1), static_cast<int32_t>(y1), static_cast<int32_t>(w),
                        static_cast<int32_t>(h)};
}

int32_t haloBlurRadius(int32_t radiusPx) {
    return std::clamp((std::max(radiusPx, 0) + 3) / 4, 1, 32);
}

int32_t bloomBlurRadius0(int32_t radiusPx) {
    return std::clamp((std::max(radiusPx, 0) + 3) / 4, 1, 40);
}

int32_t bloomBlurRadius1(int32_t radiusPx) {
    return std::clamp((std::max(radiusPx, 0) + 7) / 8, 1, 24);
}

int32_t haloReachPixels(int32_t haloRadiusPx) {
    return std::max(haloRadiusPx, 4 * haloBlurRadius(haloRadiusPx) + 8);
}

int32_t bloomReachPixels(int32_t bloomRadiusPx) {
    return std::max({bloomRadiusPx, 4 * bloomBlurRadius0(bloomRadiusPx) + 8,
                     16 * bloomBlurRadius1(bloomRadiusPx) + 34});
}

EffectReach effectReach(const GradeContext& c) {
    EffectReach r;
    const bool halo = c.has(kDoHalo);
    const bool bloom = c.has(kDoBloom);
    if (bloom) {
        r.bloom = bloomReachPixels(c.bloomRadiusPx);
    }
    if (halo) {
        // The bloom-source pass composites halation over the whole bloom region.
        r.mask = haloReachPixels(c.haloRadiusPx) + r.bloom;
    }
    r.source = halo ? r.mask : r.bloom;
    return r;
}

int32_t sourceReachPixels(float halationAmount, float halationRadius, float bloomAmount,
                          float bloomRadius, float frameHeight, float scale) {
    const bool halo = std::isfinite(halationAmount) && halationAmount > 0.0f;
    const bool bloom = std::isfinite(bloomAmount) && bloomAmount > 0.0f;
    const int32_t b =
        bloom ? bloomReachPixels(bloomRadiusPixels(bloomRadius, frameHeight, scale)) : 0;
    if (!halo) {
        return b;
    }
    return haloReachPixels(haloRadiusPixels(halationRadius, frameHeight, scale)) + b;
}

std::optional<std::size_t> checkedBufferFloats(int64_t w, int64_t h, int64_t channels) {
    if (w < 0 || h < 0 || channels < 0) {
        return std::nullopt;
    }
    const int64_t cap = static_cast<int64_t>(kMaxBufferFloats);
    if (w != 0 && h > cap / w) {
        return std::nullopt;
    }
    const int64_t area = w * h;
    if (channels != 0 && area > cap / channels) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(area * channels);
}

}  // namespace vd
