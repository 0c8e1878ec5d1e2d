#include "grade/Curves.h"

#include <algorithm>

namespace vd {

namespace {

double decodeAppleLog(double c) {
    if (!(c > 0.0)) {
        return -0.05641088;
    }
    if (c >= 0.20855531595464202) {
        return std::exp2((c - 0.69336945) / 0.08550479) - 0.00964052;
    }
    return std::sqrt(c / 47.28711236) - 0.05641088;
}

double encodeAppleLog(double l) {
    if (!(l >= -0.05641088)) {
        return 0.0;
    }
    if (l < 0.01) {
        const double t = l + 0.05641088;
        return 47.28711236 * t * t;
    }
    return 0.08550479 * std::log2(l + 0.00964052) + 0.69336945;
}

double decodeRec709(double c) {
    if (c < 0.081) {
        return c / 4.5;
    }
    return std::pow((c + 0.099) / 1.099, 2.2222222222222223);
}

double encodeRec709(double l) {
    if (!(l > 0.0)) {
        return 0.0;
    }
    if (l < 0.018) {
        return 4.5 * l;
    }
    return 1.099 * std::pow(l, 0.45) - 0.099;
}

double decodeDLog(double c) {
    if (c <= 0.14) {
        return (c - 0.0929) / 6.025;
    }
    return (std::pow(10.0, (c - 0.584555) / 0.256663) - 0.0108) / 0.9892;
}

double encodeDLog(double l) {
    if (l <= 0.0078) {
        return 6.025 * l + 0.0929;
    }
    return 0.256663 * std::log10(0.9892 * l + 0.0108) + 0.584555;
}

struct CurveTables {
    float table[3][kCurveTableLength];

    CurveTables() {
        for (int code = 0; code < 3; ++code) {
            const auto e = static_cast<CameraEncoding>(code);
            float* t = table[code];
            for (int i = 0; i < kCurveSize; ++i) {
                const float u = static_cast<float>(i) / 4095.0f;
                t[kCurveDecode + i] = static_cast<float>(decode(u, e));
            }
            const float highMax = std::max(1.0f, t[kCurveDecode + 4095]);
            t[kCurveHighMax] = highMax;
            for (int i = 0; i < kCurveSize; ++i) {
                const float u = static_cast<float>(i) / 4095.0f;
                t[kCurveEncodeUnit + i] = static_cast<float>(encode(u, e));
                const float high = 1.0f + (highMax - 1.0f) * u;
                t[kCurveEncodeHigh + i] = static_cast<float>(encode(high, e));
            }
        }
    }
};

}  // namespace

double decode(double code, CameraEncoding encoding) {
    if (!std::isfinite(code)) {
        return 0.0;
    }
    switch (encoding) {
        case CameraEncoding::Rec709:
            return decodeRec709(code);
        case CameraEncoding::DLog:
            return decodeDLog(code);
        case CameraEncoding::AppleLog:
        default:
            return decodeAppleLog(code);
    }
}

double encode(double linear, CameraEncoding encoding) {
    if (!std::isfinite(linear)) {
        return 0.0;
    }
    switch (encoding) {
        case CameraEncoding::Rec709:
            return encodeRec709(linear);
        case CameraEncoding::DLog:
            return encodeDLog(linear);
        case CameraEncoding::AppleLog:
        default:
            return encodeAppleLog(linear);
    }
}

const float* curveTable(CameraEncoding encoding) {
    // A function-local static is the one-time initialisation: the first caller builds the
    // tables, callers arriving meanwhile wait, and nothing is freed before unload.
    static const CurveTables tables;
    if (!isCameraEncoding(encoding)) {
        encoding = CameraEncoding::AppleLog;
    }
    return tables.table[static_cast<int>(encoding)];
}

}  // namespace vd
