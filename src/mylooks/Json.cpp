#include "mylooks/Json.h"

#include <locale.h>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>

namespace vd {

namespace {

const SavedLookNumberField kNumberFields[kSavedLookNumberFieldCount] = {
    {"intensity", &SavedLook::intensity},
    {"exposure", &SavedLook::exposure},
    {"highlights", &SavedLook::highlights},
    {"shadows", &SavedLook::shadows},
    {"contrast", &SavedLook::contrast},
    {"saturation", &SavedLook::saturation},
    {"temperature", &SavedLook::temperature},
    {"tint", &SavedLook::tint},
    {"grainAmount", &SavedLook::grainAmount},
    {"grainSize", &SavedLook::grainSize},
    {"halationAmount", &SavedLook::halationAmount},
    {"halationRadius", &SavedLook::halationRadius},
    {"bloomAmount", &SavedLook::bloomAmount},
    {"bloomRadius", &SavedLook::bloomRadius},
    {"bloomThreshold", &SavedLook::bloomThreshold},
    {"vignetteAmount", &SavedLook::vignetteAmount},
    {"vignetteSize", &SavedLook::vignetteSize},
    {"vignetteFeather", &SavedLook::vignetteFeather},
    {"borderTop", &SavedLook::borderTop},
    {"borderSide", &SavedLook::borderSide},
    {"borderRed", &SavedLook::borderRed},
    {"borderGreen", &SavedLook::borderGreen},
    {"borderBlue", &SavedLook::borderBlue},
};

// isspace in the classic locale, independent of the process locale.
bool isJsonSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Every byte strtod can consume after leading whitespace: signs, digits, the decimal
// point, exponent and hex letters, the words inf/infinity/nan and nan's "(chars)" suffix.
bool mayBelongToNumber(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
           c == '+' || c == '-' || c == '_' || c == '(' || c == ')';
}

bool isSkippedNumberByte(char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// strtod with '.' as the decimal point whatever setlocale() was given. The locale object
// is made once and kept for the life of the process.
double classicStrtod(const char* text, char** end) {
#if defined(_WIN32)
    static const _locale_t classic = _create_locale(LC_NUMERIC, "C");
    return classic != nullptr ? _strtod_l(text, end, classic) : std::strtod(text, end);
#else
    static const locale_t classic = ::newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    return classic != static_cast<locale_t>(0) ? ::strtod_l(text, end, classic)
                                               : std::strtod(text, end);
#endif
}

bool enterContainer(JsonReader& r) {
    if (++r.depth > kMaxJsonDepth) {
        r.ok = false;
    }
    return r.ok;
}

bool startsWith(const JsonReader& r, std::string_view word) {
    return r.text.substr(r.pos, word.size()) == word;
}

void skipJsonArray(JsonReader& r) {
    expectJsonChar(r, '[');
    if (!r.ok || !enterContainer(r)) {
        return;
    }
    skipJsonWhitespace(r);
    if (r.pos < r.text.size() && r.text[r.pos] == ']') {
        ++r.pos;
    } else {
        while (r.ok) {
            skipJsonValue(r);
            skipJsonWhitespace(r);
            if (r.ok && r.pos < r.text.size() && r.text[r.pos] == ']') {
                ++r.pos;
                break;
            }
            expectJsonChar(r, ',');
        }
    }
    --r.depth;
}

void readLookEntry(JsonReader& r, SavedLook& look) {
    bool nameSeen = false;
    readJsonObject(r, [&](const std::string& key) {
        if (key == "name") {
            readJsonString(r, look.name);
            nameSeen = true;
        } else if (key == "pack") {
            look.pack = jsonNumberToInt32(readJsonNumber(r));
        } else if (key == "lut") {
            look.lut = jsonNumberToInt32(readJsonNumber(r));
        } else {
            for (std::size_t i = 0; i < kSavedLookNumberFieldCount; ++i) {
                if (key == kNumberFields[i].key) {
                    look.*kNumberFields[i].field = readJsonNumber(r);
                    return;
                }
            }
            skipJsonValue(r);
        }
    });
    if (r.ok && !nameSeen) {
        r.ok = false;
    }
}

void readLooksArray(JsonReader& r, std::vector<SavedLook>& looks) {
    expectJsonChar(r, '[');
    if (!r.ok || !enterContainer(r)) {
        return;
    }
    skipJsonWhitespace(r);
    if (r.pos < r.text.size() && r.text[r.pos] == ']') {
        ++r.pos;
    } else {
        while (r.ok) {
            SavedLook look;
            readLookEntry(r, look);
            if (!r.ok) {
                break;
            }
            looks.push_back(std::move(look));
            skipJsonWhitespace(r);
            if (r.pos < r.text.size() && r.text[r.pos] == ']') {
                ++r.pos;
                break;
            }
            expectJsonChar(r, ',');
        }
    }
    --r.depth;
}

}  // namespace

const SavedLookNumberField* savedLookNumberFields() {
    return kNumberFields;
}

void skipJsonWhitespace(JsonReader& r) {
    if (!r.ok) {
        return;
    }
    while (r.pos < r.text.size() && isJsonSpace(r.text[r.pos])) {
        ++r.pos;
    }
}

void expectJsonChar(JsonReader& r, char c) {
    skipJsonWhitespace(r);
    if (!r.ok) {
        return;
    }
    if (r.pos >= r.text.size() || r.text[r.pos] != c) {
        r.ok = false;
        return;
    }
    ++r.pos;
}

void readJsonString(JsonReader& r, std::string& out) {
    expectJsonChar(r, '"');
    if (!r.ok) {
        return;
    }
    out.clear();
    for (;;) {
        if (r.pos >= r.text.size()) {
            r.ok = false;  // unterminated
            return;
        }
        const char c = r.text[r.pos++];
        if (c == '"') {
            return;
        }
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (r.pos >= r.text.size()) {
            r.ok = false;
            return;
        }
        const char e = r.text[r.pos++];
        switch (e) {
            case '"':
            case '\\':
            case '/':
                out.push_back(e);
                break;
            case 'b':
                out.push_back('\b');
                break;
            case 'f':
                out.push_back('\f');
                break;
            case 'n':
                out.push_back('\n');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case 't':
                out.push_back('\t');
                break;
            case 'u': {
                if (r.text.size() - r.pos < 4) {
                    r.ok = false;
                    return;
                }
                unsigned v = 0;
                for (int i = 0; i < 4; ++i) {
                    const int h = hexValue(r.text[r.pos + static_cast<std::size_t>(i)]);
                    if (h < 0) {
                        r.ok = false;
                        return;
                    }
                    v = v * 16 + static_cast<unsigned>(h);
                }
                r.pos += 4;
                // Each unit is encoded on its own: surrogates become three-byte sequences.
                if (v < 0x80) {
                    out.push_back(static_cast<char>(v));
                } else if (v < 0x800) {
                    out.push_back(static_cast<char>(0xC0 | (v >> 6)));
                    out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
                } else {
                    out.push_back(static_cast<char>(0xE0 | (v >> 12)));
                    out.push_back(static_cast<char>(0x80 | ((v >> 6) & 0x3F)));
                    out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
                }
                break;
            }
            default:
                r.ok = false;
                return;
        }
    }
}

double readJsonNumber(JsonReader& r) {
    skipJsonWhitespace(r);
    if (!r.ok) {
        return 0;
    }
    // strtod needs a terminated string and the text may not be one: copy the longest run
    // it could possibly consume. It stops at the first byte outside that run anyway.
    std::size_t end = r.pos;
    while (end < r.text.size() && mayBelongToNumber(r.text[end])) {
        ++end;
    }
    const std::string_view run = r.text.substr(r.pos, end - r.pos);
    char small[64];
    std::string large;
    const char* start = small;
    if (run.size() < sizeof small) {
        run.copy(small, run.size());
        small[run.size()] = '\0';
    } else {
        large.assign(run);
        start = large.c_str();
    }
    char* stop = nullptr;
    const double value = classicStrtod(start, &stop);
    const auto used = static_cast<std::size_t>(stop - start);
    if (used == 0) {
        r.ok = false;
        return 0;
    }
    r.pos += used;
    return value;
}

void skipJsonValue(JsonReader& r) {
    skipJsonWhitespace(r);
    if (!r.ok) {
        return;
    }
    if (r.pos >= r.text.size()) {
        r.ok = false;
        return;
    }
    const char c = r.text[r.pos];
    if (c == '"') {
        std::string dropped;
        readJsonString(r, dropped);
    } else if (c == '{') {
        readJsonObject(r, [&r](const std::string&) { skipJsonValue(r); });
    } else if (c == '[') {
        skipJsonArray(r);
    } else if (startsWith(r, "true")) {
        r.pos += 4;
    } else if (startsWith(r, "false")) {
        r.pos += 5;
    } else if (startsWith(r, "null")) {
        r.pos += 4;
    } else {
        const std::size_t start = r.pos;
        if (r.text[r.pos] == '-') {
            ++r.pos;
        }
        while (r.pos < r.text.size() && isSkippedNumberByte(r.text[r.pos])) {
            ++r.pos;
        }
        if (r.pos == start) {
            r.ok = false;
        }
    }
}

void readJsonObject(JsonReader& r, const std::function<void(const std::string& key)>& member) {
    expectJsonChar(r, '{');
    if (!r.ok || !enterContainer(r)) {
        return;
    }
    skipJsonWhitespace(r);
    if (r.pos < r.text.size() && r.text[r.pos] == '}') {
        ++r.pos;
    } else {
        std::string key;
        while (r.ok) {
            readJsonString(r, key);
            expectJsonChar(r, ':');
            if (!r.ok) {
                break;
            }
            member(key);
            skipJsonWhitespace(r);
            if (r.ok && r.pos < r.text.size() && r.text[r.pos] == '}') {
                ++r.pos;
                break;
            }
            expectJsonChar(r, ',');
        }
    }
    --r.depth;
}

bool finishJsonText(JsonReader& r) {
    skipJsonWhitespace(r);
    if (r.ok && r.pos != r.text.size()) {
        r.ok = false;
    }
    return r.ok;
}

std::int32_t jsonNumberToInt32(double x) {
    // NaN fails both comparisons; the bounds admit every value that truncates into range.
    if (!(x > -2147483649.0 && x < 2147483648.0)) {
        return INT32_MIN;
    }
    return static_cast<std::int32_t>(x);
}

ParsedMyLooks parseMyLooksText(std::string_view text) {
    ParsedMyLooks result;
    JsonReader r{text};
    readJsonObject(r, [&](const std::string& key) {
        if (key == "schema") {
            result.schema = jsonNumberToInt32(readJsonNumber(r));
        } else if (key == "looks") {
            result.hasLooks = true;
            readLooksArray(r, result.looks);
        } else {
            skipJsonValue(r);
        }
    });
    result.ok = finishJsonText(r);
    return result;
}

std::string formatJsonNumber(double x) {
    if (!std::isfinite(x)) {
        return "0";
    }
    const double rounded = std::round(x);
    if (std::fabs(x - rounded) < 1e-9 && rounded >= -1e15 && rounded <= 1e15) {
        return std::to_string(static_cast<long long>(rounded));
    }
    // to_chars with a precision formats as "%.17g" does, always in the classic locale.
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, 17);
    return std::string(buf, res.ptr);
}

void appendJsonString(std::string& out, std::string_view bytes) {
    static const char kHex[] = "0123456789abcdef";
    out.push_back('"');
    for (const char c : bytes) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default: {
                const auto u = static_cast<unsigned char>(c);
                if (u < 0x20) {
                    out += "\\u00";
                    out.push_back(kHex[u >> 4]);
                    out.push_back(kHex[u & 0xF]);
                } else {
                    out.push_back(c);
                }
            }
        }
    }
    out.push_back('"');
}

std::string formatMyLooksText(const std::vector<SavedLook>& looks) {
    std::string out = "{\n  \"schema\": 1,\n  \"looks\": [";
    bool first = true;
    for (const SavedLook& look : looks) {
        if (!first) {
            out.push_back(',');
        }
        first = false;
        out += "\n    {\n      \"name\": ";
        appendJsonString(out, look.name);
        out += ",\n      \"pack\": ";
        out += std::to_string(look.pack);
        out += ",\n      \"lut\": ";
        out += std::to_string(look.lut);
        for (const SavedLookNumberField& f : kNumberFields) {
            out += ",\n      \"";
            out += f.key;
            out += "\": ";
            out += formatJsonNumber(look.*f.field);
        }
        out += "\n    }";
    }
    if (!looks.empty()) {
        out.push_back('\n');
    }
    out += "  ]\n}\n";
    return out;
}

}  // namespace vd
