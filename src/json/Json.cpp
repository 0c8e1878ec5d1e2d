#include "json/Json.h"

#include <charconv>
#include <cmath>
#include <string>

#include "platform/Platform.h"

namespace vd {

namespace {

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

bool enterContainer(JsonReader& r) {
    if (++r.depth > kMaxJsonDepth) {
        r.ok = false;
    }
    return r.ok;
}

bool startsWith(const JsonReader& r, std::string_view word) {
    return r.text.substr(r.pos, word.size()) == word;
}

}  // namespace

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
    const double value = platform::classicStrtod(start, &stop);
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
        readJsonArray(r, [&r] { skipJsonValue(r); });
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

void readJsonArray(JsonReader& r, const std::function<void()>& element) {
    expectJsonChar(r, '[');
    if (!r.ok || !enterContainer(r)) {
        return;
    }
    skipJsonWhitespace(r);
    if (r.pos < r.text.size() && r.text[r.pos] == ']') {
        ++r.pos;
    } else {
        while (r.ok) {
            element();
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

}  // namespace vd
