// Colour science for the build-time tools: RGB triples and 3x3 matrices, the primaries of
// the camera and display gamuts, the analytic camera curves, BT.1886 display coding and
// CIE L*a*b*.
//
// Owns: double-precision reference maths used to design looks, draw the test chart and
// check the results. Does not own: the per-pixel curve tables of the render path (the
// grading engine keeps its own) or anything that ships inside the plug-in.
#pragma once

#include <array>

#include "grade/CameraEncoding.h"

namespace vd::colour {

using Rgb = std::array<double, 3>;
using Mat3 = std::array<Rgb, 3>;  // rows

// The engine's and the catalogue's camera encodings.
using Encoding = CameraEncoding;

// The gamut a camera encoding records in: Rec.2020 for Apple Log, Rec.709 for video,
// D-Gamut for D-Log. All three share the D65 white point.
enum class Gamut { Rec709, Rec2020, DGamut };

Gamut cameraGamut(Encoding encoding);

Rgb operator+(const Rgb& a, const Rgb& b);
Rgb operator-(const Rgb& a, const Rgb& b);
Rgb operator*(const Rgb& a, double s);
Rgb mul(const Mat3& m, const Rgb& v);
Mat3 mul(const Mat3& a, const Mat3& b);
// Inverse of a non-singular matrix (the gamut matrices always are).
Mat3 inverse(const Mat3& m);

// RGB (linear, in the gamut's primaries) to CIE XYZ with Y = 1 for RGB white.
Mat3 rgbToXyz(Gamut gamut);
// Linear RGB from one gamut to another (same white point, so no adaptation).
Mat3 gamutMatrix(Gamut from, Gamut to);

// Luminance weights of a gamut (the Y row of its RGB to XYZ matrix).
Rgb lumaWeights(Gamut gamut);
inline double luminance(const Rgb& rgb, Gamut gamut) {
    const Rgb w = lumaWeights(gamut);
    return w[0] * rgb[0] + w[1] * rgb[1] + w[2] * rgb[2];
}

// The camera curves: code (0..1) to scene-linear and back. Non-finite input gives 0.
// Codes outside 0..1 follow the curve's formula (decode clamps code at 0 from below).
double decodeCurve(double code, Encoding encoding);
double encodeCurve(double linear, Encoding encoding);

// BT.1886 display with a zero black level: light = code^2.4. Negative input gives 0.
double displayDecode(double code);
double displayEncode(double light);

// CIE L*a*b* relative to D65 (Y of white = 1) and back.
Rgb xyzToLab(const Rgb& xyz);
Rgb labToXyz(const Rgb& lab);
// D50 L*a*b* (as colour references are published) to D65 XYZ through Bradford adaptation.
Rgb labD50ToXyzD65(const Rgb& lab);
// Hue angle in degrees (0..360) of an L*a*b* colour, and chroma.
double labHue(const Rgb& lab);
double labChroma(const Rgb& lab);
// CIEDE2000 colour difference between two L*a*b* colours (unit weights).
double deltaE2000(const Rgb& lab1, const Rgb& lab2);
// Smallest signed difference between two hue angles, in degrees (-180..180].
double hueDifference(double a, double b);

// Display code (BT.1886, Rec.709 primaries) to L*a*b*, and to XYZ.
Rgb displayCodeToLab(const Rgb& code);
Rgb displayCodeToXyz(const Rgb& code);

// Hue angle in degrees (0..360) of a colour's CIE 1976 u'v' chromaticity around the D65
// white. Unlike the L*a*b* hue it does not move when a colour only gets lighter or darker
// (L*a*b* bends near black, where its cube root turns linear). 0 for black.
double chromaticityHue(const Rgb& xyz);

}  // namespace vd::colour
