#include "colour/Colour.h"

#include <cmath>

namespace vd::colour {
namespace {

struct Chromaticities {
    double rx, ry, gx, gy, bx, by;
};

// Published primaries (CIE 1931 xy); every gamut here uses the D65 white point.
constexpr Chromaticities kRec709{0.640, 0.330, 0.300, 0.600, 0.150, 0.060};
constexpr Chromaticities kRec2020{0.708, 0.292, 0.170, 0.797, 0.131, 0.046};
constexpr Chromaticities kDGamut{0.71, 0.31, 0.21, 0.88, 0.09, -0.08};
constexpr double kD65x = 0.3127;
constexpr double kD65y = 0.3290;

Rgb xyToXyz(double x, double y) {
    return {x / y, 1.0, (1.0 - x - y) / y};
}

Mat3 primariesToXyz(const Chromaticities& c) {
    const Rgb r = xyToXyz(c.rx, c.ry);
    const Rgb g = xyToXyz(c.gx, c.gy);
    const Rgb b = xyToXyz(c.bx, c.by);
    const Mat3 p{{{r[0], g[0], b[0]}, {r[1], g[1], b[1]}, {r[2], g[2], b[2]}}};
    // Scale each primary so that RGB (1, 1, 1) lands on the white point.
    const Rgb s = mul(inverse(p), xyToXyz(kD65x, kD65y));
    Mat3 m{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            m[i][j] = p[i][j] * s[j];
        }
    }
    return m;
}

const Chromaticities& chromaticities(Gamut gamut) {
    switch (gamut) {
        case Gamut::Rec709:
            return kRec709;
        case Gamut::Rec2020:
            return kRec2020;
        case Gamut::DGamut:
            return kDGamut;
    }
    return kRec709;
}

constexpr double kLabEpsilon = 216.0 / 24389.0;
constexpr double kLabKappa = 24389.0 / 27.0;
const Rgb kD65White{0.95047, 1.0, 1.08883};
const Rgb kD50White{0.96422, 1.0, 0.82521};

double labF(double t) {
    return t > kLabEpsilon ? std::cbrt(t) : (kLabKappa * t + 16.0) / 116.0;
}
double labFInverse(double f) {
    const double t = f * f * f;
    return t > kLabEpsilon ? t : (116.0 * f - 16.0) / kLabKappa;
}

}  // namespace

Gamut cameraGamut(Encoding encoding) {
    switch (encoding) {
        case Encoding::AppleLog:
            return Gamut::Rec2020;
        case Encoding::DLog:
            return Gamut::DGamut;
        case Encoding::Rec709:
            return Gamut::Rec709;
    }
    return Gamut::Rec709;
}

Rgb operator+(const Rgb& a, const Rgb& b) {
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}
Rgb operator-(const Rgb& a, const Rgb& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
Rgb operator*(const Rgb& a, double s) {
    return {a[0] * s, a[1] * s, a[2] * s};
}

Rgb mul(const Mat3& m, const Rgb& v) {
    return {m[0][0] * v[0] + m[0][1] * v[1] + m[0][2] * v[2],
            m[1][0] * v[0] + m[1][1] * v[1] + m[1][2] * v[2],
            m[2][0] * v[0] + m[2][1] * v[1] + m[2][2] * v[2]};
}

Mat3 mul(const Mat3& a, const Mat3& b) {
    Mat3 m{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            m[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
        }
    }
    return m;
}

Mat3 inverse(const Mat3& m) {
    const double c00 = m[1][1] * m[2][2] - m[1][2] * m[2][1];
    const double c01 = m[1][2] * m[2][0] - m[1][0] * m[2][2];
    const double c02 = m[1][0] * m[2][1] - m[1][1] * m[2][0];
    const double det = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
    const double k = 1.0 / det;
    return {{{c00 * k, (m[0][2] * m[2][1] - m[0][1] * m[2][2]) * k,
              (m[0][1] * m[1][2] - m[0][2] * m[1][1]) * k},
             {c01 * k, (m[0][0] * m[2][2] - m[0][2] * m[2][0]) * k,
              (m[0][2] * m[1][0] - m[0][0] * m[1][2]) * k},
             {c02 * k, (m[0][1] * m[2][0] - m[0][0] * m[2][1]) * k,
              (m[0][0] * m[1][1] - m[0][1] * m[1][0]) * k}}};
}

Mat3 rgbToXyz(Gamut gamut) {
    return primariesToXyz(chromaticities(gamut));
}

Mat3 gamutMatrix(Gamut from, Gamut to) {
    return mul(inverse(rgbToXyz(to)), rgbToXyz(from));
}

Rgb lumaWeights(Gamut gamut) {
    return rgbToXyz(gamut)[1];
}

double decodeCurve(double code, Encoding encoding) {
    if (!std::isfinite(code)) {
        return 0.0;
    }
    switch (encoding) {
        case Encoding::Rec709:
            if (code < 0.081) {
                return code / 4.5;
            }
            return std::pow((code + 0.099) / 1.099, 1.0 / 0.45);
        case Encoding::DLog:
            if (code <= 0.14) {
                return (code - 0.0929) / 6.025;
            }
            return (std::pow(10.0, (code - 0.584555) / 0.256663) - 0.0108) / 0.9892;
        case Encoding::AppleLog:
            break;
    }
    if (code <= 0.0) {
        return -0.05641088;
    }
    if (code >= 0.20855531595464202) {
        return std::exp2((code - 0.69336945) / 0.08550479) - 0.00964052;
    }
    return std::sqrt(code / 47.28711236) - 0.05641088;
}

double encodeCurve(double linear, Encoding encoding) {
    if (!std::isfinite(linear)) {
        return 0.0;
    }
    switch (encoding) {
        case Encoding::Rec709:
            if (linear <= 0.0) {
                return 0.0;
            }
            if (linear < 0.018) {
                return 4.5 * linear;
            }
            return 1.099 * std::pow(linear, 0.45) - 0.099;
        case Encoding::DLog:
            if (linear <= 0.0078) {
                return 6.025 * linear + 0.0929;
            }
            return 0.256663 * std::log10(0.9892 * linear + 0.0108) + 0.584555;
        case Encoding::AppleLog:
            break;
    }
    if (!(linear >= -0.05641088)) {
        return 0.0;
    }
    if (linear < 0.01) {
        const double t = linear + 0.05641088;
        return 47.28711236 * t * t;
    }
    return 0.08550479 * std::log2(linear + 0.00964052) + 0.69336945;
}

double displayDecode(double code) {
    return code > 0.0 ? std::pow(code, 2.4) : 0.0;
}
double displayEncode(double light) {
    return light > 0.0 ? std::pow(light, 1.0 / 2.4) : 0.0;
}

Rgb xyzToLab(const Rgb& xyz) {
    const double fx = labF(xyz[0] / kD65White[0]);
    const double fy = labF(xyz[1] / kD65White[1]);
    const double fz = labF(xyz[2] / kD65White[2]);
    return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

Rgb labToXyz(const Rgb& lab) {
    const double fy = (lab[0] + 16.0) / 116.0;
    return {kD65White[0] * labFInverse(fy + lab[1] / 500.0), kD65White[1] * labFInverse(fy),
            kD65White[2] * labFInverse(fy - lab[2] / 200.0)};
}

Rgb labD50ToXyzD65(const Rgb& lab) {
    const double fy = (lab[0] + 16.0) / 116.0;
    const Rgb xyz50{kD50White[0] * labFInverse(fy + lab[1] / 500.0), labFInverse(fy),
                    kD50White[2] * labFInverse(fy - lab[2] / 200.0)};
    // Bradford cone response matrix; adapt by scaling cone responses white to white.
    const Mat3 bradford{
        {{0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}}};
    const Rgb src = mul(bradford, kD50White);
    const Rgb dst = mul(bradford, kD65White);
    const Mat3 scale{{{dst[0] / src[0], 0, 0}, {0, dst[1] / src[1], 0}, {0, 0, dst[2] / src[2]}}};
    return mul(mul(inverse(bradford), mul(scale, bradford)), xyz50);
}

double labHue(const Rgb& lab) {
    const double h = std::atan2(lab[2], lab[1]) * 180.0 / 3.14159265358979323846;
    return h < 0.0 ? h + 360.0 : h;
}

double labChroma(const Rgb& lab) {
    return std::hypot(lab[1], lab[2]);
}

double deltaE2000(const Rgb& lab1, const Rgb& lab2) {
    constexpr double kDeg = 3.14159265358979323846 / 180.0;
    const double c1 = std::hypot(lab1[1], lab1[2]);
    const double c2 = std::hypot(lab2[1], lab2[2]);
    const double cMean7 = std::pow((c1 + c2) / 2.0, 7.0);
    const double g = 0.5 * (1.0 - std::sqrt(cMean7 / (cMean7 + 6103515625.0)));  // 25^7
    const double a1 = lab1[1] * (1.0 + g);
    const double a2 = lab2[1] * (1.0 + g);
    const double cp1 = std::hypot(a1, lab1[2]);
    const double cp2 = std::hypot(a2, lab2[2]);
    const auto hueOf = [](double b, double a) {
        if (a == 0.0 && b == 0.0) {
            return 0.0;
        }
        const double h = std::atan2(b, a) / kDeg;
        return h < 0.0 ? h + 360.0 : h;
    };
    const double hp1 = hueOf(lab1[2], a1);
    const double hp2 = hueOf(lab2[2], a2);
    const double dL = lab2[0] - lab1[0];
    const double dC = cp2 - cp1;
    double dh = 0.0;
    double hMean = hp1 + hp2;
    if (cp1 * cp2 != 0.0) {
        dh = hp2 - hp1;
        if (dh > 180.0) {
            dh -= 360.0;
        } else if (dh < -180.0) {
            dh += 360.0;
        }
        if (std::abs(hp1 - hp2) <= 180.0) {
            hMean = (hp1 + hp2) / 2.0;
        } else {
            hMean = (hp1 + hp2 + (hp1 + hp2 < 360.0 ? 360.0 : -360.0)) / 2.0;
        }
    }
    const double dH = 2.0 * std::sqrt(cp1 * cp2) * std::sin(dh * kDeg / 2.0);
    const double lMean = (lab1[0] + lab2[0]) / 2.0;
    const double cpMean = (cp1 + cp2) / 2.0;
    const double t =
        1.0 - 0.17 * std::cos((hMean - 30.0) * kDeg) + 0.24 * std::cos(2.0 * hMean * kDeg) +
        0.32 * std::cos((3.0 * hMean + 6.0) * kDeg) - 0.20 * std::cos((4.0 * hMean - 63.0) * kDeg);
    const double l50 = (lMean - 50.0) * (lMean - 50.0);
    const double sl = 1.0 + 0.015 * l50 / std::sqrt(20.0 + l50);
    const double sc = 1.0 + 0.045 * cpMean;
    const double sh = 1.0 + 0.015 * cpMean * t;
    const double cp7 = std::pow(cpMean, 7.0);
    const double rc = 2.0 * std::sqrt(cp7 / (cp7 + 6103515625.0));
    const double dTheta = 30.0 * std::exp(-((hMean - 275.0) / 25.0) * ((hMean - 275.0) / 25.0));
    const double rt = -std::sin(2.0 * dTheta * kDeg) * rc;
    const double l = dL / sl;
    const double c = dC / sc;
    const double h = dH / sh;
    return std::sqrt(l * l + c * c + h * h + rt * c * h);
}

double hueDifference(double a, double b) {
    double d = std::fmod(a - b, 360.0);
    if (d > 180.0) {
        d -= 360.0;
    } else if (d <= -180.0) {
        d += 360.0;
    }
    return d;
}

Rgb displayCodeToXyz(const Rgb& code) {
    const Rgb light{displayDecode(code[0]), displayDecode(code[1]), displayDecode(code[2])};
    return mul(rgbToXyz(Gamut::Rec709), light);
}

Rgb displayCodeToLab(const Rgb& code) {
    return xyzToLab(displayCodeToXyz(code));
}

double chromaticityHue(const Rgb& xyz) {
    const auto uv = [](const Rgb& c, double& u, double& v) {
        const double d = c[0] + 15.0 * c[1] + 3.0 * c[2];
        u = d > 0.0 ? 4.0 * c[0] / d : 0.0;
        v = d > 0.0 ? 9.0 * c[1] / d : 0.0;
        return d > 0.0;
    };
    double u = 0;
    double v = 0;
    double uw = 0;
    double vw = 0;
    uv(kD65White, uw, vw);
    if (!uv(xyz, u, v)) {
        return 0.0;
    }
    const double h = std::atan2(v - vw, u - uw) * 180.0 / 3.14159265358979323846;
    return h < 0.0 ? h + 360.0 : h;
}

}  // namespace vd::colour
