#include "cube/CubeFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace vd::cube {
namespace {

std::string_view trim(std::string_view s) {
    const auto space = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
    };
    while (!s.empty() && space(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && space(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::vector<std::string_view> tokens(std::string_view s) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) {
            ++i;
        }
        const size_t start = i;
        while (i < s.size() && s[i] != ' ' && s[i] != '\t') {
            ++i;
        }
        if (i > start) {
            out.push_back(s.substr(start, i - start));
        }
    }
    return out;
}

// A finite decimal number filling the whole token.
bool parseNumber(std::string_view token, double& value) {
    if (!token.empty() && token.front() == '+') {
        token.remove_prefix(1);
    }
    const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
    return ec == std::errc() && end == token.data() + token.size() && std::isfinite(value);
}

// Keywords start with a letter; "nan" and "inf" do too, but they are (rejected) values.
bool isKeyword(std::string_view token) {
    const char c = token[0];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) {
        return false;
    }
    std::string lower;
    for (const char ch : token.substr(0, 9)) {
        lower += static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
    }
    return lower != "nan" && lower != "inf" && lower != "infinity";
}

std::string quoted(std::string_view s) {
    std::string out = "'";
    out += s.substr(0, 40);
    if (s.size() > 40) {
        out += "...";
    }
    return out + "'";
}

bool fail(CubeError& error, CubeLut& out, int line, std::string message) {
    error.line = line;
    error.message = std::move(message);
    out = CubeLut{};
    return false;
}

}  // namespace

bool parseCube(std::string_view text, CubeLut& out, CubeError& error) {
    out = CubeLut{};
    error = CubeError{};
    CubeLut lut;
    int sizeLine = 0;
    int domainMaxLine = 0;
    size_t expected = 0;
    size_t entries = 0;
    int line = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view raw = text.substr(pos, end - pos);
        pos = end + 1;
        ++line;
        if (raw.find('\0') != std::string_view::npos) {
            return fail(error, out, line, "contains a NUL byte; this is not a text file");
        }
        const size_t hash = raw.find('#');
        const std::string_view content =
            trim(hash == std::string_view::npos ? raw : raw.substr(0, hash));
        if (content.empty()) {
            continue;
        }
        const std::vector<std::string_view> t = tokens(content);
        if (isKeyword(t[0])) {
            if (entries > 0) {
                return fail(error, out, line, "keyword " + quoted(t[0]) + " after the LUT data");
            }
            if (t[0] == "TITLE") {
                std::string_view rest = trim(content.substr(5));
                if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') {
                    rest = rest.substr(1, rest.size() - 2);
                }
                lut.title = std::string(rest);
            } else if (t[0] == "LUT_3D_SIZE") {
                if (sizeLine != 0) {
                    return fail(
                        error, out, line,
                        "LUT_3D_SIZE given twice (first on line " + std::to_string(sizeLine) + ")");
                }
                double size = 0;
                if (t.size() != 2 || !parseNumber(t[1], size) || size != std::floor(size)) {
                    return fail(error, out, line, "LUT_3D_SIZE needs one whole number");
                }
                if (size < kMinEdge || size > kMaxEdge) {
                    return fail(error, out, line,
                                "LUT_3D_SIZE " + std::string(t[1]) + " is outside " +
                                    std::to_string(kMinEdge) + " to " + std::to_string(kMaxEdge));
                }
                lut.edge = static_cast<int>(size);
                sizeLine = line;
                expected = static_cast<size_t>(lut.edge) * lut.edge * lut.edge;
            } else if (t[0] == "DOMAIN_MIN" || t[0] == "DOMAIN_MAX") {
                std::array<double, 3> v{};
                if (t.size() != 4 || !parseNumber(t[1], v[0]) || !parseNumber(t[2], v[1]) ||
                    !parseNumber(t[3], v[2])) {
                    return fail(error, out, line, std::string(t[0]) + " needs three numbers");
                }
                if (t[0] == "DOMAIN_MIN") {
                    lut.domainMin = v;
                } else {
                    lut.domainMax = v;
                }
                domainMaxLine = line;
            } else if (t[0] == "LUT_3D_INPUT_RANGE") {
                double lo = 0;
                double hi = 0;
                if (t.size() != 3 || !parseNumber(t[1], lo) || !parseNumber(t[2], hi)) {
                    return fail(error, out, line, "LUT_3D_INPUT_RANGE needs two numbers");
                }
                lut.domainMin = {lo, lo, lo};
                lut.domainMax = {hi, hi, hi};
                domainMaxLine = line;
            } else if (t[0] == "LUT_1D_SIZE" || t[0] == "LUT_1D_INPUT_RANGE") {
                return fail(error, out, line, "a 1D LUT; only 3D LUTs can become looks");
            } else {
                return fail(error, out, line, "unknown keyword " + quoted(t[0]));
            }
            continue;
        }
        if (sizeLine == 0) {
            return fail(error, out, line, "LUT data before LUT_3D_SIZE");
        }
        if (t.size() != 3) {
            return fail(error, out, line,
                        "expected three numbers (red green blue), found " +
                            std::to_string(t.size()) + " values");
        }
        if (entries == expected) {
            return fail(error, out, line,
                        "more than the " + std::to_string(expected) + " entries of a " +
                            std::to_string(lut.edge) + "^3 LUT");
        }
        if (lut.samples.empty()) {
            lut.samples.reserve(expected * 3);
        }
        for (const std::string_view token : t) {
            double v = 0;
            if (!parseNumber(token, v)) {
                return fail(error, out, line, quoted(token) + " is not a number");
            }
            // Samples are kept in single precision: a value beyond its range would turn
            // into an infinity, so it is refused like any other unusable entry.
            if (!std::isfinite(static_cast<float>(v))) {
                return fail(error, out, line, quoted(token) + " is too large for a LUT value");
            }
            lut.samples.push_back(static_cast<float>(v));
        }
        ++entries;
    }
    if (sizeLine == 0) {
        return fail(error, out, std::max(line, 1), "no LUT_3D_SIZE line; not a 3D .cube file");
    }
    if (entries != expected) {
        return fail(error, out, std::max(line, 1),
                    "the file ends after " + std::to_string(entries) + " of the " +
                        std::to_string(expected) + " entries that LUT_3D_SIZE " +
                        std::to_string(lut.edge) + " needs");
    }
    for (int k = 0; k < 3; ++k) {
        if (!(lut.domainMin[k] < lut.domainMax[k])) {
            return fail(error, out, domainMaxLine,
                        "the domain is empty: each minimum must be below its maximum");
        }
    }
    out = std::move(lut);
    return true;
}

std::string writeCube(const CubeLut& lut) {
    std::string s;
    if (!lut.title.empty()) {
        s += "TITLE \"" + lut.title + "\"\n";
    }
    s += "LUT_3D_SIZE " + std::to_string(lut.edge) + "\n";
    char buf[128];
    const bool unit = lut.domainMin == std::array<double, 3>{0, 0, 0} &&
                      lut.domainMax == std::array<double, 3>{1, 1, 1};
    if (!unit) {
        std::snprintf(buf, sizeof buf, "DOMAIN_MIN %.9g %.9g %.9g\nDOMAIN_MAX %.9g %.9g %.9g\n",
                      lut.domainMin[0], lut.domainMin[1], lut.domainMin[2], lut.domainMax[0],
                      lut.domainMax[1], lut.domainMax[2]);
        s += buf;
    }
    for (size_t i = 0; i + 2 < lut.samples.size(); i += 3) {
        std::snprintf(buf, sizeof buf, "%.6f %.6f %.6f\n", static_cast<double>(lut.samples[i]),
                      static_cast<double>(lut.samples[i + 1]),
                      static_cast<double>(lut.samples[i + 2]));
        s += buf;
    }
    return s;
}

CubeLut toUnitDomain(const CubeLut& lut) {
    const bool unit = lut.domainMin == std::array<double, 3>{0, 0, 0} &&
                      lut.domainMax == std::array<double, 3>{1, 1, 1};
    if (unit) {
        return lut;
    }
    CubeLut out = lut;
    out.domainMin = {0, 0, 0};
    out.domainMax = {1, 1, 1};
    const int n = lut.edge;
    for (int b = 0; b < n; ++b) {
        for (int g = 0; g < n; ++g) {
            for (int r = 0; r < n; ++r) {
                const int idx[3] = {r, g, b};
                std::array<float, 3> in{};
                for (int k = 0; k < 3; ++k) {
                    const double x = static_cast<double>(idx[k]) / (n - 1);
                    in[k] = static_cast<float>((x - lut.domainMin[k]) /
                                               (lut.domainMax[k] - lut.domainMin[k]));
                }
                const std::array<float, 3> v = sampleLattice(lut.samples.data(), n, in);
                const size_t at = ((static_cast<size_t>(b) * n + g) * n + r) * 3;
                std::copy(v.begin(), v.end(),
                          out.samples.begin() + static_cast<std::ptrdiff_t>(at));
            }
        }
    }
    return out;
}

std::array<float, 3> sampleLattice(const float* samples, int edge, const std::array<float, 3>& in) {
    int i0[3];
    int i1[3];
    float f[3];
    for (int k = 0; k < 3; ++k) {
        // NaN fails the comparison and becomes 0, so the index stays inside the lattice.
        const float x = in[k] > 0.0f ? std::min(in[k], 1.0f) : 0.0f;
        const float p = x * static_cast<float>(edge - 1);
        i0[k] = std::min(static_cast<int>(p), edge - 2);
        i1[k] = i0[k] + 1;
        f[k] = p - static_cast<float>(i0[k]);
    }
    const size_t n = static_cast<size_t>(edge);
    auto at = [&](int r, int g, int b) { return samples + ((b * n + g) * n + r) * 3; };
    std::array<float, 3> out{};
    for (int c = 0; c < 3; ++c) {
        const float c00 =
            at(i0[0], i0[1], i0[2])[c] * (1 - f[0]) + at(i1[0], i0[1], i0[2])[c] * f[0];
        const float c10 =
            at(i0[0], i1[1], i0[2])[c] * (1 - f[0]) + at(i1[0], i1[1], i0[2])[c] * f[0];
        const float c01 =
            at(i0[0], i0[1], i1[2])[c] * (1 - f[0]) + at(i1[0], i0[1], i1[2])[c] * f[0];
        const float c11 =
            at(i0[0], i1[1], i1[2])[c] * (1 - f[0]) + at(i1[0], i1[1], i1[2])[c] * f[0];
        const float c0 = c00 * (1 - f[1]) + c10 * f[1];
        const float c1 = c01 * (1 - f[1]) + c11 * f[1];
        out[c] = c0 * (1 - f[2]) + c1 * f[2];
    }
    return out;
}

}  // namespace vd::cube
