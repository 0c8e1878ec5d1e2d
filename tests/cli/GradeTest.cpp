// "huebench grade" run as a separate process, as the main job runs it: the picture it writes
// is the chart (or the given picture) graded by the plug-in, in the right encoding and the
// right way up, and every mistake ends with a reason and a non-zero status and writes nothing.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "PngFile.h"
#include "chart/Chart.h"

namespace vd::cli {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class GradeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vd-cli-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // Runs huebench in the test's folder, with its per-user files kept there too.
    Outcome huebench(const std::string& args, const std::string& env = "") {
        const std::string command = "cd '" + dir_.string() + "' && VD_SUPPORT_DIR='" +
                                    dir_.string() + "' VD_MY_LOOKS_FILE='" + dir_.string() +
                                    "/my-looks.json' " + env + " '" VD_HUEBENCH "' " + args +
                                    " >stdout.txt 2>stderr.txt";
        Outcome run;
        const int raw = std::system(command.c_str());
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.out = slurp(dir_ / "stdout.txt");
        run.err = slurp(dir_ / "stderr.txt");
        return run;
    }

    PngPicture picture(const std::string& name) {
        PngPicture png;
        std::string error;
        EXPECT_TRUE(readPng((dir_ / name).string(), png, error)) << error;
        return png;
    }

    fs::path dir_;
};

// Largest difference between an 8-bit picture and the chart as the camera records it, and
// the fraction of samples further apart than 2%.
struct Difference {
    float largest = 0;
    double fractionOver2Percent = 0;
};
Difference fromChart(const PngPicture& png, colour::Encoding encoding) {
    const chart::Image chart = chart::encodedChart(encoding);
    Difference d;
    std::size_t over = 0;
    for (std::size_t i = 0; i < png.samples.size() && i < chart.pixels.size(); ++i) {
        const float diff = std::abs(float(png.samples[i]) / 255.0f - chart.pixels[i]);
        d.largest = std::max(d.largest, diff);
        over += diff > 0.02f ? 1 : 0;
    }
    d.fractionOver2Percent = double(over) / double(png.samples.size());
    return d;
}

TEST_F(GradeTest, GradesTheChartInThePacksEncodingTheRightWayUp) {
    // The main job: no options at all.
    const Outcome graded = huebench("grade '" VD_BUNDLE_DIR "'");
    ASSERT_EQ(graded.status, 0) << graded.err;
    EXPECT_EQ(graded.err, "");
    EXPECT_NE(graded.out.find("look \"iPhone Apple Log 01\""), std::string::npos) << graded.out;
    EXPECT_NE(graded.out.find("-> out/chart-apple-log-01.png\n"), std::string::npos) << graded.out;
    PngPicture look = picture("out/chart-apple-log-01.png");
    EXPECT_EQ(look.width, chart::kChartWidth);
    EXPECT_EQ(look.height, chart::kChartHeight);
    // The look moves most of the picture.
    EXPECT_GT(fromChart(look, colour::Encoding::AppleLog).fractionOver2Percent, 0.3);

    // Without a look and with every control at rest the plug-in passes the camera codes
    // through, so the picture is exactly the chart as that pack's camera records it: a
    // flipped picture or the wrong encoding is far off.
    const Outcome none = huebench("grade '" VD_BUNDLE_DIR
                                  "' --pack 'Osmo D-Log M' --look=0 "
                                  "--depth 8 --output plain/none.png");
    ASSERT_EQ(none.status, 0) << none.err;
    PngPicture plain = picture("plain/none.png");
    ASSERT_EQ(plain.width, chart::kChartWidth);
    ASSERT_EQ(plain.height, chart::kChartHeight);
    EXPECT_LE(fromChart(plain, colour::Encoding::DLog).largest, 1.0f / 255.0f);
}

TEST_F(GradeTest, AGivenPictureKeepsItsSizeAndOrientation) {
    // Rows and columns all differ, so a flip or a transposition shows.
    PngPicture input;
    input.width = 40;
    input.height = 24;
    for (int y = 0; y < input.height; ++y) {
        for (int x = 0; x < input.width; ++x) {
            input.samples.push_back(std::uint16_t(x * 6));
            input.samples.push_back(std::uint16_t(y * 10));
            input.samples.push_back(std::uint16_t(128));
        }
    }
    std::string error;
    ASSERT_TRUE(writePng((dir_ / "in.png").string(), input, error)) << error;

    const Outcome run = huebench("grade '" VD_BUNDLE_DIR "' --input in.png --pack 0 --depth 16");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("in.png 40x24 16-bit"), std::string::npos) << run.out;
    PngPicture out = picture("out/graded.png");
    ASSERT_EQ(out.width, input.width);
    ASSERT_EQ(out.height, input.height);
    ASSERT_EQ(out.samples.size(), input.samples.size());
    // 16-bit output: every 8-bit code v comes back as v * 257, give or take rounding.
    ASSERT_EQ(out.bits, 16);
    for (std::size_t i = 0; i < out.samples.size(); ++i) {
        ASSERT_LE(std::abs(int(out.samples[i]) - int(input.samples[i]) * 257), 1) << "sample " << i;
    }
}

TEST_F(GradeTest, MistakesEndWithAReasonAndWriteNothing) {
    // Look folders the plug-in would take (they hold the probe file) but cannot grade from:
    // the plug-in then renders without the look and reports success, so the tool must refuse.
    const fs::path shipped = fs::path(VD_BUNDLE_DIR) / "Contents/Resources/looks";
    const std::string probe = "iphone-apple-log-01.vdlk";
    fs::create_directories(dir_ / "partial");
    fs::copy_file(shipped / probe, dir_ / "partial" / probe);
    fs::create_directories(dir_ / "damaged");
    fs::copy_file(shipped / probe, dir_ / "damaged" / probe);
    {
        std::fstream file(dir_ / "damaged" / probe,
                          std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(100);
        file.put('\x5a');
    }
    const std::string partial = "VD_LOOKS_DIR='" + (dir_ / "partial").string() + "'";
    const std::string damaged = "VD_LOOKS_DIR='" + (dir_ / "damaged").string() + "'";

    struct Case {
        std::string args;
        int status;
        std::string reason;
        std::string env = "";
    };
    const std::vector<Case> cases = {
        {"grade '" VD_BUNDLE_DIR "' --frobnicate 3", 2, "unknown option --frobnicate"},
        {"grade '" VD_BUNDLE_DIR "' --exposure", 2, "--exposure needs a value"},
        {"grade '" VD_BUNDLE_DIR "' --exposure 9", 2, "outside -4 to 4"},
        {"grade '" VD_BUNDLE_DIR "' --saturation nan", 2, "not a number"},
        {"grade '" VD_BUNDLE_DIR "' --pack 'No Such Pack'", 2, "no pack \"No Such Pack\""},
        {"grade '" VD_BUNDLE_DIR "' --pack 2 --look 11", 2, "has no look \"11\""},
        {"grade '" VD_BUNDLE_DIR "' --set nothing=1", 2, "no parameter \"nothing\""},
        {"grade no-such.ofx.bundle", 1, "cannot load the bundle no-such.ofx.bundle"},
        {"grade '" VD_BUNDLE_DIR "' --input missing.png", 1, "cannot read the input picture"},
        {"grade '" VD_BUNDLE_DIR "' --every-pack --output x.png", 2, "takes no --pack"},
        {"grade", 2, "no bundle given"},
        {"grade '" VD_BUNDLE_DIR "'", 1, "is unreadable or damaged", damaged},
        {"grade '" VD_BUNDLE_DIR "' --look 2", 1, "missing from", partial},
    };
    for (const Case& c : cases) {
        const Outcome run = huebench(c.args, c.env);
        EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.err;
        EXPECT_EQ(run.err.rfind("huebench: ", 0), 0u) << c.args << "\n" << run.err;
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << c.args << "\n" << run.err;
        EXPECT_EQ(run.out, "") << c.args;
        EXPECT_FALSE(fs::exists(dir_ / "out")) << c.args;
    }
    // Each look the plug-in could not load left its reason in the debug log.
    const std::string log = slurp(dir_ / "debug.log");
    EXPECT_NE(log.find("look not applied: iphone-apple-log-01.vdlk: "), std::string::npos) << log;
    EXPECT_NE(log.find("look not applied: iphone-apple-log-02.vdlk: missing from"),
              std::string::npos)
        << log;
}

}  // namespace
}  // namespace vd::cli
