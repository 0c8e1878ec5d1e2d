// The effect's parameters as one table: names, kinds, labels, hints, defaults and ranges.
//
// Owns: the single description of every control that describe-in-context defines and that
// Reset and My Looks read back (defaults, names), so that they cannot drift apart. Rows are
// in the order the page lists them; the per-pack look menus come from the look catalogue.
// Does not own: defining them with the host (DefineParams.cpp) or what they do.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vd {

enum class ParamKind { group, choice, number, text, toggle, colour, button };

// What a failed definition of the parameter does to describe-in-context.
enum class OnDefineFailure {
    endAction,  // skip every later definition and return 1
    leaveOut,   // go on without this parameter
};

struct ParamSpec {
    std::string name;
    ParamKind kind = ParamKind::number;
    std::string label;
    std::optional<std::string> hint;
    std::string parent;  // empty: outside every group
    OnDefineFailure onFailure = OnDefineFailure::endAction;

    // number: value, range, display range, increment and digits. choice and toggle keep
    // their integer default in defaultValue too.
    double defaultValue = 0.0;
    double min = 0.0;
    double max = 0.0;
    double displayMin = 0.0;
    double displayMax = 0.0;
    double increment = 1.0;
    int digits = 1;
    // A number that is made non-animating and hidden through its handle after definition.
    bool frozenAndHidden = false;

    std::array<double, 3> defaultColour{0.0, 0.0, 0.0};  // colour

    std::string defaultText;  // text
    bool labelMode = false;   // text: a read-only label instead of a single-line field

    std::vector<std::string> options;  // choice, in option-number order

    bool groupOpen = false;  // group

    // Flags set only when given (which ones a kind always sets is up to the definer).
    std::optional<bool> secret;
    std::optional<bool> enabled;
    std::optional<bool> evaluateOnChange;

    // Listed on the page before the web-page buttons but defined after them (the update
    // notice controls and the version).
    bool definedLast = false;
};

// Every parameter, in page order. Built once per process; never changes afterwards.
const std::vector<ParamSpec>& paramTable();

// The row of a parameter, or null.
const ParamSpec* findParam(std::string_view name);

// The page that lists every parameter, and its label.
inline constexpr const char* kPageName = "controls";
// Number of options of the saved-looks menu: "No saved looks" and 29 blank ones.
inline constexpr int kSavedLooksOptions = 30;

// "Vandrel Huebench v0.9.9", built once per process.
const std::string& pluginVersionText();

}  // namespace vd
