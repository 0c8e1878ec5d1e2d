#include "controls/Controls.h"

#include "looks/Catalogue.h"

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

// A number the render reads into field (host units / hostPerEngine), that Reset puts back,
// My Looks saves under its own name and the command line sets with --option (--name when
// option is null).
ParamSpec control(ParamSpec p, float GradeSettings::*field, double hostPerEngine,
                  const char* option) {
    p.renderRead = RenderRead::required;
    p.engineNumber = field;
    p.hostPerEngine = hostPerEngine;
    p.resets = true;
    p.savedKeys = {p.name};
    p.option = option ? option : p.name;
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

// A switch of the options group: the render reads it when it can, Reset turns it off.
ParamSpec toggle(const char* name, const char* label, bool GradeSettings::*field,
                 const char* hint) {
    ParamSpec p;
    p.renderRead = RenderRead::optional;
    p.engineSwitch = field;
    p.resets = true;
    p.name = name;
    p.kind = ParamKind::toggle;
    p.label = label;
    p.parent = control::resetGroup;
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

// A percentage control: the engine takes hundredths.
constexpr double kPercent = 100.0;

void addLookGroup(std::vector<ParamSpec>& t) {
    t.push_back(group(control::look, "LOOK", true));
    std::vector<std::string> packs;
    for (int pack = 0; pack < packCount(); ++pack) {
        packs.push_back(packLabel(pack));
    }
    ParamSpec footage =
        choice(control::footage, "Pack", control::look, 0, false, true, std::move(packs),
               "Choose a Pack leaves the picture without a look. iPhone Apple Log: Also works "
               "with Apple Log 2. These option numbers are fixed, so a renamed label still "
               "loads in a saved project.");
    footage.renderRead = RenderRead::required;
    footage.resets = true;
    t.push_back(std::move(footage));
    for (int pack = 0; pack < packCount(); ++pack) {
        std::vector<std::string> looks;
        for (int option = 0; option < lookOptionCount(pack); ++option) {
            looks.push_back(lookOptionLabel(pack, option));
        }
        // Start on the pack's first look; a pack without looks only has "None".
        const int first = looks.size() >= 2 ? 1 : 0;
        ParamSpec menu = choice("", "LUT", control::look, first, true, true, std::move(looks),
                                lookMenuHint(pack));
        menu.name = packLutParam(pack);
        t.push_back(std::move(menu));
    }
    t.push_back(text(control::moreLooksNote, "More looks coming.", control::look,
                     "More looks coming.", true, false, true, nullptr, OnDefineFailure::leaveOut));
    t.push_back(text(control::dlog2Note, "Also works with D-Log 2.", control::look,
                     "Also works with D-Log 2.", true, false, true, nullptr,
                     OnDefineFailure::leaveOut));
    t.push_back(control(number("intensity", "Intensity", control::look, 100, 0, 100,
                               "100 is the full look. 0 leaves the LUT out."),
                        &GradeSettings::intensity, kPercent, nullptr));
}

void addAdjustments(std::vector<ParamSpec>& t) {
    const char* g = control::adjustments;
    t.push_back(group(g, "ADJUSTMENTS", true));
    ParamSpec exposure = steps(number("exposure", "Exposure", g, 0, -4, 4,
                                      "Stops of light before the look. 0 leaves the camera code "
                                      "unchanged. +1 doubles 18% grey."),
                               0.001, 3);
    exposure.displayMin = -2;
    exposure.displayMax = 2;
    t.push_back(control(exposure, &GradeSettings::exposure, 1.0, nullptr));
    t.push_back(
        control(number("highlights", "Highlights", g, 0, -100, 100,
                       "After the look. 0 is unchanged. Negative rolls the bright end down. "
                       "Positive opens it. Lights stay the brightest part of the picture."),
                &GradeSettings::highlights, kPercent, nullptr));
    t.push_back(
        control(number("shadows", "Shadows", g, 0, -100, 100,
                       "After the look. 0 is unchanged. +100 opens the darks about one stop. "
                       "-100 closes them about one stop. Midtones stay put. Black stays black."),
                &GradeSettings::shadows, kPercent, nullptr));
    t.push_back(control(number("contrast", "Contrast", g, 0, -100, 100,
                               "0 is unchanged. Positive adds contrast around mid grey."),
                        &GradeSettings::contrast, kPercent, nullptr));
    t.push_back(control(number("saturation", "Saturation", g, 0, -100, 100,
                               "0 is unchanged. -100 is grey. Positive is more colourful."),
                        &GradeSettings::saturation, kPercent, nullptr));
    t.push_back(control(number("temperature", "Temperature", g, 0, -100, 100,
                               "White balance in linear light, before the look. 0 is unchanged. "
                               "Negative is cooler, positive is warmer."),
                        &GradeSettings::temperature, kPercent, nullptr));
    t.push_back(control(number("tint", "Tint", g, 0, -100, 100,
                               "White balance in linear light, before the look. 0 is unchanged. "
                               "Negative is greener, positive is more magenta."),
                        &GradeSettings::tint, kPercent, nullptr));
}

void addEffects(std::vector<ParamSpec>& t) {
    const char* g = control::effects;
    t.push_back(group(g, "EFFECTS", false));
    t.push_back(control(
        number("grainAmount", "Grain Amount", g, 0, 0, 100, "0 is off. 100 is full film grain."),
        &GradeSettings::grainAmount, kPercent, "grain"));
    t.push_back(control(steps(number("grainSize", "Grain Size", g, 1, 0.25, 4,
                                     "1 is the normal grain size on a 1080p frame."),
                              0.1, 1),
                        &GradeSettings::grainSize, 1.0, "grain-size"));
    t.push_back(
        control(number(control::halationAmount, "Halation Amount", g, 0, 0, 100,
                       "0 is off. Higher values add a red-orange fringe on highlight edges."),
                &GradeSettings::halationAmount, kPercent, "halation"));
    t.push_back(control(steps(number(control::halationRadius, "Halation Radius", g, 1, 0.25, 4,
                                     "1 is about 52 pixels on a 1080p frame."),
                              0.1, 1),
                        &GradeSettings::halationRadius, 1.0, "halation-radius"));
    t.push_back(control(number(control::bloomAmount, "Bloom Amount", g, 0, 0, 100,
                               "0 is off. Higher values add a soft glow around bright lights."),
                        &GradeSettings::bloomAmount, kPercent, "bloom"));
    t.push_back(control(steps(number(control::bloomRadius, "Bloom Radius", g, 1, 0.25, 4,
                                     "1 is about 120 pixels on a 1080p frame."),
                              0.1, 1),
                        &GradeSettings::bloomRadius, 1.0, "bloom-radius"));
    t.push_back(control(number("bloomThreshold", "Bloom Threshold", g, 70, 0, 100,
                               "70 starts the glow near display luminance 0.7. Lower values "
                               "glow earlier."),
                        &GradeSettings::bloomThreshold, kPercent, "bloom-threshold"));
    t.push_back(control(number("vignetteAmount", "Vignette Amount", g, 0, -100, 100,
                               "0 is off. Negative darkens the edges. Positive lightens them."),
                        &GradeSettings::vignetteAmount, kPercent, "vignette"));
    t.push_back(
        control(steps(number("vignetteSize", "Vignette Size", g, 0.5, 0, 1,
                             "How far in from the edges the falloff starts. 0.5 starts halfway."),
                      0.01, 2),
                &GradeSettings::vignetteSize, 1.0, "vignette-size"));
    t.push_back(control(steps(number("vignetteFeather", "Vignette Feather", g, 0.5, 0, 1,
                                     "How soft the edge is. 0.5 is a medium falloff."),
                              0.01, 2),
                        &GradeSettings::vignetteFeather, 1.0, "vignette-feather"));
}

void addBorders(std::vector<ParamSpec>& t) {
    const char* g = control::borders;
    t.push_back(group(g, "BORDERS", false));
    t.push_back(control(number("borderTop", "Top/Bottom", g, 0, 0, 100,
                               "0 is off. 100 covers the top and bottom until the bars meet in "
                               "the middle."),
                        &GradeSettings::borderTop, kPercent, "border-top"));
    t.push_back(control(number("borderSide", "Left/Right", g, 0, 0, 100,
                               "0 is off. 100 covers the left and right until the bars meet in "
                               "the middle."),
                        &GradeSettings::borderSide, kPercent, "border-side"));
    ParamSpec colour;
    colour.name = "borderColour";
    colour.kind = ParamKind::colour;
    colour.label = "Border Colour";
    colour.parent = g;
    colour.hint = "Colour of the bars. Black is the default.";
    colour.renderRead = RenderRead::required;
    colour.engineColour = true;
    colour.resets = true;
    colour.savedKeys = {"borderRed", "borderGreen", "borderBlue"};
    colour.option = "border-colour";
    t.push_back(colour);
}

void addMyLooks(std::vector<ParamSpec>& t) {
    const char* g = control::myLooks;
    t.push_back(group(g, "MY LOOKS", false));
    t.push_back(text(control::lookName, "Look Name", g, "", false, true, false,
                     "Name used by Save Look and Rename. Leave it empty to use My Look N.",
                     OnDefineFailure::endAction));
    std::vector<std::string> saved{"No saved looks"};
    saved.resize(kSavedLooksOptions, " ");
    t.push_back(choice(control::savedLooks, "Saved Looks", g, 0, false, false, std::move(saved),
                       "Looks saved on this computer, shared by every project. Apply loads the "
                       "selected one."));
    t.push_back(button(control::saveLook, "Save Look", g, false,
                       "Saves Pack, LUT, Intensity, the adjustments, the effects, and the borders "
                       "under Look Name. The same name replaces the saved look."));
    t.push_back(button(control::applyLook, "Apply", g, false,
                       "Loads the selected saved look into this clip."));
    t.push_back(button(control::renameLook, "Rename", g, false,
                       "Renames the selected saved look to the Look Name text."));
    t.push_back(button(control::deleteLook, "Delete", g, false,
                       "Deletes the selected saved look from this computer."));
    t.push_back(text(control::myLooksStatus, "Status", g, "", false, false, false, nullptr,
                     OnDefineFailure::leaveOut));
}

void addOptions(std::vector<ParamSpec>& t) {
    const char* g = control::resetGroup;
    t.push_back(group(g, "OPTIONS", true));
    t.push_back(toggle(control::beforeAfter, "Before/After", &GradeSettings::beforeAfter,
                       "Shows the original picture. Not saved in My Looks."));
    t.push_back(toggle(control::splitScreen, "Split Screen", &GradeSettings::splitScreen,
                       "Left is the original. Right is the grade. Not saved in My Looks."));
    ParamSpec split = steps(number(control::splitPosition, "Split Position", g, 50, 0, 100,
                                   "Where the divider sits. 0 is the left edge. 100 is the right "
                                   "edge. 50 is the middle."),
                            1, 0);
    split.frozenAndHidden = true;
    split.renderRead = RenderRead::optional;
    split.engineNumber = &GradeSettings::splitPosition;
    split.hostPerEngine = kPercent;
    split.resets = true;
    t.push_back(split);
    ParamSpec reset = button(control::reset, "Reset", g, false,
                             "Sets Pack back to Choose a Pack, turns Before/After and Split Screen "
                             "off, and puts Intensity, the adjustments, the effects, and the "
                             "borders back to their defaults. Border colour goes back to black. "
                             "Split Position goes back to 50. My Looks stay.");
    reset.secret.reset();
    reset.enabled.reset();
    reset.onFailure = OnDefineFailure::leaveOut;
    t.push_back(reset);
    ParamSpec notice = text(control::updateNotice, "Update", g, "", false, false, true, nullptr,
                            OnDefineFailure::leaveOut);
    notice.definedLast = true;
    t.push_back(notice);
    ParamSpec download = button(control::downloadUpdate, "Download Update", g, true,
                                "Opens the download page for the newer version.");
    download.definedLast = true;
    t.push_back(download);
    t.push_back(button(control::help, "More Info", g, false,
                       "Opens the Vandrel Huebench page in your browser."));
    t.push_back(button(control::sendFeedback, "Support / Help", g, false,
                       "Opens the Vandrel contact page in your browser."));
    // Its definition is not checked: a host that refuses it loses only the version line.
    // The definer supplies its text, the product name and version.
    ParamSpec version = text(control::pluginVersion, "Version", "", "", false, false, false,
                             nullptr, OnDefineFailure::leaveOut);
    version.definedLast = true;
    t.push_back(version);
}

std::vector<ParamSpec> buildTable() {
    std::vector<ParamSpec> t;
    addLookGroup(t);
    addAdjustments(t);
    addEffects(t);
    addBorders(t);
    addMyLooks(t);
    addOptions(t);
    return t;
}

std::vector<SavedKey> buildSavedKeys() {
    std::vector<SavedKey> keys;
    for (const ParamSpec& row : paramTable()) {
        for (std::size_t i = 0; i < row.savedKeys.size(); ++i) {
            const double value =
                row.kind == ParamKind::colour ? row.defaultColour[i % 3] : row.defaultValue;
            keys.push_back({row.savedKeys[i], value});
        }
    }
    return keys;
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

double defaultOf(std::string_view name) {
    const ParamSpec* row = findParam(name);
    return row ? row->defaultValue : 0.0;
}

const std::vector<SavedKey>& savedLookKeys() {
    static const std::vector<SavedKey>* const keys = new std::vector<SavedKey>(buildSavedKeys());
    return *keys;
}

}  // namespace vd
