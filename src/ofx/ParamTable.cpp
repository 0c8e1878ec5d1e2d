#include "ofx/ParamTable.h"

#include "looks/Catalogue.h"
#include "ofx/Product.h"

namespace vd {
namespace {

ParamSpec group(const char* name, const char* label, bool open) {
    ParamSpec p;
    p.name = name;
    p.kind = ParamKind::group;
    p.label = label;
    p.groupOpen = open;
    return p;
}

// A number with an equal range and display range, increment 1 and 1 digit unless changed.
ParamSpec number(const char* name, const char* label, const char* parent, double value, double min,
                 double max, const char* hint) {
    ParamSpec p;
    p.name = name;
    p.kind = ParamKind::number;
    p.label = label;
    p.parent = parent;
    p.hint = hint;
    p.defaultValue = value;
    p.min = p.displayMin = min;
    p.max = p.displayMax = max;
    return p;
}

ParamSpec steps(ParamSpec p, double increment, int digits) {
    p.increment = increment;
    p.digits = digits;
    return p;
}

ParamSpec choice(const char* name, const char* label, const char* parent, int value, bool secret,
                 bool evaluateOnChange, std::vector<std::string> options,
                 std::optional<std::string> hint) {
    ParamSpec p;
    p.name = name;
    p.kind = ParamKind::choice;
    p.label = label;
    p.parent = parent;
    p.hint = std::move(hint);
    p.defaultValue = value;
    p.secret = secret;
    p.evaluateOnChange = evaluateOnChange;
    p.options = std::move(options);
    return p;
}

ParamSpec text(const char* name, const char* label, const char* parent, std::string value,
               bool labelMode, bool enabled, bool secret, const char* hint,
               OnDefineFailure onFailure) {
    ParamSpec p;
    p.name = name;
    p.kind = ParamKind::text;
    p.label = label;
    p.parent = parent;
    if (hint) {
        p.hint = hint;
    }
    p.defaultText = std::move(value);
    p.labelMode = labelMode;
    p.enabled = enabled;
    p.secret = secret;
    p.onFailure = onFailure;
    return p;
}

ParamSpec toggle(const char* name, const char* label, const char* hint) {
    ParamSpec p;
    p.name = name;
    p.kind = ParamKind::toggle;
    p.label = label;
    p.parent = "resetGroup";
    p.hint = hint;
    p.secret = false;
    p.evaluateOnChange = true;
    return p;
}

ParamSpec button(const char* name, const char* label, const char* parent, bool secret,
                 const char* hint) {
    ParamSpec p;
    p.name = name;
    p.kind = ParamKind::button;
    p.label = label;
    p.parent = parent;
    p.hint = hint;
    p.secret = secret;
    p.enabled = true;
    return p;
}

std::string lookMenuHint(int pack) {
    const std::string note = pack == 1                ? " Also works with Apple Log 2."
                             : pack == 4 || pack == 5 ? " Also works with D-Log 2."
                                                      : "";
    return "Looks for this pack." + note + " None leaves the picture ungraded before the sliders.";
}

std::vector<ParamSpec> buildTable() {
    std::vector<ParamSpec> t;

    t.push_back(group("look", "LOOK", true));
    std::vector<std::string> packs;
    for (int pack = 0; pack < packCount(); ++pack) {
        packs.push_back(packLabel(pack));
    }
    t.push_back(choice("footage", "Pack", "look", 0, false, true, std::move(packs),
                       "Choose a Pack leaves the picture without a look. iPhone Apple Log: Also "
                       "works with Apple Log 2. These option numbers are fixed, so a renamed "
                       "label still loads in a saved project."));
    for (int pack = 0; pack < packCount(); ++pack) {
        std::vector<std::string> looks;
        for (int option = 0; option < lookOptionCount(pack); ++option) {
            looks.push_back(lookOptionLabel(pack, option));
        }
        // Start on the pack's first look; a pack without looks only has "None".
        const int first = looks.size() >= 2 ? 1 : 0;
        ParamSpec menu =
            choice("", "LUT", "look", first, true, true, std::move(looks), lookMenuHint(pack));
        menu.name = packLutParam(pack);
        t.push_back(std::move(menu));
    }
    t.push_back(text("moreLooksNote", "More looks coming.", "look", "More looks coming.", true,
                     false, true, nullptr, OnDefineFailure::leaveOut));
    t.push_back(text("dlog2Note", "Also works with D-Log 2.", "look", "Also works with D-Log 2.",
                     true, false, true, nullptr, OnDefineFailure::leaveOut));
    t.push_back(number("intensity", "Intensity", "look", 100, 0, 100,
                       "100 is the full look. 0 leaves the LUT out."));

    t.push_back(group("adjustments", "ADJUSTMENTS", true));
    ParamSpec exposure = steps(number("exposure", "Exposure", "adjustments", 0, -4, 4,
                                      "Stops of light before the look. 0 leaves the camera code "
                                      "unchanged. +1 doubles 18% grey."),
                               0.001, 3);
    exposure.displayMin = -2;
    exposure.displayMax = 2;
    t.push_back(exposure);
    t.push_back(number("highlights", "Highlights", "adjustments", 0, -100, 100,
                       "After the look. 0 is unchanged. Negative rolls the bright end down. "
                       "Positive opens it. Lights stay the brightest part of the picture."));
    t.push_back(number("shadows", "Shadows", "adjustments", 0, -100, 100,
                       "After the look. 0 is unchanged. +100 opens the darks about one stop. "
                       "-100 closes them about one stop. Midtones stay put. Black stays black."));
    t.push_back(number("contrast", "Contrast", "adjustments", 0, -100, 100,
                       "0 is unchanged. Positive adds contrast around mid grey."));
    t.push_back(number("saturation", "Saturation", "adjustments", 0, -100, 100,
                       "0 is unchanged. -100 is grey. Positive is more colourful."));
    t.push_back(number("temperature", "Temperature", "adjustments", 0, -100, 100,
                       "White balance in linear light, before the look. 0 is unchanged. "
                       "Negative is cooler, positive is warmer."));
    t.push_back(number("tint", "Tint", "adjustments", 0, -100, 100,
                       "White balance in linear light, before the look. 0 is unchanged. "
                       "Negative is greener, positive is more magenta."));

    t.push_back(group("effects", "EFFECTS", false));
    t.push_back(number("grainAmount", "Grain Amount", "effects", 0, 0, 100,
                       "0 is off. 100 is full film grain."));
    t.push_back(steps(number("grainSize", "Grain Size", "effects", 1, 0.25, 4,
                             "1 is the normal grain size on a 1080p frame."),
                      0.1, 1));
    t.push_back(number("halationAmount", "Halation Amount", "effects", 0, 0, 100,
                       "0 is off. Higher values add a red-orange fringe on highlight edges."));
    t.push_back(steps(number("halationRadius", "Halation Radius", "effects", 1, 0.25, 4,
                             "1 is about 52 pixels on a 1080p frame."),
                      0.1, 1));
    t.push_back(number("bloomAmount", "Bloom Amount", "effects", 0, 0, 100,
                       "0 is off. Higher values add a soft glow around bright lights."));
    t.push_back(steps(number("bloomRadius", "Bloom Radius", "effects", 1, 0.25, 4,
                             "1 is about 120 pixels on a 1080p frame."),
                      0.1, 1));
    t.push_back(number("bloomThreshold", "Bloom Threshold", "effects", 70, 0, 100,
                       "70 starts the glow near display luminance 0.7. Lower values glow "
                       "earlier."));
    t.push_back(number("vignetteAmount", "Vignette Amount", "effects", 0, -100, 100,
                       "0 is off. Negative darkens the edges. Positive lightens them."));
    t.push_back(steps(number("vignetteSize", "Vignette Size", "effects", 0.5, 0, 1,
                             "How far in from the edges the falloff starts. 0.5 starts halfway."),
                      0.01, 2));
    t.push_back(steps(number("vignetteFeather", "Vignette Feather", "effects", 0.5, 0, 1,
                             "How soft the edge is. 0.5 is a medium falloff."),
                      0.01, 2));

    t.push_back(group("borders", "BORDERS", false));
    t.push_back(number("borderTop", "Top/Bottom", "borders", 0, 0, 100,
                       "0 is off. 100 covers the top and bottom until the bars meet in the "
                       "middle."));
    t.push_back(number("borderSide", "Left/Right", "borders", 0, 0, 100,
                       "0 is off. 100 covers the left and right until the bars meet in the "
                       "middle."));
    ParamSpec colour;
    colour.name = "borderColour";
    colour.kind = ParamKind::colour;
    colour.label = "Border Colour";
    colour.parent = "borders";
    colour.hint = "Colour of the bars. Black is the default.";
    t.push_back(colour);

    t.push_back(group("myLooks", "MY LOOKS", false));
    t.push_back(text("lookName", "Look Name", "myLooks", "", false, true, false,
                     "Name used by Save Look and Rename. Leave it empty to use My Look N.",
                     OnDefineFailure::endAction));
    std::vector<std::string> saved{"No saved looks"};
    saved.resize(kSavedLooksOptions, " ");
    t.push_back(choice("savedLooks", "Saved Looks", "myLooks", 0, false, false, std::move(saved),
                       "Looks saved on this computer, shared by every project. Apply loads the "
                       "selected one."));
    t.push_back(button("saveLook", "Save Look", "myLooks", false,
                       "Saves Pack, LUT, Intensity, the adjustments, the effects, and the borders "
                       "under Look Name. The same name replaces the saved look."));
    t.push_back(button("applyLook", "Apply", "myLooks", false,
                       "Loads the selected saved look into this clip."));
    t.push_back(button("renameLook", "Rename", "myLooks", false,
                       "Renames the selected saved look to the Look Name text."));
    t.push_back(button("deleteLook", "Delete", "myLooks", false,
                       "Deletes the selected saved look from this computer."));
    t.push_back(text("myLooksStatus", "Status", "myLooks", "", false, false, false, nullptr,
                     OnDefineFailure::leaveOut));

    t.push_back(group("resetGroup", "OPTIONS", true));
    t.push_back(toggle("beforeAfter", "Before/After",
                       "Shows the original picture. Not saved in My Looks."));
    t.push_back(toggle("splitScreen", "Split Screen",
                       "Left is the original. Right is the grade. Not saved in My Looks."));
    ParamSpec split = steps(number("splitPosition", "Split Position", "resetGroup", 50, 0, 100,
                                   "Where the divider sits. 0 is the left edge. 100 is the right "
                                   "edge. 50 is the middle."),
                            1, 0);
    split.frozenAndHidden = true;
    t.push_back(split);
    ParamSpec reset = button("reset", "Reset", "resetGroup", false,
                             "Sets Pack back to Choose a Pack, turns Before/After and Split Screen "
                             "off, and puts Intensity, the adjustments, the effects, and the "
                             "borders back to their defaults. Border colour goes back to black. "
                             "Split Position goes back to 50. My Looks stay.");
    reset.secret.reset();
    reset.enabled.reset();
    reset.onFailure = OnDefineFailure::leaveOut;
    t.push_back(reset);
    ParamSpec notice = text("updateNotice", "Update", "resetGroup", "", false, false, true, nullptr,
                            OnDefineFailure::leaveOut);
    notice.definedLast = true;
    t.push_back(notice);
    ParamSpec download = button("downloadUpdate", "Download Update", "resetGroup", true,
                                "Opens the download page for the newer version.");
    download.definedLast = true;
    t.push_back(download);
    t.push_back(button("help", "More Info", "resetGroup", false,
                       "Opens the Vandrel Huebench page in your browser."));
    t.push_back(button("sendFeedback", "Support / Help", "resetGroup", false,
                       "Opens the Vandrel contact page in your browser."));

    // Its definition is not checked: a host that refuses it loses only the version line.
    ParamSpec version = text("pluginVersion", "Version", "", pluginVersionText(), false, false,
                             false, nullptr, OnDefineFailure::leaveOut);
    version.definedLast = true;
    t.push_back(version);
    return t;
}

}  // namespace

// Built once and never freed: a host may still call in while the process runs its
// exit-time destructors.
const std::vector<ParamSpec>& paramTable() {
    static const std::vector<ParamSpec>* const table = new std::vector<ParamSpec>(buildTable());
    return *table;
}

const ParamSpec* findParam(std::string_view name) {
    for (const ParamSpec& p : paramTable()) {
        if (p.name == name) {
            return &p;
        }
    }
    return nullptr;
}

const std::string& pluginVersionText() {
    static const std::string* const text =
        new std::string(std::string(kProductName) + " v" + kVersionLabel);
    return *text;
}

}  // namespace vd
