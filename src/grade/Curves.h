// Camera encodings (Apple Log, Rec.709, D-Log), their packed lookup tables and the
// gamma-2.2 display transform.
//
// Owns: the analytic decode/encode curves (double precision), the three process-wide
// packed tables (built once, read-only afterwards, shared with the device kernels) and
// the per-pixel lookups fastDecode / fastEncode.
// Does not own: when the curves are applied (Grade.cpp decides from the flags).
#pragma once

#include <cmath>
#include <cstdint>

#include "grade/CameraEncoding.h"

namespace vd {

// Entries per curve of a packed table, and the table's length.
inline constexpr int kCurveSize = 4096;
inline constexpr int kCurveTableLength = 3 * kCurveSize + 1;

// Offsets into a packed table.
inline constexpr int kCurveDecode = 0;
inline constexpr int kCurveEncodeUnit = kCurveSize;
inline constexpr int kCurveEncodeHigh = 2 * kCurveSize;
inline constexpr int kCurveHighMax = 3 * kCurveSize;

// Analytic curves. A non-finite argument gives 0. An unknown encoding is read as Apple Log.
double decode(double code, CameraEncoding encoding);
double encode(double linear, CameraEncoding encoding);

// The packed table of an encoding (an unknown encoding gives Apple Log's). The
// tables are built on first use under a one-time initialisation; the pointer stays valid
// for the life of the process.
const float* curveTable(CameraEncoding encoding);

// Linear interpolation in a 4096-entry table; pos is clamped to [0, 4095] and a NaN
// position reads entry 0, so no input can read outside the table. Written without
// branches or index selects so that loops over it vectorise.
inline float sampleTable(const float* table, float pos) {
    const float below = pos < 4095.0f ? pos : 4095.0f;
    pos = pos > 0.0f ? below : 0.0f;
    const int i = static_cast<int>(pos);
    const int next = i + 1 - (i >> 12);  // i + 1, or 4095 for the last entry
    return table[i] + (table[next] - table[i]) * (pos - static_cast<float>(i));
}

// Camera code to linear light through the table: codes not above 0 (and NaN) give
// decode[0], codes at or above 1 (and +Inf) give decode[4095].
inline float fastDecode(float code, const float* table) {
    if (!(code > 0.0f)) {
        return table[kCurveDecode];
    }
    if (code >= 1.0f) {
        return table[kCurveDecode + 4095];
    }
    const float pos = code * 4095.0f;
    const int i = static_cast<int>(pos);
    const int next = i < 4095 ? i + 1 : 4095;
    const float* d = table + kCurveDecode;
    return d[i] + (d[next] - d[i]) * (pos - static_cast<float>(i));
}

// Linear light to camera code through the table. Non-finite values and values at or
// below decode[0] give 0. The analytic curve serves what the table does not cover: linear
// values at or above highMax, and negative values above decode[0] (the table starts at
// linear 0, so clamping them would jump every dark log code to the code of black).
inline float fastEncode(float linear, const float* table, CameraEncoding encoding) {
    if (!std::isfinite(linear) || !(linear > table[kCurveDecode])) {
        return 0.0f;
    }
    const float highMax = table[kCurveHighMax];
    if (linear >= highMax || linear < 0.0f) {
        return static_cast<float>(encode(linear, encoding));
    }
    if (linear <= 1.0f) {
        return sampleTable(table + kCurveEncodeUnit, linear * 4095.0f);
    }
    if (!(highMax - 1.0f > 0.0f)) {
        return sampleTable(table + kCurveEncodeHigh, 4095.0f);
    }
    return sampleTable(table + kCurveEncodeHigh, (linear - 1.0f) / (highMax - 1.0f) * 4095.0f);
}

// Rec.709 luma weights, used on code values and linear values alike.
inline float displayLuma(float r, float g, float b) {
    return 0.2126f * r + 0.7152f * g + 0.0722f * b;
}

// Gamma-2.2 display transform. Exact (libm) forms; the per-pixel effects use the table
// forms of PixelMath.h, which agree to about 1e-6 relative.
inline float displayToLinear(float c) {
    return std::pow(c > 0.0f ? c : 0.0f, 2.2f);
}
inline float linearToDisplay(float l) {
    return std::pow(l > 0.0f ? l : 0.0f, 0.45454544f);
}

}  // namespace vd
