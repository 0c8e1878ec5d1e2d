// The JSON text of the My Looks file: a lenient single-pass reader that knows the document
// and its look entries and steps over everything else, and a writer with one fixed layout.
//
// Owns: `SavedLook`, parseMyLooksText, formatMyLooksText, formatJsonNumber, and the small
// reader cursor that other small state files of this system reuse.
// Does not own: where the file lives, repair or saving (Store.h); there is no general JSON
// value tree. Numbers are converted in the classic locale whatever the process locale is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vd {

// One saved look. The defaults are the values a look entry gets for an absent key.
struct SavedLook {
    std::string name;
    std::int32_t pack = 0;
    std::int32_t lut = 0;
    double intensity = 100;
    double exposure = 0;
    double highlights = 0;
    double shadows = 0;
    double contrast = 0;
    double saturation = 0;
    double temperature = 0;
    double tint = 0;
    double grainAmount = 0;
    double grainSize = 1;
    double halationAmount = 0;
    double halationRadius = 1;
    double bloomAmount = 0;
    double bloomRadius = 1;
    double bloomThreshold = 70;
    double vignetteAmount = 0;
    double vignetteSize = 0.5;
    double vignetteFeather = 0.5;
    double borderTop = 0;
    double borderSide = 0;
    double borderRed = 0;
    double borderGreen = 0;
    double borderBlue = 0;

    bool operator==(const SavedLook&) const = default;
};

// The 23 double fields in the order the writer emits them, with their JSON keys.
struct SavedLookNumberField {
    const char* key;
    double SavedLook::*field;
};
inline constexpr std::size_t kSavedLookNumberFieldCount = 23;
// The first 20 of them (intensity to borderSide) are also the names of the effect's number
// parameters; the last three are the components of its border colour.
inline constexpr std::size_t kSavedLookParamFieldCount = 20;
const SavedLookNumberField* savedLookNumberFields();

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

// Integral values (within 1e-9) as plain integers, others with 17 significant digits;
// anything not finite as "0".
std::string formatJsonNumber(double x);

// ---- The reader cursor --------------------------------------------------------------
// Every step checks ok first and does nothing once it is false; the first failure clears
// it for good. Nothing throws except std::bad_alloc.
struct JsonReader {
    std::string_view text;
    std::size_t pos = 0;
    bool ok = true;
    int depth = 0;  // open containers; deeper than kMaxJsonDepth fails the parse
};
inline constexpr int kMaxJsonDepth = 256;

void skipJsonWhitespace(JsonReader& r);
// Skips whitespace, then steps over c or fails.
void expectJsonChar(JsonReader& r, char c);
// Reads a quoted string with its escapes decoded into out (emptied first).
void readJsonString(JsonReader& r, std::string& out);
// Reads a number as strtod does in the classic locale; 0 on failure.
double readJsonNumber(JsonReader& r);
// Steps over one value of any kind.
void skipJsonValue(JsonReader& r);
// Reads an object, calling member(key) with the cursor before each member's value; the
// callback must consume the value (read it or skip it).
void readJsonObject(JsonReader& r, const std::function<void(const std::string& key)>& member);
// Whether only whitespace remains; fails the cursor otherwise.
bool finishJsonText(JsonReader& r);

// Truncation toward zero to int32; out of range or not a number gives INT32_MIN.
std::int32_t jsonNumberToInt32(double x);
// Appends bytes as a quoted JSON string with the writer's escapes.
void appendJsonString(std::string& out, std::string_view bytes);

}  // namespace vd
