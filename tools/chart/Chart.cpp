#include "chart/Chart.h"

#include <algorithm>
#include <cmath>

namespace vd::chart {
namespace {

using colour::Gamut;
using colour::Rgb;
using colour::operator*;
using colour::operator+;

struct LabPatch {
    const char* name;
    double l, a, b;
};

// The classic 24-patch colour checker, published D50 L*a*b* references (edition after
// November 2014), in reading order.
constexpr LabPatch kChecker[24] = {
    {"dark skin", 37.54, 14.37, 14.92},     {"light skin", 64.66, 19.27, 17.50},
    {"blue sky", 49.32, -3.82, -22.54},     {"foliage", 43.46, -12.74, 22.72},
    {"blue flower", 54.94, 9.61, -24.79},   {"bluish green", 70.48, -32.26, -0.37},
    {"orange", 62.73, 35.83, 56.50},        {"purplish blue", 39.43, 10.75, -45.17},
    {"moderate red", 50.57, 48.64, 16.67},  {"purple", 30.10, 22.54, -20.87},
    {"yellow green", 71.77, -24.13, 58.19}, {"orange yellow", 71.51, 18.24, 67.37},
    {"blue", 28.37, 15.42, -49.80},         {"green", 54.38, -39.72, 32.27},
    {"red", 42.43, 51.05, 28.62},           {"yellow", 81.80, 2.67, 80.41},
    {"magenta", 50.63, 51.28, -14.12},      {"cyan", 49.57, -29.71, -28.32},
    {"white 9.5", 95.19, -1.03, 2.93},      {"neutral 8", 81.29, -0.57, 0.44},
    {"neutral 6.5", 66.89, -0.75, -0.06},   {"neutral 5", 50.76, -0.13, 0.14},
    {"neutral 3.5", 35.63, -0.46, -0.48},   {"black 2", 20.64, 0.07, -0.46},
};

// Skin tones across complexions, D65 L*a*b*, from very fair to deep.
constexpr LabPatch kSkin[8] = {
    {"skin very fair", 74.0, 9.0, 14.0}, {"skin fair", 66.0, 12.0, 17.0},
    {"skin medium", 57.0, 13.0, 21.0},   {"skin olive", 52.0, 9.0, 23.0},
    {"skin tan", 46.0, 15.0, 24.0},      {"skin brown", 37.0, 14.0, 20.0},
    {"skin dark", 29.0, 11.0, 15.0},     {"skin deep", 22.0, 8.0, 10.0},
};

constexpr double kBackground = 0.04;
constexpr double kPi = 3.14159265358979323846;
constexpr double kSpecularSurround = 0.004;
constexpr int kSpecularRadius = 11;

Rgb xyzToScene(const Rgb& xyz) {
    return colour::mul(colour::inverse(colour::rgbToXyz(Gamut::Rec2020)), xyz);
}

// Fully saturated Rec.2020 colour of a hue (0..360, red 0, yellow 60, green 120, ...).
Rgb hueColour(double hue) {
    const double h = std::fmod(hue, 360.0) / 60.0;
    const double x = 1.0 - std::abs(std::fmod(h, 2.0) - 1.0);
    switch (static_cast<int>(h)) {
        case 0:
            return {1, x, 0};
        case 1:
            return {x, 1, 0};
        case 2:
            return {0, 1, x};
        case 3:
            return {0, x, 1};
        case 4:
            return {x, 0, 1};
        default:
            return {1, 0, x};
    }
}

// Lays out cols x rows cells in a box with gaps between them; cell i in reading order.
Region cell(int x0, int y0, int x1, int y1, int cols, int rows, int gap, int i) {
    const int w = (x1 - x0 - gap * (cols - 1)) / cols;
    const int h = (y1 - y0 - gap * (rows - 1)) / rows;
    const int cx = x0 + (i % cols) * (w + gap);
    const int cy = y0 + (i / cols) * (h + gap);
    return {"", RegionKind::Checker, cx, cy, cx + w, cy + h, {0, 0, 0}};
}

std::vector<Region> buildRegions() {
    std::vector<Region> out;
    // Top band: the checker, a landscape (sky with the sun over foliage), a lit face and the
    // skin tones.
    for (int i = 0; i < 24; ++i) {
        Region r = cell(10, 10, 600, 290, 6, 4, 8, i);
        r.name = kChecker[i].name;
        r.scene = xyzToScene(colour::labD50ToXyzD65({kChecker[i].l, kChecker[i].a, kChecker[i].b}));
        out.push_back(r);
    }
    out.push_back({"sky", RegionKind::Scene, 610, 10, 1250, 190, {0, 0, 0}});
    out.push_back({"foliage field", RegionKind::Scene, 610, 190, 1250, 290, {0, 0, 0}});
    out.push_back({"face", RegionKind::Scene, 1260, 10, 1520, 290, {0, 0, 0}});
    for (int i = 0; i < 8; ++i) {
        Region r = cell(1530, 10, 1910, 290, 2, 4, 8, i);
        r.name = kSkin[i].name;
        r.kind = RegionKind::Skin;
        r.scene = xyzToScene(colour::labToXyz({kSkin[i].l, kSkin[i].a, kSkin[i].b}));
        out.push_back(r);
    }
    // Hue across, exposure down (-3 to +4 stops), at a strong but ordinary saturation.
    out.push_back({"hue exposure field", RegionKind::Ramp, 10, 300, 1910, 540, {0, 0, 0}});
    // Full Rec.2020 saturation (top) to half (bottom) at three exposures.
    out.push_back({"hue sweep -2", RegionKind::Ramp, 10, 550, 1910, 614, {0, 0, 0}});
    out.push_back({"hue sweep 0", RegionKind::Ramp, 10, 620, 1910, 684, {0, 0, 0}});
    out.push_back({"hue sweep +2", RegionKind::Ramp, 10, 690, 1910, 754, {0, 0, 0}});
    out.push_back({"neutral ramp", RegionKind::Ramp, 10, 764, 1910, 828, {0, 0, 0}});
    out.push_back({"shadow ramp", RegionKind::Ramp, 10, 834, 955, 898, {0, 0, 0}});
    out.push_back({"sunset", RegionKind::Ramp, 965, 834, 1910, 898, {0, 0, 0}});
    for (int i = 0; i < 16; ++i) {
        Region r = cell(10, 908, 1910, 968, 16, 1, 8, i);
        r.kind = RegionKind::NeutralStep;
        if (i == 0) {
            r.name = "black";
            r.scene = {0, 0, 0};
        } else {
            const int stop = i - 7;
            r.name = "grey " + std::string(stop > 0 ? "+" : "") + std::to_string(stop);
            const double v = 0.18 * std::exp2(stop);
            r.scene = {v, v, v};
        }
        out.push_back(r);
    }
    // Two rows of twelve hues at the Rec.2020 boundary, a dim and a bright one.
    for (int i = 0; i < 24; ++i) {
        Region r = cell(10, 978, 1150, 1070, 12, 2, 8, i);
        const double hue = 30.0 * (i % 12);
        const double level = i < 12 ? 0.12 : 0.45;
        r.name =
            "saturated " + std::to_string(static_cast<int>(hue)) + (i < 12 ? " dim" : " bright");
        r.kind = RegionKind::Saturated;
        r.scene = hueColour(hue) * level;
        out.push_back(r);
    }
    out.push_back({"specular surround", RegionKind::Ramp, 1160, 978, 1910, 1070, {0, 0, 0}});
    const Rgb lights[7] = {{4, 4, 4},   {8, 8, 8},   {16, 16, 16}, {46, 46, 46},
                           {30, 16, 6}, {6, 12, 30}, {20, 5, 4}};
    const char* lightNames[7] = {"light 4",    "light 8",    "light 16", "light 46",
                                 "light warm", "light cool", "light red"};
    for (int i = 0; i < 7; ++i) {
        const int cx = 1160 + (i * 2 + 1) * (750 / 14);
        const int cy = 1024;
        out.push_back({lightNames[i], RegionKind::Specular, cx - kSpecularRadius - 1,
                       cy - kSpecularRadius - 1, cx + kSpecularRadius + 2, cy + kSpecularRadius + 2,
                       lights[i]});
    }
    return out;
}

double smooth(double t) {
    t = std::clamp(t, 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

Rgb mix(const Rgb& a, const Rgb& b, double t) {
    return a * (1.0 - t) + b * t;
}

// The scene value of a pixel centre inside a ramp region.
Rgb rampValue(const Region& r, double u, double v) {
    if (r.name == "neutral ramp") {
        // Pure black for the first 4%, then -10 to +8 stops around 18% grey.
        if (u < 0.04) {
            return {0, 0, 0};
        }
        const double y = 0.18 * std::exp2(-10.0 + 18.0 * (u - 0.04) / 0.96);
        return {y, y, y};
    }
    if (r.name == "shadow ramp") {
        const double y = 0.05 * u;
        return {y, y, y};
    }
    if (r.name.rfind("hue sweep", 0) == 0) {
        // Full Rec.2020 saturation at the top, half at the bottom, at a luminance near mid
        // grey shifted by the sweep's exposure.
        const double stops = std::stod(r.name.substr(10));
        const Rgb c = hueColour(360.0 * u);
        const Rgb mixed = mix(c, Rgb{1, 1, 1}, 0.5 * v);
        const double y = colour::luminance(mixed, Gamut::Rec2020);
        return mixed * (0.25 * std::exp2(stops) / std::max(y, 1e-6));
    }
    if (r.name == "hue exposure field") {
        // Eight bands a stop apart, -3 at the top to +4 at the bottom; in each, a ring of
        // hues around grey with every channel within 60% of the band's level.
        const double stops = -3.0 + std::floor(v * 8.0);
        const double level = 0.18 * std::exp2(stops);
        const double h = 2.0 * kPi * u;
        return {level * (1.0 + 0.6 * std::cos(h)),
                level * (1.0 + 0.6 * std::cos(h - 2.0 * kPi / 3.0)),
                level * (1.0 + 0.6 * std::cos(h + 2.0 * kPi / 3.0))};
    }
    if (r.name == "sky") {
        // Deep blue at the zenith paling to the horizon, and the sun with its glow.
        const Rgb horizon{0.42, 0.50, 0.62};
        Rgb c = mix(kClearSky, horizon, smooth(v));
        const double dx = (u - 0.78) * (r.x1 - r.x0);
        const double dy = (v - 0.35) * (r.y1 - r.y0);
        const double d = std::hypot(dx, dy);
        c = c + Rgb{1.6, 1.3, 0.9} * std::exp(-d / 22.0);
        if (d < 16.0) {
            c = mix(c, Rgb{60, 56, 48}, std::clamp(16.5 - d, 0.0, 1.0));
        }
        return c;
    }
    if (r.name == "foliage field") {
        // Leaves in sun and shade: a smooth pattern mixing sunlit and deep foliage at levels
        // from deep shade to bright sun.
        const double x = u * (r.x1 - r.x0);
        const double y = v * (r.y1 - r.y0);
        const double leaf = 0.5 + 0.5 * std::sin(0.21 * x + 2.0 * std::sin(0.13 * y)) *
                                      std::sin(0.17 * y + 1.5 * std::sin(0.07 * x));
        const double light = 0.15 + 1.6 * leaf * (1.0 - 0.5 * v);
        const Rgb deep{0.03, 0.075, 0.035};
        return mix(deep, kSunlitFoliage, leaf) * light;
    }
    if (r.name == "face") {
        // An oval lit from the upper left: skin from a bright cheek into soft shadow, on a
        // dark backdrop.
        const double nx = (u - 0.5) / 0.36;
        const double ny = (v - 0.5) / 0.44;
        const double rr = nx * nx + ny * ny;
        if (rr >= 1.0) {
            return {0.03, 0.028, 0.026};
        }
        const double nz = std::sqrt(1.0 - rr);
        const double lambert = std::max(0.0, (-0.55 * nx - 0.35 * ny + 0.76 * nz));
        const double edge = std::clamp((1.0 - rr) * 20.0, 0.0, 1.0);
        const Rgb skin = kLitSkin * (0.08 + 1.25 * lambert);
        return mix(Rgb{0.03, 0.028, 0.026}, skin, edge);
    }
    if (r.name == "sunset") {
        const Rgb top{0.10, 0.04, 0.16};
        const Rgb middle{0.90, 0.32, 0.08};
        const Rgb horizon{2.2, 1.4, 0.45};
        return v < 0.6 ? mix(top, middle, smooth(v / 0.6))
                       : mix(middle, horizon, smooth((v - 0.6) / 0.4));
    }
    return {kSpecularSurround, kSpecularSurround, kSpecularSurround};
}

// Maps a linear Rec.709 colour with a negative component onto the gamut boundary by mixing
// it towards its own luminance, which keeps luminance and hue.
Rgb intoRec709(const Rgb& rgb) {
    const double y = std::max(colour::luminance(rgb, Gamut::Rec709), 0.0);
    const double lowest = std::min({rgb[0], rgb[1], rgb[2]});
    if (lowest >= 0.0) {
        return rgb;
    }
    const double t = y / (y - lowest);  // fraction of chroma that keeps the lowest at 0
    return {std::max(0.0, y + (rgb[0] - y) * t), std::max(0.0, y + (rgb[1] - y) * t),
            std::max(0.0, y + (rgb[2] - y) * t)};
}

}  // namespace

const std::vector<Region>& chartRegions() {
    static const std::vector<Region> regions = buildRegions();
    return regions;
}

const Region* findRegion(const std::string& name) {
    for (const Region& r : chartRegions()) {
        if (r.name == name) {
            return &r;
        }
    }
    return nullptr;
}

std::vector<const Region*> regionsOfKind(RegionKind kind) {
    std::vector<const Region*> out;
    for (const Region& r : chartRegions()) {
        if (r.kind == kind) {
            out.push_back(&r);
        }
    }
    return out;
}

Image sceneChart() {
    Image img;
    img.width = kChartWidth;
    img.height = kChartHeight;
    img.pixels.assign(static_cast<size_t>(kChartWidth) * kChartHeight * 3,
                      static_cast<float>(kBackground));
    auto put = [&](int x, int y, const Rgb& c) {
        float* p = &img.pixels[(static_cast<size_t>(y) * kChartWidth + x) * 3];
        for (int k = 0; k < 3; ++k) {
            p[k] = static_cast<float>(c[k]);
        }
    };
    for (const Region& r : chartRegions()) {
        const double w = r.x1 - r.x0;
        const double h = r.y1 - r.y0;
        for (int y = r.y0; y < r.y1; ++y) {
            for (int x = r.x0; x < r.x1; ++x) {
                if (r.kind == RegionKind::Ramp || r.kind == RegionKind::Scene) {
                    put(x, y, rampValue(r, (x - r.x0 + 0.5) / w, (y - r.y0 + 0.5) / h));
                } else if (r.kind == RegionKind::Specular) {
                    // A disc with a one-pixel soft edge over the dark surround.
                    const double cx = (r.x0 + r.x1) / 2.0;
                    const double cy = (r.y0 + r.y1) / 2.0;
                    const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
                    const double cover = std::clamp(kSpecularRadius + 0.5 - d, 0.0, 1.0);
                    const Rgb bg{kSpecularSurround, kSpecularSurround, kSpecularSurround};
                    put(x, y, mix(bg, r.scene, cover));
                } else {
                    put(x, y, r.scene);
                }
            }
        }
    }
    return img;
}

Rgb encodeScene(const Rgb& scene2020, colour::Encoding encoding) {
    static const colour::Mat3 toCamera[3] = {
        colour::gamutMatrix(Gamut::Rec2020, colour::cameraGamut(colour::Encoding::AppleLog)),
        colour::gamutMatrix(Gamut::Rec2020, colour::cameraGamut(colour::Encoding::Rec709)),
        colour::gamutMatrix(Gamut::Rec2020, colour::cameraGamut(colour::Encoding::DLog))};
    Rgb camera = colour::mul(toCamera[static_cast<int>(encoding)], scene2020);
    if (encoding == colour::Encoding::Rec709) {
        camera = intoRec709(camera);
    }
    Rgb code{};
    for (int k = 0; k < 3; ++k) {
        code[k] = std::clamp(colour::encodeCurve(camera[k], encoding), 0.0, 1.0);
    }
    return code;
}

Image encodedChart(colour::Encoding encoding) {
    Image img = sceneChart();
    for (size_t i = 0; i < img.pixels.size(); i += 3) {
        const Rgb code =
            encodeScene({img.pixels[i], img.pixels[i + 1], img.pixels[i + 2]}, encoding);
        for (int k = 0; k < 3; ++k) {
            img.pixels[i + static_cast<size_t>(k)] = static_cast<float>(code[k]);
        }
    }
    return img;
}

}  // namespace vd::chart
