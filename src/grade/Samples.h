// Samples moved between integer images (8-bit, 16-bit) and floats.
//
// Owns: the one rule for both directions. Reading divides the code by the depth's top code
// (255 or 65535). Writing maps a non-finite value to 0 (so +infinity is not white), clamps
// to [0, 1], scales by the top code and rounds half up (v * top + 0.5, truncated). The
// engine, the test host, the command line and the tests all convert through here, so one
// float gives one code everywhere.
// Does not own: image layout, row order, alpha or the float depth (stored as is).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "grade/ImageView.h"

namespace vd {

inline float byteToFloat(std::uint8_t code) {
    return static_cast<float>(code) / 255.0f;
}

inline float shortToFloat(std::uint16_t code) {
    return static_cast<float>(code) / 65535.0f;
}

// [0, 1] for finite values; 0 for NaN and both infinities.
// Plain selects, so that the engine's row conversions vectorise.
inline float finiteUnit(float v) {
    const float below = v < 1.0f ? v : 1.0f;
    const float unit = v > 0.0f ? below : 0.0f;
    return std::fabs(v) <= 3.40282347e38f ? unit : 0.0f;
}

inline std::uint8_t floatToByte(float v) {
    return static_cast<std::uint8_t>(finiteUnit(v) * 255.0f + 0.5f);
}

inline std::uint16_t floatToShort(float v) {
    return static_cast<std::uint16_t>(finiteUnit(v) * 65535.0f + 0.5f);
}

// One sample at p in an image of depth kDepthByte, kDepthShort or kDepthFloat (any other
// code reads as float). Memory is read and written through memcpy, so any alignment works.
inline float loadSample(const unsigned char* p, int depth) {
    if (depth == kDepthByte) {
        return byteToFloat(*p);
    }
    if (depth == kDepthShort) {
        std::uint16_t code;
        std::memcpy(&code, p, sizeof code);
        return shortToFloat(code);
    }
    float v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void storeSample(unsigned char* p, int depth, float value) {
    if (depth == kDepthByte) {
        *p = floatToByte(value);
    } else if (depth == kDepthShort) {
        const std::uint16_t code = floatToShort(value);
        std::memcpy(p, &code, sizeof code);
    } else {
        std::memcpy(p, &value, sizeof value);
    }
}

}  // namespace vd
