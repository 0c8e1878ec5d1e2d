// Reviewed pictures: one small 16:9 frame per effect and one with every control at work,
// rendered through the built .ofx in the test host and compared with committed golden files.
// Where the other render tests check that two paths agree (plug-in and engine, tiles and
// frame, thread counts), these pin the values themselves: a strength, a blur radius, the
// shape of a mask.
//
// The goldens in golden/ are 16-bit binary PPM files (P6, maxval 65535, top row first), so
// any image viewer shows them. Renders are compared after clamping to [0, 1], what the file
// can hold. A run never rewrites a golden: with VD_WRITE_GOLDENS=1 in the environment each
// test writes its render over its golden and fails, so that new pictures are looked at and
// committed on purpose.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "TestHost.h"
#include "grade/Samples.h"

namespace vd {
namespace {

using testhost::BitDepth;
using testhost::Image;
using testhost::ParamValue;
using testhost::Rgb;
using Controls = std::vector<std::pair<std::string, ParamValue>>;

constexpr int kWidth = 64;
constexpr int kHeight = 36;

// Smooth ramps with a triangle-wave ripple in blue, a band of light grey for the bloom
// threshold, and two small super-white lights for halation and bloom to spread.
Image scene() {
    Image image(BitDepth::float32, 4, {0, 0, kWidth, kHeight});
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const float fx = static_cast<float>(x) / kWidth;
            const float fy = static_cast<float>(y) / kHeight;
            const float ripple = static_cast<float>(std::abs((x + 2 * y) % 12 - 6)) / 6.0f;
            float rgb[3] = {0.04f + 0.6f * fx, 0.08f + 0.5f * fy, 0.15f + 0.3f * ripple};
            if (y >= 26 && y < 29) {
                rgb[0] = rgb[1] = rgb[2] = 0.55f + 0.4f * fx;
            }
            const bool light = (x >= 14 && x < 18 && y >= 10 && y < 14) ||
                               (x >= 44 && x < 47 && y >= 18 && y < 21);
            for (int c = 0; c < 3; ++c) {
                image.set(x, y, c, light ? 4.0f : rgb[c]);
            }
            image.set(x, y, 3, 1.0f);
        }
    }
    return image;
}

Image renderWith(const Controls& controls) {
    testhost::HostProfile profile;
    profile.onProblem = [](const std::string& p) { ADD_FAILURE() << "host: " << p; };
    testhost::TestHost host(VD_BUNDLE_DIR, profile);
    host.setUp(kOfxImageEffectContextFilter);
    testhost::Instance& fx = host.createInstance(kOfxImageEffectContextFilter);
    for (const auto& [name, value] : controls) {
        fx.setValue(name, value);
    }
    testhost::RenderRequest request;
    request.time = 3;
    request.source = scene();
    testhost::RenderResult result = fx.render(request);
    EXPECT_EQ(result.status, kOfxStatOK);
    return std::move(result.output);
}

// RGB samples, top row first, as 16-bit codes.
std::vector<std::uint16_t> codes(const Image& image) {
    std::vector<std::uint16_t> out;
    for (int y = kHeight - 1; y >= 0; --y) {
        for (int x = 0; x < kWidth; ++x) {
            for (int c = 0; c < 3; ++c) {
                out.push_back(floatToShort(image.at(x, y, c)));
            }
        }
    }
    return out;
}

std::string goldenPath(const std::string& name) {
    return std::string(VD_GOLDEN_DIR) + "/" + name + ".ppm";
}

std::string header() {
    return "P6\n" + std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n65535\n";
}

void writeGolden(const std::string& name, const std::vector<std::uint16_t>& samples) {
    std::string bytes = header();
    for (const std::uint16_t v : samples) {
        bytes += static_cast<char>(v >> 8);  // PPM samples are big-endian
        bytes += static_cast<char>(v & 0xff);
    }
    std::ofstream(goldenPath(name), std::ios::binary) << bytes;
}

// The golden's samples; empty when the file is missing or not a 64 x 36 16-bit PPM.
std::vector<std::uint16_t> readGolden(const std::string& name) {
    std::ifstream in(goldenPath(name), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    const std::string head = header();
    if (bytes.size() != head.size() + kWidth * kHeight * 6 || bytes.compare(0, head.size(), head)) {
        return {};
    }
    std::vector<std::uint16_t> out;
    for (std::size_t i = head.size(); i < bytes.size(); i += 2) {
        out.push_back(static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[i]) << 8 |
                                                 static_cast<unsigned char>(bytes[i + 1])));
    }
    return out;
}

// The three numbers of a comparison: no value may differ by more than hardLimit, and at
// most fractionOver of the values by more than threshold.
struct Tolerance {
    float threshold;
    double fractionOver;
    float hardLimit;
};

void expectGolden(const std::string& name, const Controls& controls, const Tolerance& t) {
    const std::vector<std::uint16_t> actual = codes(renderWith(controls));
    if (const char* write = std::getenv("VD_WRITE_GOLDENS"); write && std::string(write) == "1") {
        writeGolden(name, actual);
        FAIL() << "wrote " << goldenPath(name) << ": review the picture, then commit it";
    }
    const std::vector<std::uint16_t> golden = readGolden(name);
    ASSERT_EQ(golden.size(), actual.size()) << goldenPath(name) << " is missing or malformed";
    std::size_t over = 0;
    float worst = 0.0f;
    std::size_t worstAt = 0;
    for (std::size_t i = 0; i < golden.size(); ++i) {
        const float d = std::fabs(shortToFloat(actual[i]) - shortToFloat(golden[i]));
        over += d > t.threshold ? 1 : 0;
        if (d > worst) {
            worst = d;
            worstAt = i;
        }
    }
    const double fraction = static_cast<double>(over) / static_cast<double>(golden.size());
    const std::size_t pixel = worstAt / 3;
    const std::string where = "largest difference " + std::to_string(worst) + " at column " +
                              std::to_string(pixel % kWidth) + ", row " +
                              std::to_string(pixel / kWidth) + " from the top, channel " +
                              std::to_string(worstAt % 3);
    EXPECT_LE(fraction, t.fractionOver)
        << name << ": " << over << " values over " << t.threshold << "; " << where;
    EXPECT_LE(worst, t.hardLimit) << name << ": " << where;
}

// Every picture is the engine's deterministic float maths (the grain and the dither are
// hashes of integer coordinates), quantised once to the golden's 16 bits. The threshold
// allows the golden's half code and a few units in the last place where another compiler
// fuses a multiply-add differently; the few values allowed over it and the hard limit allow
// such a difference to land on the other side of a rounding step of a curve table.
constexpr Tolerance kSameMaths{3.0f / 65535.0f, 0.002, 2e-3f};

TEST(GoldenRender, ToneExposureAndWhiteBalance) {
    expectGolden("tone",
                 {{"exposure", 0.6},
                  {"temperature", 35.0},
                  {"tint", -25.0},
                  {"contrast", 30.0},
                  {"highlights", -45.0},
                  {"shadows", 40.0},
                  {"saturation", 25.0}},
                 kSameMaths);
}

TEST(GoldenRender, Grain) {
    expectGolden("grain", {{"grainAmount", 80.0}, {"grainSize", 4.0}}, kSameMaths);
}

TEST(GoldenRender, Halation) {
    expectGolden("halation", {{"halationAmount", 100.0}, {"halationRadius", 4.0}}, kSameMaths);
}

TEST(GoldenRender, Bloom) {
    expectGolden("bloom", {{"bloomAmount", 100.0}, {"bloomRadius", 4.0}, {"bloomThreshold", 40.0}},
                 kSameMaths);
}

TEST(GoldenRender, Vignette) {
    expectGolden("vignette",
                 {{"vignetteAmount", -100.0}, {"vignetteSize", 0.5}, {"vignetteFeather", 0.5}},
                 kSameMaths);
}

TEST(GoldenRender, Borders) {
    expectGolden(
        "borders",
        {{"borderTop", 12.0}, {"borderSide", 6.0}, {"borderColour", Rgb{0.25, 0.5, 0.125}}},
        kSameMaths);
}

// A shipped look in its camera encoding under every other control.
TEST(GoldenRender, EverythingOn) {
    expectGolden("everything",
                 {{"footage", 1},
                  {"lutAppleLog", 3},
                  {"intensity", 80.0},
                  {"exposure", 0.4},
                  {"temperature", -20.0},
                  {"tint", 10.0},
                  {"contrast", 15.0},
                  {"highlights", -30.0},
                  {"shadows", 20.0},
                  {"saturation", -10.0},
                  {"grainAmount", 40.0},
                  {"grainSize", 2.0},
                  {"halationAmount", 70.0},
                  {"halationRadius", 3.0},
                  {"bloomAmount", 60.0},
                  {"bloomRadius", 2.5},
                  {"bloomThreshold", 50.0},
                  {"vignetteAmount", -60.0},
                  {"vignetteSize", 0.4},
                  {"vignetteFeather", 0.7},
                  {"borderTop", 8.0},
                  {"borderSide", 4.0},
                  {"borderColour", Rgb{0.1, 0.1, 0.1}}},
                 kSameMaths);
}

}  // namespace
}  // namespace vd
