// The parameter set as a host sees it after describe-in-context: every control with its
// kind, label, hint, default, ranges, flags and parent, the groups and the page.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "PluginHost.h"
#include "looks/Catalogue.h"

namespace {

using vd::testhost::Param;
using vd::testhost::PropertySet;
using vd::testhost::PropType;
using vd::testhost::TestHost;

using vd::test::kBundle;
using vd::test::writtenByPlugin;

// ---- The expected parameters ------------------------------------------------------------

struct GroupRow {
    const char* name;
    const char* label;
    int open;
};
const std::vector<GroupRow> kGroups = {
    {"look", "LOOK", 1},       {"adjustments", "ADJUSTMENTS", 1}, {"effects", "EFFECTS", 0},
    {"borders", "BORDERS", 0}, {"myLooks", "MY LOOKS", 0},        {"resetGroup", "OPTIONS", 1},
};

struct NumberRow {
    const char* name;
    const char* label;
    const char* parent;
    double value, min, max, displayMin, displayMax, increment;
    int digits;
    const char* hint;
};
const std::vector<NumberRow> kNumbers = {
    {"intensity", "Intensity", "look", 100, 0, 100, 0, 100, 1, 1,
     "100 is the full look. 0 leaves the LUT out."},
    {"exposure", "Exposure", "adjustments", 0, -4, 4, -2, 2, 0.001, 3,
     "Stops of light before the look. 0 leaves the camera code unchanged. +1 doubles 18% grey."},
    {"highlights", "Highlights", "adjustments", 0, -100, 100, -100, 100, 1, 1,
     "After the look. 0 is unchanged. Negative rolls the bright end down. Positive opens it. "
     "Lights stay the brightest part of the picture."},
    {"shadows", "Shadows", "adjustments", 0, -100, 100, -100, 100, 1, 1,
     "After the look. 0 is unchanged. +100 opens the darks about one stop. -100 closes them "
     "about one stop. Midtones stay put. Black stays black."},
    {"contrast", "Contrast", "adjustments", 0, -100, 100, -100, 100, 1, 1,
     "0 is unchanged. Positive adds contrast around mid grey."},
    {"saturation", "Saturation", "adjustments", 0, -100, 100, -100, 100, 1, 1,
     "0 is unchanged. -100 is grey. Positive is more colourful."},
    {"temperature", "Temperature", "adjustments", 0, -100, 100, -100, 100, 1, 1,
     "White balance in linear light, before the look. 0 is unchanged. Negative is cooler, "
     "positive is warmer."},
    {"tint", "Tint", "adjustments", 0, -100, 100, -100, 100, 1, 1,
     "White balance in linear light, before the look. 0 is unchanged. Negative is greener, "
     "positive is more magenta."},
    {"grainAmount", "Grain Amount", "effects", 0, 0, 100, 0, 100, 1, 1,
     "0 is off. 100 is full film grain."},
    {"grainSize", "Grain Size", "effects", 1, 0.25, 4, 0.25, 4, 0.1, 1,
     "1 is the normal grain size on a 1080p frame."},
    {"halationAmount", "Halation Amount", "effects", 0, 0, 100, 0, 100, 1, 1,
     "0 is off. Higher values add a red-orange fringe on highlight edges."},
    {"halationRadius", "Halation Radius", "effects", 1, 0.25, 4, 0.25, 4, 0.1, 1,
     "1 is about 52 pixels on a 1080p frame."},
    {"bloomAmount", "Bloom Amount", "effects", 0, 0, 100, 0, 100, 1, 1,
     "0 is off. Higher values add a soft glow around bright lights."},
    {"bloomRadius", "Bloom Radius", "effects", 1, 0.25, 4, 0.25, 4, 0.1, 1,
     "1 is about 120 pixels on a 1080p frame."},
    {"bloomThreshold", "Bloom Threshold", "effects", 70, 0, 100, 0, 100, 1, 1,
     "70 starts the glow near display luminance 0.7. Lower values glow earlier."},
    {"vignetteAmount", "Vignette Amount", "effects", 0, -100, 100, -100, 100, 1, 1,
     "0 is off. Negative darkens the edges. Positive lightens them."},
    {"vignetteSize", "Vignette Size", "effects", 0.5, 0, 1, 0, 1, 0.01, 2,
     "How far in from the edges the falloff starts. 0.5 starts halfway."},
    {"vignetteFeather", "Vignette Feather", "effects", 0.5, 0, 1, 0, 1, 0.01, 2,
     "How soft the edge is. 0.5 is a medium falloff."},
    {"borderTop", "Top/Bottom", "borders", 0, 0, 100, 0, 100, 1, 1,
     "0 is off. 100 covers the top and bottom until the bars meet in the middle."},
    {"borderSide", "Left/Right", "borders", 0, 0, 100, 0, 100, 1, 1,
     "0 is off. 100 covers the left and right until the bars meet in the middle."},
    {"splitPosition", "Split Position", "resetGroup", 50, 0, 100, 0, 100, 1, 0,
     "Where the divider sits. 0 is the left edge. 100 is the right edge. 50 is the middle."},
};

struct ChoiceRow {
    const char* name;
    const char* label;
    int value;
    int secret;
    int evaluateOnChange;
    const char* hint;
    std::vector<std::string> options;
};

const char* const kLookHint =
    "Looks for this pack. None leaves the picture ungraded before the sliders.";
const char* const kAppleLogHint =
    "Looks for this pack. Also works with Apple Log 2. None leaves the picture ungraded before "
    "the sliders.";
const char* const kDLogHint =
    "Looks for this pack. Also works with D-Log 2. None leaves the picture ungraded before the "
    "sliders.";

std::vector<std::string> lookOptions(int pack) {
    std::vector<std::string> out;
    for (int option = 0; option < vd::lookOptionCount(pack); ++option) {
        out.push_back(vd::lookOptionLabel(pack, option));
    }
    return out;
}

std::vector<ChoiceRow> choiceRows() {
    std::vector<std::string> saved{"No saved looks"};
    saved.resize(30, " ");
    const char* const menus[] = {"lutAuto",  "lutAppleLog", "lutIphoneNormal",
                                 "lutDLogM", "lutDLog",     "lutDjiDrone"};
    const char* const hints[] = {kLookHint, kAppleLogHint, kLookHint,
                                 kLookHint, kDLogHint,     kDLogHint};
    std::vector<ChoiceRow> rows = {
        {"footage",
         "Pack",
         0,
         0,
         1,
         "Choose a Pack leaves the picture without a look. iPhone Apple Log: Also works with "
         "Apple Log 2. These option numbers are fixed, so a renamed label still loads in a "
         "saved project.",
         {"Choose a Pack", "iPhone Apple Log", "iPhone Cinematic", "Osmo D-Log M", "Osmo D-Log",
          "Drone D-Log"}},
        {"savedLooks", "Saved Looks", 0, 0, 0,
         "Looks saved on this computer, shared by every project. Apply loads the selected one.",
         saved},
    };
    for (int pack = 0; pack < 6; ++pack) {
        const std::vector<std::string> options = lookOptions(pack);
        rows.push_back(
            {menus[pack], "LUT", options.size() >= 2 ? 1 : 0, 1, 1, hints[pack], options});
    }
    return rows;
}

struct TextRow {
    const char* name;
    const char* label;
    const char* parent;  // null: none
    const char* value;
    const char* mode;
    int enabled;
    int secret;
    const char* hint;  // null: none
};
const std::vector<TextRow> kTexts = {
    {"moreLooksNote", "More looks coming.", "look", "More looks coming.", kOfxParamStringIsLabel, 0,
     1, nullptr},
    {"dlog2Note", "Also works with D-Log 2.", "look", "Also works with D-Log 2.",
     kOfxParamStringIsLabel, 0, 1, nullptr},
    {"lookName", "Look Name", "myLooks", "", kOfxParamStringIsSingleLine, 1, 0,
     "Name used by Save Look and Rename. Leave it empty to use My Look N."},
    {"myLooksStatus", "Status", "myLooks", "", kOfxParamStringIsSingleLine, 0, 0, nullptr},
    {"updateNotice", "Update", "resetGroup", "", kOfxParamStringIsSingleLine, 0, 1, nullptr},
    {"pluginVersion", "Version", nullptr, "Vandrel Huebench v0.9.9", kOfxParamStringIsSingleLine, 0,
     0, nullptr},
};

struct ToggleRow {
    const char* name;
    const char* label;
    const char* hint;
};
const std::vector<ToggleRow> kToggles = {
    {"beforeAfter", "Before/After", "Shows the original picture. Not saved in My Looks."},
    {"splitScreen", "Split Screen",
     "Left is the original. Right is the grade. Not saved in My Looks."},
};

struct ButtonRow {
    const char* name;
    const char* label;
    const char* parent;
    std::optional<int> secret;
    std::optional<int> enabled;
    const char* hint;
};
const std::vector<ButtonRow> kButtons = {
    {"saveLook", "Save Look", "myLooks", 0, 1,
     "Saves Pack, LUT, Intensity, the adjustments, the effects, and the borders under Look "
     "Name. The same name replaces the saved look."},
    {"applyLook", "Apply", "myLooks", 0, 1, "Loads the selected saved look into this clip."},
    {"renameLook", "Rename", "myLooks", 0, 1,
     "Renames the selected saved look to the Look Name text."},
    {"deleteLook", "Delete", "myLooks", 0, 1,
     "Deletes the selected saved look from this computer."},
    {"reset", "Reset", "resetGroup", std::nullopt, std::nullopt,
     "Sets Pack back to Choose a Pack, turns Before/After and Split Screen off, and puts "
     "Intensity, the adjustments, the effects, and the borders back to their defaults. Border "
     "colour goes back to black. Split Position goes back to 50. My Looks stay."},
    {"downloadUpdate", "Download Update", "resetGroup", 1, 1,
     "Opens the download page for the newer version."},
    {"help", "More Info", "resetGroup", 0, 1, "Opens the Vandrel Huebench page in your browser."},
    {"sendFeedback", "Support / Help", "resetGroup", 0, 1,
     "Opens the Vandrel contact page in your browser."},
};

const std::vector<std::string> kPageChildren = {
    "look",          "footage",        "lutAuto",        "lutAppleLog",    "lutIphoneNormal",
    "lutDLogM",      "lutDLog",        "lutDjiDrone",    "moreLooksNote",  "dlog2Note",
    "intensity",     "adjustments",    "exposure",       "highlights",     "shadows",
    "contrast",      "saturation",     "temperature",    "tint",           "effects",
    "grainAmount",   "grainSize",      "halationAmount", "halationRadius", "bloomAmount",
    "bloomRadius",   "bloomThreshold", "vignetteAmount", "vignetteSize",   "vignetteFeather",
    "borders",       "borderTop",      "borderSide",     "borderColour",   "myLooks",
    "lookName",      "savedLooks",     "saveLook",       "applyLook",      "renameLook",
    "deleteLook",    "myLooksStatus",  "resetGroup",     "beforeAfter",    "splitScreen",
    "splitPosition", "reset",          "updateNotice",   "downloadUpdate", "help",
    "sendFeedback",  "pluginVersion",
};

// ---- Fixture: one described filter context per host profile ------------------------------

class ParamsOnHost : public ::testing::TestWithParam<bool> {
  protected:
    bool fullHost() const { return GetParam(); }
    void SetUp() override {
        host_.emplace(kBundle, vd::test::hostProfile(fullHost()));
        host_->setUp(kOfxImageEffectContextFilter);
    }
    const Param& param(const std::string& name) {
        return host_->context(kOfxImageEffectContextFilter).param(name);
    }
    std::optional<TestHost> host_;
};

TEST_P(ParamsOnHost, GroupsHaveLabelAndOpenStateOnly) {
    for (const GroupRow& row : kGroups) {
        SCOPED_TRACE(row.name);
        const Param& p = param(row.name);
        EXPECT_EQ(p.type, kOfxParamTypeGroup);
        EXPECT_EQ(p.props.string(kOfxPropLabel), row.label);
        EXPECT_EQ(p.props.integer(kOfxParamPropGroupOpen), row.open);
        EXPECT_EQ(writtenByPlugin(p.props),
                  (std::set<std::string>{kOfxPropLabel, kOfxParamPropGroupOpen}));
    }
}

TEST_P(ParamsOnHost, NumbersHaveTheirRangesStepsAndHints) {
    for (const NumberRow& row : kNumbers) {
        SCOPED_TRACE(row.name);
        const Param& p = param(row.name);
        const PropertySet& s = p.props;
        EXPECT_EQ(p.type, kOfxParamTypeDouble);
        EXPECT_EQ(s.string(kOfxPropLabel), row.label);
        EXPECT_EQ(s.string(kOfxParamPropHint), row.hint);
        EXPECT_EQ(s.string(kOfxParamPropParent), row.parent);
        EXPECT_EQ(s.string(kOfxParamPropDoubleType), kOfxParamDoubleTypePlain);
        EXPECT_EQ(s.real(kOfxParamPropDefault), row.value);
        EXPECT_EQ(s.real(kOfxParamPropMin), row.min);
        EXPECT_EQ(s.real(kOfxParamPropMax), row.max);
        EXPECT_EQ(s.real(kOfxParamPropDisplayMin), row.displayMin);
        EXPECT_EQ(s.real(kOfxParamPropDisplayMax), row.displayMax);
        EXPECT_EQ(s.real(kOfxParamPropIncrement), row.increment);
        EXPECT_EQ(s.integer(kOfxParamPropDigits), row.digits);
        std::set<std::string> expected{
            kOfxPropLabel,           kOfxParamPropHint,       kOfxParamPropDoubleType,
            kOfxParamPropDefault,    kOfxParamPropMin,        kOfxParamPropMax,
            kOfxParamPropDisplayMin, kOfxParamPropDisplayMax, kOfxParamPropIncrement,
            kOfxParamPropDigits,     kOfxParamPropAnimates,   kOfxParamPropParent};
        if (std::string(row.name) == "splitPosition") {
            // Shown only while Split Screen is on, and never animated.
            EXPECT_EQ(s.integer(kOfxParamPropAnimates), 0);
            EXPECT_EQ(s.integer(kOfxParamPropSecret), 1);
            expected.insert(kOfxParamPropSecret);
        } else {
            EXPECT_EQ(s.integer(kOfxParamPropAnimates), 1);
        }
        EXPECT_EQ(writtenByPlugin(s), expected);
    }
}

TEST_P(ParamsOnHost, ChoicesListTheirOptionsInOrderWithFlags) {
    for (const ChoiceRow& row : choiceRows()) {
        SCOPED_TRACE(row.name);
        const Param& p = param(row.name);
        const PropertySet& s = p.props;
        EXPECT_EQ(p.type, kOfxParamTypeChoice);
        EXPECT_EQ(s.string(kOfxPropLabel), row.label);
        EXPECT_EQ(s.string(kOfxParamPropHint), row.hint);
        EXPECT_EQ(s.strings(kOfxParamPropChoiceOption), row.options);
        EXPECT_EQ(s.integer(kOfxParamPropDefault), row.value);
        EXPECT_EQ(s.integer(kOfxParamPropSecret), row.secret);
        EXPECT_EQ(s.integer(kOfxParamPropAnimates), 0);
        EXPECT_EQ(s.integer(kOfxParamPropEvaluateOnChange), row.evaluateOnChange);
        EXPECT_EQ(s.string(kOfxParamPropParent),
                  std::string(row.name) == "savedLooks" ? "myLooks" : "look");
        std::set<std::string> expected{kOfxPropLabel,
                                       kOfxParamPropHint,
                                       kOfxParamPropChoiceOption,
                                       kOfxParamPropDefault,
                                       kOfxParamPropSecret,
                                       kOfxParamPropAnimates,
                                       kOfxParamPropEvaluateOnChange,
                                       kOfxParamPropParent};
        if (fullHost()) {
            // The order pins option numbers; a host without propSetIntN gets none.
            std::vector<int> order(row.options.size());
            for (std::size_t i = 0; i < order.size(); ++i) {
                order[i] = static_cast<int>(i);
            }
            EXPECT_EQ(s.integers(kOfxParamPropChoiceOrder), order);
            expected.insert(kOfxParamPropChoiceOrder);
        }
        EXPECT_EQ(writtenByPlugin(s), expected);
    }
}

TEST_P(ParamsOnHost, LookMenusFollowTheCataloguePacks) {
    // Pack 0 offers only "None"; every other pack starts on its first look.
    EXPECT_EQ(param("lutAuto").props.strings(kOfxParamPropChoiceOption),
              std::vector<std::string>{"None"});
    EXPECT_EQ(param("lutAuto").props.integer(kOfxParamPropDefault), 0);
    for (int pack = 0; pack < vd::packCount(); ++pack) {
        const PropertySet& s = param(vd::packLutParam(pack)).props;
        EXPECT_EQ(s.string(kOfxParamPropChoiceOption, 0), "None");
        EXPECT_EQ(s.dimension(kOfxParamPropChoiceOption), vd::lookOptionCount(pack));
    }
    EXPECT_EQ(param("lutAppleLog").props.string(kOfxParamPropChoiceOption, 1),
              "iPhone Apple Log 01");
}

TEST_P(ParamsOnHost, TextsHaveModeEnabledAndSecretAndOnlyListedHints) {
    for (const TextRow& row : kTexts) {
        SCOPED_TRACE(row.name);
        const Param& p = param(row.name);
        const PropertySet& s = p.props;
        EXPECT_EQ(p.type, kOfxParamTypeString);
        EXPECT_EQ(s.string(kOfxPropLabel), row.label);
        EXPECT_EQ(s.string(kOfxParamPropDefault), row.value);
        EXPECT_EQ(s.string(kOfxParamPropStringMode), row.mode);
        EXPECT_EQ(s.integer(kOfxParamPropEnabled), row.enabled);
        EXPECT_EQ(s.integer(kOfxParamPropSecret), row.secret);
        EXPECT_EQ(s.integer(kOfxParamPropAnimates), 0);
        EXPECT_EQ(s.integer(kOfxParamPropEvaluateOnChange), 0);
        std::set<std::string> expected{kOfxPropLabel,           kOfxParamPropDefault,
                                       kOfxParamPropStringMode, kOfxParamPropEnabled,
                                       kOfxParamPropAnimates,   kOfxParamPropEvaluateOnChange,
                                       kOfxParamPropSecret};
        if (row.hint) {
            EXPECT_EQ(s.string(kOfxParamPropHint), row.hint);
            expected.insert(kOfxParamPropHint);
        }
        if (row.parent) {
            EXPECT_EQ(s.string(kOfxParamPropParent), row.parent);
            expected.insert(kOfxParamPropParent);
        }
        EXPECT_EQ(writtenByPlugin(s), expected);
    }
}

TEST_P(ParamsOnHost, SwitchesStartOffAndReRenderOnChange) {
    for (const ToggleRow& row : kToggles) {
        SCOPED_TRACE(row.name);
        const Param& p = param(row.name);
        const PropertySet& s = p.props;
        EXPECT_EQ(p.type, kOfxParamTypeBoolean);
        EXPECT_EQ(s.string(kOfxPropLabel), row.label);
        EXPECT_EQ(s.string(kOfxParamPropHint), row.hint);
        EXPECT_EQ(s.integer(kOfxParamPropDefault), 0);
        EXPECT_EQ(s.integer(kOfxParamPropAnimates), 0);
        EXPECT_EQ(s.integer(kOfxParamPropSecret), 0);
        EXPECT_EQ(s.integer(kOfxParamPropEvaluateOnChange), 1);
        EXPECT_EQ(s.string(kOfxParamPropParent), "resetGroup");
        EXPECT_EQ(writtenByPlugin(s),
                  (std::set<std::string>{kOfxPropLabel, kOfxParamPropHint, kOfxParamPropDefault,
                                         kOfxParamPropAnimates, kOfxParamPropSecret,
                                         kOfxParamPropEvaluateOnChange, kOfxParamPropParent}));
    }
}

TEST_P(ParamsOnHost, BorderColourIsAnAnimatedBlackRgb) {
    const Param& p = param("borderColour");
    EXPECT_EQ(p.type, kOfxParamTypeRGB);
    EXPECT_EQ(p.props.string(kOfxPropLabel), "Border Colour");
    EXPECT_EQ(p.props.string(kOfxParamPropHint), "Colour of the bars. Black is the default.");
    EXPECT_EQ(p.props.reals(kOfxParamPropDefault), (std::vector<double>{0, 0, 0}));
    EXPECT_EQ(p.props.integer(kOfxParamPropAnimates), 1);
    EXPECT_EQ(p.props.string(kOfxParamPropParent), "borders");
    EXPECT_EQ(writtenByPlugin(p.props),
              (std::set<std::string>{kOfxPropLabel, kOfxParamPropHint, kOfxParamPropDefault,
                                     kOfxParamPropAnimates, kOfxParamPropParent}));
}

TEST_P(ParamsOnHost, ButtonsSetOnlyTheFlagsTheyList) {
    for (const ButtonRow& row : kButtons) {
        SCOPED_TRACE(row.name);
        const Param& p = param(row.name);
        const PropertySet& s = p.props;
        EXPECT_EQ(p.type, kOfxParamTypePushButton);
        EXPECT_EQ(s.string(kOfxPropLabel), row.label);
        EXPECT_EQ(s.string(kOfxParamPropHint), row.hint);
        EXPECT_EQ(s.string(kOfxParamPropParent), row.parent);
        EXPECT_EQ(s.integer(kOfxParamPropAnimates), 0);
        EXPECT_EQ(s.integer(kOfxParamPropEvaluateOnChange), 0);
        std::set<std::string> expected{kOfxPropLabel, kOfxParamPropHint, kOfxParamPropAnimates,
                                       kOfxParamPropEvaluateOnChange, kOfxParamPropParent};
        if (row.secret) {
            EXPECT_EQ(s.integer(kOfxParamPropSecret), *row.secret);
            expected.insert(kOfxParamPropSecret);
        }
        if (row.enabled) {
            EXPECT_EQ(s.integer(kOfxParamPropEnabled), *row.enabled);
            expected.insert(kOfxParamPropEnabled);
        }
        EXPECT_EQ(writtenByPlugin(s), expected);
    }
}

TEST_P(ParamsOnHost, PageListsEveryControlInOrderAndIsDefinedLast) {
    const auto& effect = host_->context(kOfxImageEffectContextFilter);
    const Param& page = param("controls");
    EXPECT_EQ(page.type, kOfxParamTypePage);
    EXPECT_EQ(page.props.string(kOfxPropLabel), "Vandrel Huebench");
    EXPECT_EQ(page.props.strings(kOfxParamPropPageChild), kPageChildren);
    EXPECT_EQ(writtenByPlugin(page.props),
              (std::set<std::string>{kOfxPropLabel, kOfxParamPropPageChild}));

    // Definition order: the page order, except that the web-page buttons come before the
    // update controls and the version; the page itself comes last.
    std::vector<std::string> order = kPageChildren;
    const auto notice = std::find(order.begin(), order.end(), "updateNotice");
    std::rotate(notice, notice + 2, notice + 4);
    order.push_back("controls");
    EXPECT_EQ(effect.paramNames(), order);
    EXPECT_EQ(effect.params().size(), kGroups.size() + kNumbers.size() + choiceRows().size() +
                                          kTexts.size() + kToggles.size() + kButtons.size() + 2);
}

INSTANTIATE_TEST_SUITE_P(Profiles, ParamsOnHost, ::testing::Bool(), vd::test::profileName);

}  // namespace
