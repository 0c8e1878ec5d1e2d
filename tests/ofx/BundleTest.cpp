// The bundle as files: what the library exports, what it needs, and the drawn icon.
#include <gtest/gtest.h>
#include <png.h>

#include <array>
#include <cstdio>
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

// ---- The icon ------------------------------------------------------------------------

TEST(Bundle, IconIsA128PixelRgbaPngThatDecodesCleanly) {
    // libpng checks every chunk's CRC and the zlib checksum as it reads.
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, VD_ICON_PATH)) << image.message;
    EXPECT_EQ(image.width, 128U);
    EXPECT_EQ(image.height, 128U);
    EXPECT_EQ(image.format, static_cast<png_uint_32>(PNG_FORMAT_RGBA));  // 8-bit RGBA as stored
    image.format = PNG_FORMAT_RGBA;
    std::vector<png_byte> rgba(128 * 128 * 4);
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) << image.message;
    // Transparent corners, an opaque centre: the motif is a round lens.
    auto alpha = [&](int x, int y) { return rgba[static_cast<std::size_t>(y * 128 + x) * 4 + 3]; };
    EXPECT_EQ(alpha(0, 0), 0);
    EXPECT_EQ(alpha(127, 127), 0);
    EXPECT_EQ(alpha(64, 64), 255);
}

}  // namespace
