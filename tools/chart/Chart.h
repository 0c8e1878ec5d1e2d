// The built-in test chart: a synthetic 1920x1080 scene with the 24 patches of the classic
// colour checker (from its published D50 L*a*b* references), skin tones of eight
// complexions, scene-like content (a sky gradient with the sun, sunlit foliage, a face lit
// from one side), a hue by exposure field (hue across, -3 to +4 stops down), saturated hue
// sweeps at three exposures, a smooth neutral ramp from black to 8 stops over mid grey, a
// shadow ramp, a sunset gradient, stepped neutrals, colours beyond Rec.709 and small
// specular lights far above white. Gradients are at least 64 pixels tall, so that banding
// and creases show.
//
// Owns: the scene (linear light, Rec.2020 primaries, 18% grey = 0.18), its layout and the
// way a camera would record it in each encoding. Does not own: looks or image files.
#pragma once

#include <string>
#include <vector>

#include "colour/Colour.h"

namespace vd::chart {

constexpr int kChartWidth = 1920;
constexpr int kChartHeight = 1080;

enum class RegionKind {
    Checker,      // one of the 24 colour checker patches
    Skin,         // a skin tone patch
    Saturated,    // a colour outside Rec.709 (inside Rec.2020)
    NeutralStep,  // a flat neutral patch: pure black, then -6 to +8 stops around 0.18
    Specular,     // a small light far above diffuse white (bounding box of a disc)
    Ramp,         // a smooth gradient (neutral, shadows, hues by exposure, sunset)
    Scene,        // scene-like content: a sky with the sun, foliage, a lit face
};

struct Region {
    std::string name;
    RegionKind kind;
    int x0, y0, x1, y1;  // x1 and y1 exclusive
    // Scene-linear Rec.2020 value of a flat patch or of the light's core; zero for ramps.
    colour::Rgb scene;
};

// Every named region, in drawing order (later regions are drawn over earlier ones).
const std::vector<Region>& chartRegions();
// The region of that name, or null.
const Region* findRegion(const std::string& name);

// The 24 checker patches in reading order, and the eight skin tones, as scene values.
std::vector<const Region*> regionsOfKind(RegionKind kind);

// Scene colours of the chart's scene-like content (Rec.2020, linear) at the exposure it is
// drawn at: a clear sky at the zenith, sunlit foliage, a bright orange and lit skin. The
// look checks expose them from -3 to +3 stops.
constexpr colour::Rgb kClearSky{0.085, 0.19, 0.56};
constexpr colour::Rgb kSunlitFoliage{0.075, 0.13, 0.03};
constexpr colour::Rgb kBrightOrange{0.62, 0.22, 0.035};
constexpr colour::Rgb kLitSkin{0.52, 0.33, 0.23};

struct Image {
    int width = 0;
    int height = 0;
    std::vector<float> pixels;  // RGB, rows top to bottom
};

// The scene, linear light in Rec.2020 primaries.
Image sceneChart();

// How a camera records one scene colour: camera gamut, then the encoding's curve. Apple Log
// and D-Log keep values above diffuse white up to their code 1.0; Rec.709 video maps
// colours outside its gamut onto the gamut boundary (keeping luminance and hue) and clips
// at code 1.0. Codes lie in 0..1.
colour::Rgb encodeScene(const colour::Rgb& scene2020, colour::Encoding encoding);

// The whole chart as the camera records it.
Image encodedChart(colour::Encoding encoding);

}  // namespace vd::chart
