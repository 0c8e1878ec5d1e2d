// The effect's controls, each described once: name, kind, label, hint, default, ranges,
// flags, how the render hands it to the engine, whether Reset and My Looks touch it, and
// its command-line option.
//
// Owns: the table of every parameter in page order and the names of those that code
// addresses directly. Describe-in-context defines the parameters from it, Reset and My
// Looks find their parameters and defaults in it, the render reads controls into
// GradeSettings through it, and the command line builds its options from it, so none of
// them can drift apart. The per-pack look menus come from the look catalogue.
// Does not own: defining parameters with a host, or what the controls do.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "grade/GradeSettings.h"

namespace vd {

// Names of the parameters and groups that code outside the table addresses. Every other
// name is written once, in the table.
namespace control {
inline constexpr char look[] = "look";
inline constexpr char adjustments[] = "adjustments";
inline constexpr char effects[] = "effects";
inline constexpr char borders[] = "borders";
inline constexpr char myLooks[] = "myLooks";
inline constexpr char resetGroup[] = "resetGroup";

inline constexpr char footage[] = "footage";
inline constexpr char moreLooksNote[] = "moreLooksNote";
inline constexpr char dlog2Note[] = "dlog2Note";
inline constexpr char halationAmount[] = "halationAmount";
inline constexpr char halationRadius[] = "halationRadius";
inline constexpr char bloomAmount[] = "bloomAmount";
inline constexpr char bloomRadius[] = "bloomRadius";
inline constexpr char lookName[] = "lookName";
inline constexpr char savedLooks[] = "savedLooks";
inline constexpr char saveLook[] = "saveLook";
inline constexpr char applyLook[] = "applyLook";
inline constexpr char renameLook[] = "renameLook";
inline constexpr char deleteLook[] = "deleteLook";
inline constexpr char myLooksStatus[] = "myLooksStatus";
inline constexpr char beforeAfter[] = "beforeAfter";
inline constexpr char splitScreen[] = "splitScreen";
inline constexpr char splitPosition[] = "splitPosition";
inline constexpr char reset[] = "reset";
inline constexpr char updateNotice[] = "updateNotice";
inline constexpr char downloadUpdate[] = "downloadUpdate";
inline constexpr char help[] = "help";
inline constexpr char sendFeedback[] = "sendFeedback";
inline constexpr char pluginVersion[] = "pluginVersion";
}  // namespace control

// The page that lists every parameter.
inline constexpr const char* kPageName = "controls";
// Number of options of the saved-looks menu: "No saved looks" and 29 blank ones.
inline constexpr int kSavedLooksOptions = 30;

// A private string property of an effect instance, set by every render: "applied" when the
// render used its look, "none" when no look was asked for, else "failed: " and the reason.
// A host that does not keep unknown properties simply refuses it; the test host keeps it.
inline constexpr const char* kLookStatusProperty = "com.vandrel.Looks.lookStatus";

enum class ParamKind { group, choice, number, text, toggle, colour, button };

// What a failed definition of the parameter does to describe-in-context.
enum class OnDefineFailure {
    endAction,  // skip every later definition and return 1
    leaveOut,   // go on without this parameter
};

// Whether the render reads the control, and what an unreadable value does.
enum class RenderRead {
    no,
    required,  // the render fails with status 1
    optional,  // the record keeps its fresh value
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

    // The render: which GradeSettings field the value fills (a number, a switch, or the
    // border colour), and how many host units make one engine unit (100 for percentages).
    RenderRead renderRead = RenderRead::no;
    float GradeSettings::*engineNumber = nullptr;
    bool GradeSettings::*engineSwitch = nullptr;
    bool engineColour = false;
    double hostPerEngine = 1.0;

    // Reset puts the control back to its default.
    bool resets = false;
    // The My Looks keys the value is saved under: one for a number, one per component for
    // a colour; empty when My Looks does not keep it. (The pack and its look are saved as
    // "pack" and "lut" by My Looks itself.)
    std::vector<std::string> savedKeys;
    // The command line's option for the control, without the leading "--"; empty: none.
    std::string option;
};

// Every parameter, in page order. Built once per process; never changes afterwards.
const std::vector<ParamSpec>& paramTable();

// The row of a parameter, or null.
const ParamSpec* findParam(std::string_view name);
// The default of a number, choice or toggle; 0 for an unknown name.
double defaultOf(std::string_view name);

// One saved number of a look: its My Looks key and the value an absent key gets.
struct SavedKey {
    std::string key;
    double defaultValue = 0.0;
};
// Every saved number in table order (the three border colour components last).
const std::vector<SavedKey>& savedLookKeys();

}  // namespace vd
