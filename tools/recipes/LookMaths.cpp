// The look maths: from a recipe and an input code to a display code.
#include <algorithm>
#include <cmath>
#include <thread>

#include "looks/Catalogue.h"
#include "recipes/Recipes.h"

namespace vd::recipes {
namespace {

using colour::Encoding;
using colour::Gamut;

constexpr double kPi = 3.14159265358979323846;
constexpr double kSqrt3 = 1.7320508075688772;
constexpr double kGrey = 0.18;

// Where the distance-based gamut compression starts (a channel's distance from the largest
// channel, 0 to 1 inside the gamut). On entry the camera's gamut may be wider than the
// working one, and noise below black gives negative channels: only the edge moves. Into
// the display gamut from Rec.2020, compression starts at a channel of 20% of the largest,
// which leaves room for a gentle roll-in; video looks start from colours that are already
// inside, so only what a grade pushes to the edge moves (an earlier start would bend the
// hue of ordinary saturated colours such as darker skin).
constexpr double kEntryThreshold = 0.9;
constexpr double kLogDisplayThreshold = 0.8;
constexpr double kVideoDisplayThreshold = 0.95;
// Offset of the density (log) domain used for crosstalk; keeps blacks finite.
constexpr double kDensityOffset = 0.004;

double smoothstep(double e0, double e1, double x) {
    const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// Chroma plane coordinates: a along red, b along green minus blue. Hue 0 is red, 60 yellow,
// 120 green, 180 cyan, 240 blue, 300 magenta. The mean of the channels is untouched.
struct Chroma {
    double mean, a, b;
};

Chroma toChroma(const Rgb& c) {
    return {(c[0] + c[1] + c[2]) / 3.0, (2.0 * c[0] - c[1] - c[2]) / 2.0,
            (kSqrt3 / 2.0) * (c[1] - c[2])};
}

Rgb fromChroma(const Chroma& c) {
    return {c.mean + 2.0 * c.a / 3.0, c.mean - c.a / 3.0 + c.b / kSqrt3,
            c.mean - c.a / 3.0 - c.b / kSqrt3};
}

// A zero-mean colour direction of unit chroma for a hue in degrees.
Rgb tintDirection(double hue) {
    const double h = hue * kPi / 180.0;
    return fromChroma({0.0, std::cos(h), std::sin(h)});
}

// Hue bands: turn and scale the chroma of hues near each band's centre. Works on ratios,
// so it is independent of exposure; neutral colours have no chroma and stay neutral.
Rgb applyHueBands(const Recipe& r, const Rgb& rgb) {
    Chroma c = toChroma(rgb);
    const double chroma = std::hypot(c.a, c.b);
    if (chroma <= 0.0) {
        return rgb;
    }
    const double hue = std::atan2(c.b, c.a) * 180.0 / kPi;
    double shift = 0.0;
    double gain = 1.0;
    for (const HueBand& band : r.bands) {
        if (band.width <= 0.0) {
            continue;
        }
        const double d = std::abs(colour::hueDifference(hue, band.centre));
        if (d >= band.width) {
            continue;
        }
        const double w = 0.5 * (1.0 + std::cos(kPi * d / band.width));
        shift += w * band.shift;
        gain *= 1.0 + w * (band.gain - 1.0);
    }
    const double h = (hue + shift) * kPi / 180.0;
    c.a = chroma * gain * std::cos(h);
    c.b = chroma * gain * std::sin(h);
    return fromChroma(c);
}

// Saturation around luminance, scaled by a factor that moves from the shadow to the
// highlight factor with the colour's level (in stops around grey).
Rgb applySaturation(const Recipe& r, const Rgb& rgb, const Rgb& luma, double grey) {
    const double y = luma[0] * rgb[0] + luma[1] * rgb[1] + luma[2] * rgb[2];
    const double stops = std::log2(std::max(y, 1e-6) / grey);
    const double t = smoothstep(-4.0, 3.0, stops);
    const double sat = r.saturation * (r.shadowSaturation * (1.0 - t) + r.highlightSaturation * t);
    return {y + (rgb[0] - y) * sat, y + (rgb[1] - y) * sat, y + (rgb[2] - y) * sat};
}

// The density domain: log2 above zero, continued as a straight line (same slope) below, so
// that it is smooth and invertible for every real input.
double toDensity(double x) {
    if (x >= 0.0) {
        return std::log2(x + kDensityOffset);
    }
    return std::log2(kDensityOffset) + x / (kDensityOffset * std::log(2.0));
}

double fromDensity(double d) {
    const double base = std::log2(kDensityOffset);
    if (d >= base) {
        return std::exp2(d) - kDensityOffset;
    }
    return (d - base) * kDensityOffset * std::log(2.0);
}

// Print-like crosstalk between the dye layers, as a matrix on densities whose rows sum to
// one, so neutral colours are unchanged. `crosstalk` pushes each channel away from the
// others (deeper separation); `twist` feeds each channel from its neighbour, turning hues.
Rgb applyCrosstalk(const Recipe& r, const Rgb& rgb) {
    if (r.crosstalk == 0.0 && r.twist == 0.0) {
        return rgb;
    }
    const Rgb d{toDensity(rgb[0]), toDensity(rgb[1]), toDensity(rgb[2])};
    const double k = r.crosstalk / 2.0;
    const double t = r.twist;
    Rgb out{};
    for (int i = 0; i < 3; ++i) {
        const int next = (i + 1) % 3;
        const int prev = (i + 2) % 3;
        const double v = d[i] * (1.0 + 2.0 * k) - k * (d[next] + d[prev]) + t * (d[next] - d[prev]);
        out[i] = fromDensity(v);
    }
    return out;
}

// Pulls colours that lie outside the display gamut (a channel below zero) back inside, by
// compressing each channel's distance from the largest channel. Distances below the
// threshold are untouched; above it they approach 1 (a channel at zero) without reaching
// it, with a slope that never falls to zero, so distinct colours stay distinct.
Rgb compressGamut(const Rgb& rgb, double threshold) {
    const double top = std::max({rgb[0], rgb[1], rgb[2]});
    if (!(top > 0.0)) {
        return {0.0, 0.0, 0.0};
    }
    const double room = 1.0 - threshold;
    Rgb out{};
    for (int k = 0; k < 3; ++k) {
        double d = (top - rgb[k]) / top;
        if (d > threshold) {
            const double x = d - threshold;
            d = threshold + x / (1.0 + x / room);
        }
        out[k] = top * (1.0 - d);
    }
    return out;
}

// The filmic curve before solving: scene-linear to display light. A rational sigmoid in
// the scene value (asymptotic to 1, so highlights roll off and never clip), then a toe that
// bends the darkest tones gently into black.
double rawCurve(double x, double scale, double contrast, double toe) {
    if (!(x > 0.0)) {
        return 0.0;
    }
    const double p = std::pow(x / scale, contrast);
    const double y = p / (1.0 + p);
    return y * y / (y + toe);
}

// S-curve around a pivot in code values, C1 at the pivot, flat at 0 and 1: steeper mid-tones
// without clipping either end.
double sCurve(double c, double pivot, double k) {
    if (k == 1.0) {
        return c;
    }
    c = std::clamp(c, 0.0, 1.0);
    if (c < pivot) {
        return pivot * std::pow(c / pivot, k);
    }
    return 1.0 - (1.0 - pivot) * std::pow((1.0 - c) / (1.0 - pivot), k);
}

// Values pushed towards or above 1 roll off smoothly instead of clipping: above the knee
// the range bends into an exponential approach to 1, with matching slope at the knee.
double softTop(double x, double knee) {
    if (x <= knee) {
        return x;
    }
    return knee + (1.0 - knee) * (1.0 - std::exp(-(x - knee) / (1.0 - knee)));
}

double codeLuma(const Rgb& c) {
    return 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
}

// The level that a hue-preserving curve is applied to: luminance for colours near neutral,
// moving to the largest channel as saturation grows. Luminance keeps the neutral axis
// monotonic when one channel rises (with the largest channel alone, a brighter red would
// dim green and blue in the shoulder and the lattice would zigzag along grey); the largest
// channel keeps saturated colours from overshooting white.
double toneNorm(const Rgb& c) {
    const double top = std::max({c[0], c[1], c[2]});
    if (!(top > 0.0)) {
        return 0.0;
    }
    const double low = std::max(std::min({c[0], c[1], c[2]}), 0.0);
    const double s = (top - low) / top;
    const double y = std::max(codeLuma(c), 0.0);
    return y + (top - y) * s * s;
}

// The toned colour turned back to the hue of the colour before toning, keeping its level
// and chroma: toning each channel separately pulls bright colours towards white as film
// does, but would also turn them (orange to yellow, sky to cyan) by an amount that depends
// on exposure. The chroma is limited so that no channel falls below zero.
Rgb keepHue(const Rgb& toned, const Rgb& before) {
    const Chroma t = toChroma(toned);
    const Chroma b = toChroma(before);
    const double chroma = std::hypot(t.a, t.b);
    const double direction = std::hypot(b.a, b.b);
    if (!(chroma > 0.0) || !(direction > 0.0) || !(t.mean > 0.0)) {
        return toned;
    }
    Chroma out{t.mean, b.a / direction, b.b / direction};
    // A unit chroma direction lowers its lowest channel by at most 2/3.
    const Rgb unit = fromChroma({0.0, out.a, out.b});
    const double lowest = std::min({unit[0], unit[1], unit[2]});
    const double room = lowest < 0.0 ? t.mean / -lowest : chroma;
    const double c = std::min(chroma, room);
    out.a *= c;
    out.b *= c;
    return fromChroma(out);
}

// How much a display code reads as skin: hues near the skin direction with some
// saturation, at any level (dark skin counts as much as fair skin).
double skinWeight(const Rgb& c) {
    const Chroma q = toChroma(c);
    const double chroma = std::hypot(q.a, q.b);
    if (!(chroma > 0.0)) {
        return 0.0;
    }
    constexpr double kSkinCode = 30.0;  // hue of skin in display code
    constexpr double kWidth = 55.0;
    const double d = std::abs(colour::hueDifference(std::atan2(q.b, q.a) * 180.0 / kPi, kSkinCode));
    if (d >= kWidth) {
        return 0.0;
    }
    const double band = 0.5 * (1.0 + std::cos(kPi * d / kWidth));
    // Saturation against a floor, so that the weight settles smoothly towards black.
    return band * smoothstep(0.02, 0.15, chroma / (q.mean + 0.05));
}

// Display-side finish in code values.
Rgb finish(const PreparedLook& look, Rgb c, double pivot) {
    const Recipe& r = look.recipe;
    if (r.bleach > 0.0) {
        // Retained silver: a contrasty monochrome layer laid over a washed-out colour one.
        const double y = codeLuma(c);
        const double silver = sCurve(y, pivot, 1.0 + 0.9 * r.bleach);
        for (int k = 0; k < 3; ++k) {
            const double washed = y + (c[k] - y) * (1.0 - 0.55 * r.bleach);
            c[k] = washed + (silver - y) * r.bleach;
        }
    }
    if (r.displayContrast != 1.0) {
        // Curve the level and scale the channels with it: contrast without a hue shift.
        const double level = toneNorm(c);
        if (level > 0.0) {
            const Rgb scaled = c * (sCurve(level, pivot, r.displayContrast) / level);
            Rgb top{};
            for (int k = 0; k < 3; ++k) {
                top[k] = softTop(scaled[k], 0.95);
            }
            c = keepHue(top, scaled);
        }
    }
    if (r.shadowTint.amount != 0.0 || r.highlightTint.amount != 0.0 || r.midTint.amount != 0.0) {
        // Split toning leaves the grey code itself untouched: the shadow tint peaks half way
        // down to black, the highlight tint grows from grey to white. The mid tint colours
        // the whole range (zero only at black and white).
        const double y = std::clamp(codeLuma(c), 0.0, 1.0);
        const double below = std::clamp(y / pivot, 0.0, 1.0);
        const double above = std::clamp((y - pivot) / (1.0 - pivot), 0.0, 1.0);
        const double spare = 1.0 - r.skinGuard * skinWeight(c);
        const double ws = (y < pivot ? 4.0 * below * (1.0 - below) : 0.0) * spare;
        const double wh = above * above * spare;
        const double wm = 4.0 * y * (1.0 - y);
        const Rgb ds = tintDirection(r.shadowTint.hue);
        const Rgb dh = tintDirection(r.highlightTint.hue);
        const Rgb dm = tintDirection(r.midTint.hue);
        for (int k = 0; k < 3; ++k) {
            c[k] += ds[k] * r.shadowTint.amount * ws + dh[k] * r.highlightTint.amount * wh +
                    dm[k] * r.midTint.amount * wm;
        }
    }
    if (r.fade > 0.0 || r.whitePoint != 1.0) {
        // Lifting each channel alone would also turn hues (the lowest channel rises most),
        // so the lifted colour keeps the hue it had.
        Rgb lifted{};
        for (int k = 0; k < 3; ++k) {
            const double v = std::clamp(c[k], 0.0, 1.0);
            lifted[k] = (v + r.fade * (1.0 - v) * (1.0 - v)) * r.whitePoint;
        }
        c = keepHue(lifted, c);
    }
    for (int k = 0; k < 3; ++k) {
        c[k] = std::isfinite(c[k]) ? std::clamp(c[k], 0.0, 1.0) : 0.0;
    }
    return c;
}

Rgb whiteBalanceGains(const Recipe& r, const Rgb& luma) {
    Rgb g{std::exp2(0.12 * r.warmth + 0.04 * r.tint), std::exp2(-0.08 * r.tint),
          std::exp2(-0.12 * r.warmth + 0.04 * r.tint)};
    // Keep the luminance of white where it was.
    const double y = luma[0] * g[0] + luma[1] * g[1] + luma[2] * g[2];
    return g * (1.0 / y);
}

// The colour steps shared by both kinds of look, on linear light in the working gamut.
Rgb colourSteps(const PreparedLook& look, Rgb w) {
    const Recipe& r = look.recipe;
    for (int k = 0; k < 3; ++k) {
        w[k] *= look.gains[k];
    }
    if (r.mono > 0.0) {
        const Rgb& m = r.monoWeights;
        const double y = (m[0] * w[0] + m[1] * w[1] + m[2] * w[2]) / (m[0] + m[1] + m[2]);
        for (int k = 0; k < 3; ++k) {
            w[k] += (y - w[k]) * r.mono;
        }
    }
    w = applySaturation(r, w, look.workLuma, kGrey);
    return applyHueBands(r, w);
}

// Into the display gamut, then the print crosstalk, which needs positive values and may
// push a colour out again.
Rgb toDisplayGamut(const PreparedLook& look, const Rgb& w) {
    const double threshold =
        look.encoding == Encoding::Rec709 ? kVideoDisplayThreshold : kLogDisplayThreshold;
    const Rgb lin = compressGamut(colour::mul(look.workToDisplay, w), threshold);
    if (look.recipe.crosstalk == 0.0 && look.recipe.twist == 0.0) {
        return lin;
    }
    return compressGamut(applyCrosstalk(look.recipe, lin), threshold);
}

}  // namespace

PreparedLook prepareLook(const Recipe& recipe, colour::Encoding encoding) {
    PreparedLook look;
    look.recipe = recipe;
    look.encoding = encoding;
    // Log footage is graded in Rec.2020 and shown in Rec.709; video stays in Rec.709.
    const Gamut work = encoding == Encoding::Rec709 ? Gamut::Rec709 : Gamut::Rec2020;
    look.cameraToWork = colour::gamutMatrix(colour::cameraGamut(encoding), work);
    look.workToDisplay = colour::gamutMatrix(work, Gamut::Rec709);
    look.workLuma = colour::lumaWeights(work);
    look.gains = whiteBalanceGains(recipe, look.workLuma);
    if (encoding != Encoding::Rec709) {
        // Solve the curve's scale so that 18% grey lands on the recipe's grey code: the
        // curve falls as the scale grows, so bisect on its logarithm.
        const double target = colour::displayDecode(recipe.greyCode);
        double lo = std::log(0.01);
        double hi = std::log(100.0);
        for (int i = 0; i < 200; ++i) {
            const double mid = 0.5 * (lo + hi);
            if (rawCurve(kGrey, std::exp(mid), recipe.contrast, recipe.toe) > target) {
                lo = mid;
            } else {
                hi = mid;
            }
        }
        look.toneScale = std::exp(0.5 * (lo + hi));
    }
    return look;
}

double filmicCurve(const PreparedLook& look, double linear) {
    return rawCurve(linear, look.toneScale, look.recipe.contrast, look.recipe.toe);
}

Rgb applyLook(const PreparedLook& look, const Rgb& code) {
    const Recipe& r = look.recipe;
    Rgb in{};
    for (int k = 0; k < 3; ++k) {
        in[k] = std::isfinite(code[k]) ? std::clamp(code[k], 0.0, 1.0) : 0.0;
    }
    if (look.encoding == Encoding::Rec709) {
        // A finished video picture: work on display light, keep its tone scale, and let
        // only the creative steps act. Grey stays where the camera put it unless the
        // recipe moves it.
        Rgb light{colour::displayDecode(in[0]), colour::displayDecode(in[1]),
                  colour::displayDecode(in[2])};
        light = light * std::exp2(r.exposure);
        light = toDisplayGamut(look, colourSteps(look, light));
        Rgb top{};
        for (int k = 0; k < 3; ++k) {
            top[k] = softTop(light[k], 0.9);
        }
        top = keepHue(top, light);
        Rgb c{};
        for (int k = 0; k < 3; ++k) {
            c[k] = colour::displayEncode(top[k]);
        }
        return finish(look, c, colour::encodeCurve(kGrey, Encoding::Rec709));
    }
    Rgb scene{colour::decodeCurve(in[0], look.encoding), colour::decodeCurve(in[1], look.encoding),
              colour::decodeCurve(in[2], look.encoding)};
    Rgb w = compressGamut(colour::mul(look.cameraToWork, scene), kEntryThreshold);
    w = colourSteps(look, w * std::exp2(r.exposure));
    const Rgb lin = toDisplayGamut(look, w);
    // Tone: a blend of the curve applied to the colour's level with the ratios kept (hue
    // stays put) and the curve applied to each channel (highlights drift towards white as
    // on film). The brightest tones go fully per channel: in the flat top of the shoulder a
    // ratio-keeping curve would let a rising channel dim the others, and the neutral axis of
    // the lattice would zigzag.
    const double level = toneNorm(lin);
    Rgb light{};
    if (level > 0.0) {
        const double toned = filmicCurve(look, level);
        const double ratioScale = toned / level;
        const double perChannel =
            r.channelTone + (1.0 - r.channelTone) * smoothstep(0.5, 0.85, toned);
        for (int k = 0; k < 3; ++k) {
            const double kept = lin[k] * ratioScale;
            light[k] = kept + (filmicCurve(look, lin[k]) - kept) * perChannel;
        }
        light = keepHue(light, lin);
        for (int k = 0; k < 3; ++k) {
            light[k] = softTop(light[k], 0.95);
        }
    }
    Rgb c{colour::displayEncode(light[0]), colour::displayEncode(light[1]),
          colour::displayEncode(light[2])};
    return finish(look, c, r.greyCode);
}

std::vector<float> bakeLattice(const PreparedLook& look, int edge, int threads) {
    const size_t n = static_cast<size_t>(edge);
    std::vector<float> out(n * n * n * 3);
    auto slab = [&](int b0, int b1) {
        for (int b = b0; b < b1; ++b) {
            for (int g = 0; g < edge; ++g) {
                for (int r = 0; r < edge; ++r) {
                    const double s = 1.0 / (edge - 1);
                    const Rgb c = applyLook(look, {r * s, g * s, b * s});
                    float* p = &out[((static_cast<size_t>(b) * n + g) * n + r) * 3];
                    for (int k = 0; k < 3; ++k) {
                        p[k] = static_cast<float>(c[k]);
                    }
                }
            }
        }
    };
    threads = std::clamp(threads, 1, edge);
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) {
        pool.emplace_back(slab, edge * t / threads, edge * (t + 1) / threads);
    }
    slab(0, edge / threads);
    for (std::thread& t : pool) {
        t.join();
    }
    return out;
}

}  // namespace vd::recipes
