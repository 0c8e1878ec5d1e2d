// The JSON text of the My Looks file: a lenient single-pass reader that knows the document
// and its look entries and steps over everything else, and a writer with one fixed layout.
//
// Owns: `SavedLook`, parseMyLooksText, formatMyLooksText.
// Does not own: where the file lives, repair or saving (Store.h); the JSON reader and
// writer pieces (json/Json.h); which controls a look keeps, their keys and defaults (the
// control table, controls/Controls.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vd {

// One saved look. A new record holds the values a look entry gets for an absent key: the
// controls' defaults. The number fields are declared in the control table's order of saved
// keys (savedLookKeys()), which is also the order the writer emits them in.
struct SavedLook {
    SavedLook();

    std::string name;
    std::int32_t pack = 0;
    std::int32_t lut = 0;
    double intensity;
    double exposure;
    double highlights;
    double shadows;
    double contrast;
    double saturation;
    double temperature;
    double tint;
    double grainAmount;
    double grainSize;
    double halationAmount;
    double halationRadius;
    double bloomAmount;
    double bloomRadius;
    double bloomThreshold;
    double vignetteAmount;
    double vignetteSize;
    double vignetteFeather;
    double borderTop;
    double borderSide;
    double borderRed;
    double borderGreen;
    double borderBlue;

    bool operator==(const SavedLook&) const = default;
};

// The field of a saved key of the control table, or null for a key no field carries.
double SavedLook::*savedLookField(std::string_view key);

struct ParsedMyLooks {
    bool ok = false;
    std::int32_t schema = 1;
    std::vector<SavedLook> looks;
    bool hasLooks = false;  // a "looks" member was present
};

// Reads the whole text; the caller has already dropped a byte-order mark. On failure
// (ok false) schema and looks are meaningless.
ParsedMyLooks parseMyLooksText(std::string_view text);

// The whole file text for a list of looks, schema 1. Cannot fail.
std::string formatMyLooksText(const std::vector<SavedLook>& looks);

}  // namespace vd
