// The bundle as files: what the library exports, what it needs, and the drawn icon.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string run(const std::string& command) {
    std::string out;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        return out;
    }
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        out.append(buffer.data(), n);
    }
    pclose(pipe);
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            out.push_back(line);
        }
    }
    return out;
}

TEST(Bundle, ExportsExactlyTheThreeOpenFxEntryPoints) {
    const std::string out = run("nm -D --defined-only '" VD_PLUGIN_BINARY "'");
    std::set<std::string> symbols;
    for (const std::string& line : lines(out)) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        EXPECT_EQ(type, "T") << line;
        symbols.insert(name);
    }
    EXPECT_EQ(symbols,
              (std::set<std::string>{"OfxGetNumberOfPlugins", "OfxGetPlugin", "OfxSetHost"}));
}

bool sanitizerRuntime(const std::string& lib) {
    return VD_SANITIZED && (lib.starts_with("libasan.so") || lib.starts_with("libubsan.so") ||
                            lib.starts_with("libtsan.so"));
}

TEST(Bundle, NeedsOnlyTheCAndCxxRuntime) {
    const std::string out = run("readelf -d '" VD_PLUGIN_BINARY "'");
    const std::set<std::string> runtime{"libc.so.6", "libm.so.6", "libgcc_s.so.1", "libstdc++.so.6",
                                        "ld-linux-x86-64.so.2"};
    int needed = 0;
    for (const std::string& line : lines(out)) {
        if (line.find("(NEEDED)") == std::string::npos) {
            continue;
        }
        const auto open = line.find('[');
        const auto close = line.find(']');
        ASSERT_NE(open, std::string::npos) << line;
        const std::string lib = line.substr(open + 1, close - open - 1);
        EXPECT_TRUE(runtime.count(lib) || sanitizerRuntime(lib)) << "unexpected NEEDED " << lib;
        ++needed;
    }
    EXPECT_GT(needed, 0) << out;
}

// ---- The icon: a valid PNG, 128x128 RGBA, stored deflate blocks ----------------------

std::uint32_t big32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
           (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}

std::uint32_t crc32(const std::uint8_t* p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFU;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) {
            c = (c >> 1) ^ (0xEDB88320U & (0U - (c & 1U)));
        }
    }
    return ~c;
}

TEST(Bundle, IconIsA128PixelRgbaPngWithValidChecksums) {
    std::ifstream in(VD_ICON_PATH, std::ios::binary);
    ASSERT_TRUE(in) << VD_ICON_PATH;
    const std::vector<std::uint8_t> png{std::istreambuf_iterator<char>(in), {}};
    const std::vector<std::uint8_t> signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    ASSERT_GT(png.size(), 8U);
    ASSERT_TRUE(std::equal(signature.begin(), signature.end(), png.begin()));

    std::vector<std::uint8_t> idat;
    std::vector<std::string> chunks;
    std::uint32_t width = 0, height = 0;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::uint32_t len = big32(png, at);
        ASSERT_LE(at + 12 + len, png.size());
        const std::string type(png.begin() + static_cast<long>(at + 4),
                               png.begin() + static_cast<long>(at + 8));
        EXPECT_EQ(crc32(&png[at + 4], len + 4), big32(png, at + 8 + len)) << type;
        if (type == "IHDR") {
            width = big32(png, at + 8);
            height = big32(png, at + 12);
            EXPECT_EQ(png[at + 16], 8);  // bits per channel
            EXPECT_EQ(png[at + 17], 6);  // RGBA
        } else if (type == "IDAT") {
            idat.insert(idat.end(), png.begin() + static_cast<long>(at + 8),
                        png.begin() + static_cast<long>(at + 8 + len));
        }
        chunks.push_back(type);
        at += 12 + len;
    }
    EXPECT_EQ(chunks, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    ASSERT_EQ(width, 128U);
    ASSERT_EQ(height, 128U);
    // The IEND chunk's CRC is a fixed, well-known value: it pins the checksum itself.
    EXPECT_EQ(big32(png, png.size() - 4), 0xAE426082U);

    // Unpack the stored deflate blocks and check the zlib trailer.
    ASSERT_GE(idat.size(), 6U);
    std::vector<std::uint8_t> raw;
    std::size_t at = 2;
    bool last = false;
    while (!last) {
        ASSERT_LE(at + 5, idat.size());
        last = (idat[at] & 1) != 0;
        ASSERT_EQ(idat[at] & 6, 0) << "only stored blocks are expected";
        const unsigned len = idat[at + 1] | (idat[at + 2] << 8);
        const unsigned nlen = idat[at + 3] | (idat[at + 4] << 8);
        ASSERT_EQ(len ^ 0xFFFFU, nlen);
        ASSERT_LE(at + 5 + len, idat.size());
        raw.insert(raw.end(), idat.begin() + static_cast<long>(at + 5),
                   idat.begin() + static_cast<long>(at + 5 + len));
        at += 5 + len;
    }
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t v : raw) {
        a = (a + v) % 65521U;
        b = (b + a) % 65521U;
    }
    ASSERT_EQ(at + 4, idat.size());
    EXPECT_EQ((b << 16) | a, big32(idat, at));
    ASSERT_EQ(raw.size(), 128U * (1 + 128 * 4));

    // Transparent corners, an opaque centre: the motif is a round lens.
    auto alpha = [&](int x, int y) {
        return raw[static_cast<std::size_t>(y) * 513 + 1 + x * 4 + 3];
    };
    EXPECT_EQ(alpha(0, 0), 0);
    EXPECT_EQ(alpha(127, 127), 0);
    EXPECT_EQ(alpha(64, 64), 255);
}

}  // namespace
