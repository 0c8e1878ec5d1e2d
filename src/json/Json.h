// The small JSON reader and writer pieces that the system's own state files share: a
// forward-only reader cursor over one text, and the writer's string and number forms.
//
// Owns: JsonReader and its steps (whitespace, expected characters, strings with escapes,
// numbers as strtod reads them, skipping any value, objects member by member), the
// conversion of a number to int32, the escaped string and number forms of the writer.
// Does not own: any file's layout (My Looks, the update state); there is no value tree.
// Numbers are converted in the classic locale whatever the process locale is. Nothing here
// throws except std::bad_alloc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vd {

// Every step checks ok first and does nothing once it is false; the first failure clears
// it for good.
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
// Reads an array, calling element() with the cursor before each element; the callback must
// consume it. An empty array calls nothing.
void readJsonArray(JsonReader& r, const std::function<void()>& element);
// Whether only whitespace remains; fails the cursor otherwise.
bool finishJsonText(JsonReader& r);

// Truncation toward zero to int32; out of range or not a number gives INT32_MIN.
std::int32_t jsonNumberToInt32(double x);
// Appends bytes as a quoted JSON string with the writer's escapes.
void appendJsonString(std::string& out, std::string_view bytes);
// Integral values (within 1e-9) as plain integers, others with 17 significant digits;
// anything not finite as "0".
std::string formatJsonNumber(double x);

}  // namespace vd
