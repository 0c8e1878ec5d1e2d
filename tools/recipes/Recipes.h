// The recipes of the 58 looks that ship in the bundle, and the maths that turns a recipe
// into a 3D LUT.
//
// A log look takes the camera's code values (Apple Log in Rec.2020, or D-Log in D-Gamut) to
// a finished Rec.709 picture for a BT.1886 (gamma 2.4) display: decode to scene-linear
// light, balance and shape colour in a wide working gamut (Rec.2020), compress the gamut
// into Rec.709 instead of clipping, apply a filmic tone curve (soft toe, a shoulder that
// approaches white without ever clipping), then finish on the display side (split toning,
// fades, matte whites). A Rec.709 look (the iPhone Cinematic pack) starts from an already
// finished video picture and applies only the creative steps.
//
// Owns: the recipe table with each look's internal character name, the look maths and the
// lattice bake. Does not own: the catalogue (ids, labels, file names) or the file format.
#pragma once

#include <array>
#include <vector>

#include "colour/Colour.h"

namespace vd::recipes {

using colour::Rgb;
using colour::operator*;
using colour::operator+;
using colour::operator-;

// Lattice edge of the shipped looks.
constexpr int kShippedEdge = 65;

// A hue-selective change in the chroma plane: hues within `width` degrees of `centre`
// (0 red, 60 yellow, 120 green, 180 cyan, 240 blue, 300 magenta) turn by up to `shift`
// degrees and have their chroma scaled by up to `gain`, tapering smoothly to the band edge.
struct HueBand {
    double centre = 0;
    double width = 0;  // 0 = unused
    double shift = 0;
    double gain = 1;
};

// A display-side tint: a hue direction in the chroma plane and a strength in code values.
struct Tint {
    double hue = 0;
    double amount = 0;
};

struct Recipe {
    const char* name = "";  // internal character name
    // Named for an overall tint (warm, golden, cool, blue, green, sepia...): neutrals and
    // skin are tinted on purpose.
    bool toned = false;
    // A natural, print or portrait look: bright colours keep their hue whatever the exposure.
    bool natural = false;
    // Scene-referred colour (log looks: scene-linear Rec.2020; video looks: display light).
    double exposure = 0;  // stops, on top of the camera's normalisation
    double warmth = 0;    // + warmer, - cooler white balance
    double tint = 0;      // + magenta, - green
    double mono = 0;      // 1 = black and white
    Rgb monoWeights{0.2627, 0.6780, 0.0593};
    double saturation = 1;
    double shadowSaturation = 1;     // extra factor at deep shadows
    double highlightSaturation = 1;  // extra factor at bright highlights
    std::array<HueBand, 3> bands{};
    double crosstalk = 0;  // print-like density crosstalk: + deeper separation, - softer
    double twist = 0;      // crosstalk that turns hues (+ reds to orange, greens to cyan)
    // Tone (log looks only).
    double greyCode = 0.44;    // display code of the camera's 18% grey
    double contrast = 1.3;     // slope of the filmic curve around grey
    double toe = 0.004;        // softness of the toe, in display light
    double channelTone = 0.5;  // 0 keeps hue through the curve, 1 tones each channel (film-like)
    // Display-referred finish (display code values).
    double bleach = 0;           // bleach bypass: retained silver, desaturated and contrasty
    double displayContrast = 1;  // S-curve around the grey code (1 = none)
    Tint shadowTint;             // below the grey code only
    Tint highlightTint;          // above the grey code only
    Tint midTint;                // across the range, strongest in the mid-tones
    double skinGuard = 0.85;     // share of the shadow and highlight tints that skin is spared
    double fade = 0;             // lifts the blacks to this code, rolling into the mid-tones
    double whitePoint = 1;       // top of the output range (matte highlights below 1)
};

struct ShippedLook {
    int pack;    // catalogue pack, 1 to 5
    int number;  // option number in the pack's menu, from 1
    Recipe recipe;
};

// The 58 looks, pack by pack, in option order.
const std::vector<ShippedLook>& shippedLooks();
// The look of (pack, number), or null.
const ShippedLook* findShippedLook(int pack, int number);
// A recipe with its constants solved for one input encoding (curve scale, gains, ...).
struct PreparedLook {
    Recipe recipe;
    colour::Encoding encoding = colour::Encoding::Rec709;
    colour::Mat3 cameraToWork{};
    colour::Mat3 workToDisplay{};
    Rgb workLuma{};
    Rgb gains{1, 1, 1};
    double toneScale = 1;  // the curve's half-way point, solved so that grey lands right
};

PreparedLook prepareLook(const Recipe& recipe, colour::Encoding encoding);

// One input code (0..1 per channel) to display code (0..1). Total: any finite input gives
// finite output inside 0..1.
Rgb applyLook(const PreparedLook& look, const Rgb& code);

// The filmic curve alone: scene-linear (any value) to display light in [0, 1).
double filmicCurve(const PreparedLook& look, double linear);

// The look sampled on an edge^3 lattice over input codes 0..1: edge^3 RGB float triples,
// red fastest. Spreads the work over `threads` threads; the result does not depend on it.
std::vector<float> bakeLattice(const PreparedLook& look, int edge, int threads);

}  // namespace vd::recipes
