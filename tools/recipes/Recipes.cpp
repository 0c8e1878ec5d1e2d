// The recipe table. Each look is built from a character (natural, warm print, teal and
// orange, ...) written once and tuned per pack where the footage asks for it.
#include "recipes/Recipes.h"

namespace vd::recipes {
namespace {

// Hue angles in the chroma plane of the working gamut.
constexpr double kSkin = 28;
constexpr double kAmber = 40;
constexpr double kFoliage = 95;
constexpr double kGreen = 125;
constexpr double kCyan = 190;
constexpr double kSky = 215;
constexpr double kBlue = 240;

Recipe natural() {
    Recipe r;
    r.name = "natural";
    r.natural = true;
    r.greyCode = 0.44;
    r.contrast = 1.3;
    r.channelTone = 0.45;
    r.highlightSaturation = 0.9;
    return r;
}

Recipe softPortrait() {
    Recipe r = natural();
    r.name = "soft portrait";
    r.greyCode = 0.46;
    r.contrast = 1.1;
    r.saturation = 0.72;
    r.highlightSaturation = 0.6;
    r.bands[0] = {kSkin, 35, 0, 1.15};
    r.highlightTint = {kAmber, 0.07};
    r.fade = 0.02;
    return r;
}

Recipe warmPrint() {
    Recipe r;
    r.name = "warm print";
    r.toned = true;
    r.natural = true;
    r.warmth = 1.7;
    r.saturation = 0.72;
    r.crosstalk = 0.08;
    r.twist = 0.04;
    r.greyCode = 0.44;
    r.contrast = 1.6;
    r.channelTone = 0.85;
    r.highlightTint = {kAmber + 5, 0};
    r.fade = 0.07;
    return r;
}

Recipe filmPrint() {
    Recipe r;
    r.name = "film print";
    r.natural = true;
    r.saturation = 0.98;
    r.crosstalk = 0.24;
    r.twist = 0.03;
    r.greyCode = 0.42;
    r.contrast = 1.48;
    r.toe = 0.006;
    r.channelTone = 0.95;
    r.shadowTint = {kCyan, 0.012};
    r.highlightTint = {kAmber, 0.012};
    r.fade = 0.015;
    r.whitePoint = 0.98;
    r.bands[0] = {kSkin, 40, 4, 1};
    return r;
}

Recipe tealOrange() {
    Recipe r;
    r.name = "teal and orange";
    r.saturation = 1.2;
    // Skin and warm hues gain a little richness but keep their hue; cyans and blues slide
    // towards teal over a wide band, gently enough not to fold.
    r.bands[0] = {kSkin + 4, 40, 0, 1.15};
    r.bands[1] = {200, 80, -15, 1.3};
    r.greyCode = 0.41;
    r.contrast = 1.5;
    r.channelTone = 0.6;
    r.shadowTint = {kCyan + 5, 0.08};
    r.highlightTint = {35, 0.07};
    r.highlightSaturation = 0.85;
    r.crosstalk = 0.06;
    return r;
}

Recipe bleachBypass() {
    Recipe r;
    r.name = "bleach bypass";
    r.saturation = 0.85;
    r.greyCode = 0.42;
    r.contrast = 1.45;
    r.channelTone = 1.0;
    r.bleach = 0.8;
    return r;
}

Recipe fadedMatte() {
    Recipe r;
    r.name = "faded matte";
    r.saturation = 0.72;
    r.shadowSaturation = 0.8;
    r.greyCode = 0.46;
    r.contrast = 1.05;
    r.fade = 0.13;
    r.whitePoint = 0.9;
    return r;
}

Recipe nightBlue() {
    Recipe r;
    r.name = "night blue";
    r.toned = true;
    r.warmth = -0.6;
    r.tint = -0.1;
    r.saturation = 0.8;
    r.highlightSaturation = 0.8;
    // Faces keep their colour under the blue: skin is spared the desaturation.
    r.bands[0] = {kSkin, 40, 0, 1.7};
    r.greyCode = 0.39;
    r.contrast = 1.6;
    r.toe = 0.006;
    r.shadowTint = {225, 0.035};
    r.midTint = {225, 0.03};
    r.highlightTint = {kCyan + 10, 0.01};
    return r;
}

Recipe goldenHour() {
    Recipe r;
    r.name = "golden hour";
    r.toned = true;
    r.warmth = 1.8;
    r.tint = 0.2;
    r.saturation = 1.2;
    r.bands[0] = {kAmber, 45, -4, 1.12};
    r.greyCode = 0.48;
    r.contrast = 1.15;
    r.channelTone = 0.7;
    r.shadowTint = {20, 0.012};
    r.highlightTint = {45, 0.04};
    r.midTint = {45, 0.04};
    return r;
}

Recipe monochrome() {
    Recipe r;
    r.name = "monochrome";
    r.mono = 1.0;
    r.greyCode = 0.44;
    r.contrast = 1.4;
    r.channelTone = 0.0;
    return r;
}

Recipe softPastel() {
    Recipe r;
    r.name = "soft pastel";
    r.saturation = 0.58;
    r.shadowSaturation = 0.65;
    r.highlightSaturation = 1.1;
    r.greyCode = 0.45;
    r.contrast = 1.0;
    r.fade = 0.12;
    r.shadowTint = {270, 0.01};
    r.highlightTint = {330, 0.015};
    r.skinGuard = 1.0;  // faces stay clear of the lilac and pink
    r.bands[0] = {kSkin, 40, 0, 1.1};
    return r;
}

Recipe vivid() {
    Recipe r;
    r.name = "vivid";
    r.saturation = 1.45;
    r.highlightSaturation = 0.85;
    r.crosstalk = 0.04;
    r.greyCode = 0.48;
    r.contrast = 1.3;
    r.channelTone = 0.5;
    // Skin is held back from the boost: at the gamut edge it would turn red.
    r.bands[0] = {kSkin, 40, 0, 0.85};
    return r;
}

Recipe coolUrban() {
    Recipe r;
    r.name = "cool urban";
    r.toned = true;
    r.warmth = -0.9;
    r.saturation = 0.6;
    r.bands[0] = {kGreen, 60, 25, 0.7};
    r.bands[1] = {kSkin, 40, 0, 0.9};
    r.greyCode = 0.45;
    r.contrast = 1.3;
    r.channelTone = 0.7;
    r.shadowTint = {kCyan, 0.02};
    return r;
}

Recipe vintageSeventies() {
    Recipe r;
    r.name = "vintage seventies";
    r.saturation = 0.75;
    r.twist = 0.03;
    r.greyCode = 0.45;
    r.contrast = 1.2;
    r.channelTone = 0.8;
    r.shadowTint = {80, 0.025};
    r.highlightTint = {kAmber, 0.02};
    r.fade = 0.06;
    r.whitePoint = 0.92;
    return r;
}

Recipe reversalSlide() {
    Recipe r;
    r.name = "reversal slide";
    r.saturation = 1.3;
    r.crosstalk = 0.12;
    r.bands[0] = {kBlue, 50, -8, 1.25};
    r.greyCode = 0.40;
    r.contrast = 1.7;
    r.toe = 0.008;
    r.channelTone = 0.6;
    r.bands[1] = {kSkin, 40, 0, 0.8};
    r.shadowTint = {kBlue, 0.05};
    return r;
}

Recipe emeraldForest() {
    Recipe r;
    r.name = "emerald forest";
    r.toned = true;
    r.saturation = 1.1;
    r.bands[0] = {kFoliage + 5, 70, 15, 1.8};
    r.bands[1] = {kSkin, 35, -3, 1.0};
    r.bands[2] = {kSky, 50, -10, 0.9};
    r.greyCode = 0.42;
    r.contrast = 1.4;
    r.channelTone = 0.6;
    r.shadowTint = {165, 0.04};
    r.midTint = {150, 0.05};
    return r;
}

Recipe sepia() {
    Recipe r = monochrome();
    r.name = "sepia";
    r.toned = true;
    r.contrast = 1.3;
    r.shadowTint = {25, 0.03};
    r.midTint = {35, 0.04};
    r.highlightTint = {45, 0.03};
    r.fade = 0.03;
    return r;
}

Recipe highKey() {
    Recipe r;
    r.name = "high key";
    r.saturation = 1.0;
    r.highlightSaturation = 0.5;
    r.greyCode = 0.495;
    r.contrast = 1.2;
    r.toe = 0.001;
    return r;
}

Recipe noir() {
    Recipe r;
    r.name = "noir";
    r.mono = 0.85;
    r.greyCode = 0.39;
    r.contrast = 1.75;
    r.toe = 0.01;
    r.channelTone = 1.0;
    return r;
}

Recipe clearSky() {
    Recipe r;
    r.name = "clear sky";
    r.saturation = 1.0;
    r.bands[0] = {kSky, 50, 0, 1.5};
    r.bands[1] = {kFoliage, 50, 0, 1.1};
    r.crosstalk = 0.1;
    r.greyCode = 0.45;
    r.contrast = 1.3;
    r.toe = 0.008;
    return r;
}

Recipe alpineCool() {
    Recipe r;
    r.name = "alpine cool";
    r.toned = true;
    r.warmth = -1.0;
    r.saturation = 0.8;
    r.highlightSaturation = 0.75;
    r.bands[0] = {kSky, 50, -5, 1.2};
    r.greyCode = 0.45;
    r.contrast = 1.5;
    r.highlightTint = {200, 0.02};
    return r;
}

Recipe desertWarm() {
    Recipe r;
    r.name = "desert warm";
    r.toned = true;
    r.warmth = 1.4;
    r.tint = -0.1;
    r.saturation = 1.15;
    r.bands[0] = {45, 60, -5, 1.25};
    r.bands[1] = {kSky, 80, -10, 1.15};
    r.bands[2] = {kFoliage, 60, -10, 0.85};
    r.greyCode = 0.42;
    r.contrast = 1.55;
    r.channelTone = 0.9;
    r.twist = 0.04;
    r.highlightTint = {55, 0.025};
    return r;
}

Recipe nordicCool() {
    Recipe r;
    r.name = "nordic cool";
    r.toned = true;
    r.warmth = -0.6;
    r.saturation = 0.7;
    r.highlightSaturation = 0.6;
    r.greyCode = 0.45;
    r.contrast = 1.25;
    r.fade = 0.03;
    return r;
}

Recipe hardMonochrome() {
    Recipe r = monochrome();
    r.name = "hard monochrome";
    r.greyCode = 0.42;
    r.contrast = 1.62;
    r.toe = 0.008;
    return r;
}

Recipe redFilterMonochrome() {
    Recipe r = monochrome();
    r.name = "red filter monochrome";
    // A deep red filter passes red light alone: skies go dark, foliage deepens, faces
    // lighten.
    r.monoWeights = {1.0, 0.0, 0.0};
    r.contrast = 1.45;
    return r;
}

Recipe duskBlue() {
    Recipe r = nightBlue();
    r.name = "dusk blue";
    r.warmth = -0.4;
    r.tint = 0.2;
    r.saturation = 0.85;
    r.bands[0] = {kSkin, 40, 0, 1.25};
    r.shadowTint = {250, 0.035};
    r.midTint = {245, 0.015};
    r.highlightTint = {340, 0.04};
    r.greyCode = 0.40;
    return r;
}

// Hand-held travel: bright, gentle and clean, for faces in daylight.
Recipe everydayNatural() {
    Recipe r = natural();
    r.name = "everyday natural";
    r.greyCode = 0.48;
    r.contrast = 1.15;
    r.toe = 0.002;
    r.saturation = 1.12;
    r.highlightSaturation = 1.0;
    return r;
}

Recipe warmHoliday() {
    Recipe r;
    r.name = "warm holiday";
    r.toned = true;
    r.warmth = 1.6;
    r.saturation = 0.9;
    r.bands[0] = {kSky, 50, 0, 1.15};
    r.greyCode = 0.47;
    r.contrast = 1.2;
    r.channelTone = 0.6;
    r.highlightTint = {50, 0.03};
    r.fade = 0.06;
    r.crosstalk = -0.08;
    r.midTint = {50, 0};
    return r;
}

// The blockbuster split for bright travel footage: aqua skies and water, warm light, skin
// protected; lighter and softer than the film-making version.
Recipe summerTeal() {
    Recipe r = tealOrange();
    r.name = "summer teal and orange";
    r.saturation = 1.3;
    r.bands[1] = {195, 75, -10, 1.35};
    r.greyCode = 0.49;
    r.contrast = 1.3;
    r.shadowTint = {kCyan, 0.1};
    r.highlightTint = {40, 0.06};
    r.fade = 0.03;
    r.skinGuard = 1.0;
    r.bands[0] = {kSkin + 4, 40, 0, 1.0};
    r.crosstalk = 0;
    return r;
}

Recipe cafeMatte() {
    Recipe r;
    r.name = "cafe matte";
    r.saturation = 0.78;
    r.shadowSaturation = 0.85;
    r.greyCode = 0.45;
    r.contrast = 1.25;
    r.shadowTint = {30, 0.04};
    r.highlightTint = {50, 0.04};
    r.fade = 0.09;
    r.whitePoint = 0.92;
    return r;
}

Recipe goldenBeach() {
    Recipe r = goldenHour();
    r.name = "golden beach";
    r.warmth = 1.2;
    r.tint = 0.45;
    r.saturation = 1.4;
    r.bands[1] = {kSky, 50, 0, 1.2};
    r.greyCode = 0.48;
    r.contrast = 1.0;
    r.highlightTint = {50, 0.05};
    r.fade = 0.04;
    return r;
}

Recipe yellowFilterMonochrome() {
    Recipe r = monochrome();
    r.name = "yellow filter monochrome";
    // A yellow filter holds back blue: skies a little deeper, skin a little clearer.
    r.monoWeights = {0.45, 0.55, 0.0};
    r.greyCode = 0.46;
    r.contrast = 1.3;
    return r;
}

// City at night: deep cool shadows, warm street-lamp highlights, neutral mid-tones.
Recipe cityNight() {
    Recipe r;
    r.name = "city night";
    r.saturation = 0.85;
    r.bands[0] = {kSkin, 40, 0, 1.1};
    r.bands[1] = {kSky, 70, 0, 1.2};
    r.greyCode = 0.39;
    r.contrast = 1.55;
    r.toe = 0.007;
    r.shadowTint = {230, 0.05};
    r.highlightTint = {42, 0.015};
    r.skinGuard = 1.0;
    return r;
}

// From the air: deeper blacks and a touch more contrast and colour cut the haze.
Recipe aerialNatural() {
    Recipe r = natural();
    r.name = "aerial natural";
    r.greyCode = 0.41;
    r.contrast = 1.65;
    r.toe = 0.015;
    r.saturation = 1.2;
    r.bands[0] = {kSky, 50, 0, 1.15};
    r.highlightSaturation = 0.85;
    return r;
}

Recipe goldenAerial() {
    Recipe r = goldenHour();
    r.name = "golden aerial";
    r.warmth = 2.1;
    r.saturation = 1.2;
    r.greyCode = 0.42;
    r.contrast = 1.6;
    r.toe = 0.007;
    r.bands[1] = {kFoliage, 50, -6, 1.05};
    r.midTint = {45, 0.02};
    return r;
}

// Coastlines: aqua water and pale warm sand, skin kept.
Recipe coastalTeal() {
    Recipe r;
    r.name = "coastal teal";
    r.toned = true;
    r.midTint = {200, 0.06};
    r.saturation = 1.35;
    r.bands[0] = {185, 60, 6, 1.5};
    r.bands[1] = {50, 45, 0, 1.2};
    r.bands[2] = {kBlue, 50, -8, 1.1};
    r.greyCode = 0.49;
    r.contrast = 1.1;
    r.channelTone = 0.5;
    r.shadowTint = {195, 0.09};
    r.highlightTint = {55, 0.03};
    return r;
}

// Early light through haze: lifted cool blacks, soft contrast, pale colour.
Recipe morningMist() {
    Recipe r;
    r.name = "morning mist";
    r.saturation = 0.7;
    r.shadowSaturation = 0.7;
    r.greyCode = 0.48;
    r.contrast = 1.05;
    r.shadowTint = {210, 0.05};
    r.highlightTint = {50, 0.015};
    r.fade = 0.09;
    r.whitePoint = 0.94;
    r.skinGuard = 1.0;
    return r;
}

// Looks for finished Rec.709 video: the same characters without a tone curve, with the
// contrast moves made on the display side.
Recipe video(Recipe r, double displayContrast) {
    r.displayContrast = displayContrast;
    return r;
}

Recipe moodyGreen() {
    Recipe r;
    r.name = "moody green";
    r.toned = true;
    r.tint = -0.5;
    r.warmth = -0.2;
    r.saturation = 0.8;
    r.bands[0] = {kGreen, 60, -15, 0.85};
    r.bands[1] = {kSkin, 35, 0, 0.9};
    r.shadowTint = {150, 0.03};
    r.displayContrast = 1.2;
    r.midTint = {150, 0.025};
    return r;
}

Recipe cleanBoost() {
    Recipe r = natural();
    r.name = "clean boost";
    r.saturation = 1.06;
    r.highlightSaturation = 0.95;
    r.displayContrast = 1.12;
    return r;
}

std::vector<ShippedLook> buildTable() {
    std::vector<ShippedLook> t;
    auto add = [&t](int pack, const Recipe& r) {
        int number = 1;
        for (const ShippedLook& s : t) {
            number += s.pack == pack ? 1 : 0;
        }
        t.push_back({pack, number, r});
    };
    // iPhone Apple Log: the widest range, for a phone that shoots everything.
    add(1, natural());
    add(1, warmPrint());
    add(1, tealOrange());
    add(1, bleachBypass());
    add(1, fadedMatte());
    add(1, nightBlue());
    add(1, goldenHour());
    add(1, monochrome());
    add(1, softPastel());
    add(1, vivid());
    add(1, coolUrban());
    add(1, vintageSeventies());
    add(1, reversalSlide());
    add(1, emeraldForest());
    add(1, sepia());
    add(1, highKey());
    add(1, noir());
    add(1, softPortrait());

    // iPhone Cinematic: finished video in, creative grades only.
    add(2, cleanBoost());
    add(2, video(warmPrint(), 1.25));
    {
        Recipe r = video(tealOrange(), 1.2);
        r.saturation = 1.1;
        add(2, r);
    }
    {
        Recipe r = fadedMatte();
        r.saturation = 0.8;
        add(2, r);
    }
    add(2, video(bleachBypass(), 1.0));
    {
        Recipe r = video(nightBlue(), 1.1);
        r.exposure = -0.15;
        add(2, r);
    }
    {
        // Video is already at the edge of its gamut in yellow; push it less.
        Recipe r = goldenHour();
        r.saturation = 1.08;
        r.bands[0].gain = 1.04;
        r.highlightTint = {45, 0.05};
        add(2, r);
    }
    add(2, video(monochrome(), 1.15));
    {
        Recipe r = softPastel();
        r.name = "pastel film";
        r.exposure = 0.2;
        r.saturation = 0.75;
        add(2, r);
    }
    add(2, moodyGreen());

    // Osmo D-Log M: hand-held gimbal footage of travel and everyday life, shot in bright
    // daylight and city light: brighter, gentler tone than the film-making pack.
    add(3, everydayNatural());
    {
        Recipe r = vivid();
        r.name = "vivid travel";
        r.saturation = 1.3;
        r.highlightSaturation = 0.8;
        r.greyCode = 0.48;
        r.contrast = 1.45;
        r.bands[0] = {kSky, 50, 0, 1.3};
        r.bands[1] = {kSkin, 35, 0, 0.85};  // skin stays believable amid the colour
        add(3, r);
    }
    add(3, warmHoliday());
    add(3, summerTeal());
    add(3, cafeMatte());
    {
        Recipe r = coolUrban();
        r.name = "cool street";
        r.greyCode = 0.45;
        r.contrast = 1.35;
        add(3, r);
    }
    add(3, goldenBeach());
    add(3, yellowFilterMonochrome());
    {
        Recipe r = softPastel();
        r.greyCode = 0.465;
        add(3, r);
    }
    add(3, cityNight());

    // Osmo D-Log: hand-held film-making.
    add(4, natural());
    add(4, filmPrint());
    add(4, tealOrange());
    add(4, bleachBypass());
    add(4, vintageSeventies());
    add(4, goldenHour());
    add(4, nordicCool());
    add(4, hardMonochrome());
    add(4, fadedMatte());
    add(4, nightBlue());

    // Drone D-Log: landscapes from the air, where haze, skies and foliage lead.
    add(5, aerialNatural());
    add(5, clearSky());
    {
        Recipe r = emeraldForest();
        r.name = "lush green";
        r.greyCode = 0.45;
        r.contrast = 1.32;
        r.saturation = 1.15;
        r.midTint = {140, 0.09};
        r.bands[0].gain = 1.45;
        add(5, r);
    }
    add(5, goldenAerial());
    add(5, coastalTeal());
    add(5, alpineCool());
    add(5, desertWarm());
    add(5, morningMist());
    add(5, redFilterMonochrome());
    add(5, duskBlue());
    return t;
}

}  // namespace

const std::vector<ShippedLook>& shippedLooks() {
    static const std::vector<ShippedLook> table = buildTable();
    return table;
}

const ShippedLook* findShippedLook(int pack, int number) {
    for (const ShippedLook& s : shippedLooks()) {
        if (s.pack == pack && s.number == number) {
            return &s;
        }
    }
    return nullptr;
}

}  // namespace vd::recipes
