// "huebench" run as a separate process, as the main job and a user run it: every format and
// depth it writes holds what the plug-in renders through the test host, alpha and data
// windows survive, sequences grade the frames asked for, the OpenCL path matches the CPU,
// large frames stay within their memory bound, and every mistake ends with a reason and a non-zero
// status and leaves no file.
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../common/PluginPictures.h"
#include "../common/TestFiles.h"
#include "ImageFile.h"
#include "TestHost.h"
#include "looks/Catalogue.h"

namespace vd::cli {
namespace {

namespace fs = std::filesystem;
using test::crop;
using test::maxDifference;
using testhost::BitDepth;
using testhost::Image;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class GradeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vd-cli-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ / "support");
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // The shell command that runs huebench in the test's folder, with its per-user files
    // kept in support/ and env (assignments) exported.
    std::string command(const std::string& args, const std::string& env = "") const {
        const std::string support = (dir_ / "support").string();
        return "cd '" + dir_.string() + "' && export VD_SUPPORT_DIR='" + support +
               "' VD_MY_LOOKS_FILE='" + support + "/my-looks.json' " + env +
               " && exec '" VD_HUEBENCH "' " + args;
    }
    Outcome huebench(const std::string& args, const std::string& env = "") {
        Outcome run;
        const int raw =
            std::system((command(args, env) + " >support/stdout.txt 2>support/stderr.txt").c_str());
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.out = test::readFile(dir_ / "support/stdout.txt");
        run.err = test::readFile(dir_ / "support/stderr.txt");
        return run;
    }

    Image read(const std::string& name, BitDepth depth, FrameInfo* info = nullptr) {
        const std::string path = (dir_ / name).string();
        const FrameInfo frame = probeImage(path);
        if (info) {
            *info = frame;
        }
        return readImage(path, frame, depth);
    }

    void write(const std::string& name, const Image& image, OfxRectI display, SampleType type) {
        FrameWriter writer((dir_ / name).string(), display, image.bounds(), image.components(),
                           type, "");
        writer.write(image);
        writer.commit();
    }

    // The files in the test's folder outside support/, for checks that nothing was left.
    std::vector<std::string> files() {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
            const std::string name = fs::relative(entry.path(), dir_).string();
            if (name.rfind("support", 0) != 0) {
                names.push_back(name);
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // The peak resident size of one huebench run, in bytes; 0 when it failed.
    double peakBytes(const std::string& args) {
        const std::string line = command(args) + " >/dev/null";
        const char* argv[] = {"sh", "-c", line.c_str(), nullptr};
        pid_t child = 0;
        if (::posix_spawn(&child, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) !=
            0) {
            return 0.0;
        }
        int status = 0;
        rusage usage{};
        if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            return 0.0;
        }
        return double(usage.ru_maxrss) * 1024.0;
    }

    fs::path dir_;
};

// The source graded the way huebench grades by default (iPhone Apple Log, look 01), rendered
// directly through the test host as one whole frame.
Image directRender(const Image& source) {
    testhost::TestHost host(VD_BUNDLE_DIR);
    host.setUp(kOfxImageEffectContextFilter);
    testhost::Instance& fx = host.createInstance(kOfxImageEffectContextFilter);
    fx.userEdit("footage", 1);
    fx.userEdit(packLutParam(1), 1);
    testhost::RenderRequest request;
    request.source = source;
    request.outputDepth = source.depth();
    request.outputComponents = source.components();
    return fx.render(request).output;
}

TEST_F(GradeTest, EveryFormatAndDepthHoldsTheDirectRender) {
    // The chart as the pack's camera records it, written by huebench itself as a 16-bit PNG,
    // is the input: it is kept at 16 bits unless --depth says otherwise.
    const Outcome chart = huebench("chart --encoding applelog in.png");
    ASSERT_EQ(chart.status, 0) << chart.err;
    FrameInfo info;
    const Image in16 = read("in.png", BitDepth::short16, &info);
    ASSERT_EQ(info.type, SampleType::uint16);
    ASSERT_EQ(in16.width(), 1920);
    struct Case {
        std::string output;
        const char* depth;  // --depth, or empty to keep the input's
        BitDepth render;
        SampleType stored;
        float tolerance;  // exact but for the file's own coding
    };
    const std::vector<Case> cases = {
        {"g.png", "", BitDepth::short16, SampleType::uint16, 0.0f},
        {"g8.png", "8", BitDepth::byte, SampleType::uint8, 0.0f},
        {"g.tif", "float", BitDepth::float32, SampleType::float32, 0.0f},
        {"g.dpx", "16", BitDepth::short16, SampleType::uint16, 0.0f},
        {"g.exr", "float", BitDepth::float32, SampleType::float32, 0.0f},
        {"g.jpg", "8", BitDepth::byte, SampleType::uint8, 0.25f},  // lossy
    };
    for (const BitDepth depth : {BitDepth::byte, BitDepth::short16, BitDepth::float32}) {
        const Image source = read("in.png", depth);
        const Image expected = directRender(source);
        for (const Case& c : cases) {
            if (c.render != depth) {
                continue;
            }
            SCOPED_TRACE(c.output);
            const std::string depthOption = *c.depth ? std::string(" --depth ") + c.depth : "";
            const Outcome run = huebench("grade --input in.png --output " + c.output + depthOption);
            ASSERT_EQ(run.status, 0) << run.err;
            EXPECT_NE(run.out.find("-> " + c.output), std::string::npos) << run.out;
            FrameInfo written;
            const Image graded = read(c.output, depth, &written);
            EXPECT_EQ(written.type, c.stored);
            EXPECT_LE(maxDifference(graded, expected), c.tolerance);
        }
    }
    // Without --output, each input gets its own name: nothing is overwritten.
    ASSERT_EQ(huebench("grade --input in.png").status, 0);
    EXPECT_TRUE(fs::exists(dir_ / "out/in-iphone-apple-log-01.png"));
    const Outcome plain = huebench("grade --look None --depth 8");
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_TRUE(fs::exists(dir_ / "out/chart-iphone-apple-log-00.png")) << plain.out;
}

TEST_F(GradeTest, AlphaAndADataWindowInsideTheDisplayWindowSurvive) {
    // An RGBA half-float EXR whose pixels cover only part of its 64x48 frame. Without a look
    // and with every control at rest the plug-in passes the pixels through.
    const OfxRectI display{0, 0, 64, 48};
    const OfxRectI data{8, 5, 40, 36};
    Image in(BitDepth::float32, 4, data);
    in.fillPattern(7);
    write("in.exr", in, display, SampleType::half);
    const Outcome run = huebench("grade --input in.exr --look None --output out.exr");
    ASSERT_EQ(run.status, 0) << run.err;
    FrameInfo info;
    const Image graded = read("out.exr", BitDepth::float32, &info);
    EXPECT_EQ(info.type, SampleType::half);
    EXPECT_EQ(info.channels, 4);
    EXPECT_EQ(info.display.x2, 64);
    EXPECT_EQ(info.display.y2, 48);
    EXPECT_EQ(info.data.x1, data.x1);
    EXPECT_EQ(info.data.y1, data.y1);
    EXPECT_EQ(info.data.x2, data.x2);
    EXPECT_EQ(info.data.y2, data.y2);
    EXPECT_LE(maxDifference(graded, read("in.exr", BitDepth::float32)), 1e-3f);
}

TEST_F(GradeTest, SequencesGradeTheFramesAskedFor) {
    Image frame(BitDepth::byte, 3, {0, 0, 32, 16});
    fs::create_directories(dir_ / "shot");
    fs::create_directories(dir_ / "graded");
    for (int f = 1; f <= 3; ++f) {
        frame.fillPattern(unsigned(f));
        write("shot/s." + std::string("000") + std::to_string(f) + ".png", frame, frame.bounds(),
              SampleType::uint8);
    }
    const Outcome all = huebench("grade --input shot/s.%04d.png --output graded/g.%04d.exr");
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_NE(all.out.find("frame 3/3"), std::string::npos) << all.out;
    for (const char* name : {"graded/g.0001.exr", "graded/g.0002.exr", "graded/g.0003.exr"}) {
        EXPECT_TRUE(fs::exists(dir_ / name)) << name;
    }
    fs::remove_all(dir_ / "graded");
    fs::create_directories(dir_ / "graded");
    const Outcome part =
        huebench("grade --input shot/s.%04d.png --output graded/g.%04d.png --frames 2-3");
    ASSERT_EQ(part.status, 0) << part.err;
    EXPECT_FALSE(fs::exists(dir_ / "graded/g.0001.png"));
    EXPECT_TRUE(fs::exists(dir_ / "graded/g.0002.png"));
    EXPECT_TRUE(fs::exists(dir_ / "graded/g.0003.png"));
    const Outcome resumed =
        huebench("grade --input shot/s.%04d.png --output graded/g.%04d.png --resume");
    ASSERT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_NE(resumed.out.find("skipped, graded/g.0003.png exists"), std::string::npos);
    EXPECT_TRUE(fs::exists(dir_ / "graded/g.0001.png"));
    // A missing frame stops the run with its name; the frames before it stay.
    fs::remove_all(dir_ / "graded");
    fs::create_directories(dir_ / "graded");
    const Outcome broken =
        huebench("grade --input shot/s.%04d.png --output graded/g.%04d.png --frames 3-4");
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.err.find("frame 4 (shot/s.0004.png)"), std::string::npos) << broken.err;
    EXPECT_TRUE(fs::exists(dir_ / "graded/g.0003.png"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "graded"), fs::directory_iterator()), 1);
}

TEST_F(GradeTest, ASavedLookGradesAsItsPackAndLook) {
    // Saved through the plug-in as a user saves one, in the folder huebench is pointed at.
    const std::string support = (dir_ / "support").string();
    ::setenv("VD_SUPPORT_DIR", support.c_str(), 1);
    ::setenv("VD_MY_LOOKS_FILE", (support + "/my-looks.json").c_str(), 1);
    {
        testhost::TestHost host(VD_BUNDLE_DIR);
        host.setUp(kOfxImageEffectContextFilter);
        testhost::Instance& fx = host.createInstance(kOfxImageEffectContextFilter);
        fx.userEdit("footage", 2);
        fx.userEdit(packLutParam(2), 3);
        fx.userEdit("lookName", std::string("Warm Dusk"));
        fx.pressButton("saveLook");
    }
    const Outcome saved = huebench("grade --my-look 'warm dusk' --depth 8 --output m.png");
    ASSERT_EQ(saved.status, 0) << saved.err;
    const Outcome direct = huebench("grade --pack 2 --look 3 --depth 8 --output p.png");
    ASSERT_EQ(direct.status, 0) << direct.err;
    EXPECT_EQ(maxDifference(read("m.png", BitDepth::byte), read("p.png", BitDepth::byte)), 0.0f);
    const Outcome missing = huebench("grade --my-look Nope");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("My Looks has no look \"Nope\""), std::string::npos) << missing.err;
}

TEST_F(GradeTest, MistakesEndWithAReasonAndLeaveNoFile) {
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
    fs::create_directories(dir_ / "folder.png");
    Image small(BitDepth::byte, 3, {0, 0, 64, 64});
    small.fillPattern();
    write("whole.png", small, small.bounds(), SampleType::uint8);
    {
        const std::string bytes = test::readFile(dir_ / "whole.png");
        std::ofstream(dir_ / "cut.png", std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    }
    const std::vector<std::string> before = files();

    struct Case {
        std::string args;
        int status;
        std::string reason;
        std::string env = "";
    };
    const std::vector<Case> cases = {
        {"grade --frobnicate 3", 2, "unknown option --frobnicate"},
        {"grade --exposure", 2, "--exposure needs a value"},
        {"grade --exposure 9", 2, "outside -4 to 4"},
        {"grade --saturation nan", 2, "not a number"},
        {"grade --pack 2 --pack 3", 2, "--pack is given twice"},
        {"grade --exposure 1 --set exposure=2", 2, "given twice"},
        {"grade --pack 'No Such Pack'", 2, "no pack \"No Such Pack\""},
        {"grade --pack 2 --look 11", 2, "has no look \"11\""},
        {"grade --set nothing=1", 2, "no parameter \"nothing\""},
        {"grade --output x.gif", 2, "huebench writes .exr, .tif, .tiff, .dpx, .png, .jpg"},
        {"grade --output missing/x.png", 1, "the folder missing does not exist"},
        {"grade no-such.ofx.bundle", 1, "cannot load the bundle no-such.ofx.bundle"},
        {"grade --input missing.png", 1, "missing.png: no such file"},
        {"grade --input folder.png", 1, "folder.png is a folder, not a picture"},
        {"grade --input /dev/null", 1, "/dev/null is not a regular file"},
        {"grade --input cut.png --output x.png", 1, "cut.png is truncated or damaged"},
        {"grade --input 'shot.%04d.png' --output x.png", 2, "give it a frame number too"},
        {"grade --every-pack --output x.png", 2, "takes no --pack"},
        {"grade --gpu cuda", 2, "--gpu takes opencl, not \"cuda\""},
        {"grade --output x.png", 1, "is unreadable or damaged", damaged},
        {"grade --look 2 --output x.png", 1, "missing from", partial},
        {"frobnicate", 2, "unknown command \"frobnicate\""},
    };
    for (const Case& c : cases) {
        const Outcome run = huebench(c.args, c.env);
        EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.err;
        EXPECT_NE(run.err.find("huebench: "), std::string::npos) << c.args << "\n" << run.err;
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << c.args << "\n" << run.err;
        EXPECT_EQ(run.out, "") << c.args;
        EXPECT_EQ(files(), before) << c.args;
    }
    const Outcome help = huebench("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("contact-sheet"), std::string::npos);
    const Outcome version = huebench("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("huebench ", 0), 0u);
}

TEST_F(GradeTest, OpenClGradesAsTheCpuDoesAndWithoutADeviceNothingIsGraded) {
    // PoCL's allocations trip LeakSanitizer, so the OpenCL path runs in the normal build only.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "OpenCL runs outside the sanitizer builds";
#endif
    const Outcome cpu = huebench("grade --output cpu.exr");
    ASSERT_EQ(cpu.status, 0) << cpu.err;
    const Outcome gpu = huebench("grade --gpu opencl --output gpu.exr");
    ASSERT_EQ(gpu.status, 0) << gpu.err;
    EXPECT_NE(gpu.out.find("float on OpenCL device "), std::string::npos) << gpu.out;
    // The back ends agree to 1e-4, as the GPU tests hold them to.
    EXPECT_LE(maxDifference(read("gpu.exr", BitDepth::float32), read("cpu.exr", BitDepth::float32)),
              1e-4f);
    // No OpenCL driver registered: the reason, and no picture graded on the CPU instead.
    fs::create_directories(dir_ / "support/no-drivers");
    const Outcome none =
        huebench("grade --gpu opencl --output none.exr",
                 "OCL_ICD_VENDORS='" + (dir_ / "support/no-drivers").string() + "'");
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("--gpu opencl: no OpenCL platform"), std::string::npos) << none.err;
    EXPECT_FALSE(fs::exists(dir_ / "none.exr"));
}

TEST_F(GradeTest, ALargeFrameStaysWithinItsMemoryBound) {
    // A 4K RGBA frame graded in float: its input and output frames take 2 x 133 MB. Rendered
    // in bands through the regions of interest, the process grows by less than 1.5 times
    // that over what it takes to grade a tiny frame (its libraries, the bundle and a look).
    // Sanitizers keep memory of their own, so their builds do not measure.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "peak memory is not measured under a sanitizer";
#endif
    Image frame(BitDepth::float32, 4, {0, 0, 3840, 2160});
    frame.fillPattern(3);
    write("big.exr", frame, frame.bounds(), SampleType::half);
    write("tiny.exr", crop(frame, {0, 0, 64, 64}), {0, 0, 64, 64}, SampleType::half);
    frame = Image();
    const double frames = 2.0 * 3840 * 2160 * 4 * sizeof(float);
    const double tiny = peakBytes("grade --input tiny.exr --depth float --output tiny-graded.exr");
    const double big = peakBytes("grade --input big.exr --depth float --output graded.exr");
    ASSERT_GT(tiny, 0.0);
    EXPECT_LT(big - tiny, 1.5 * frames) << "peak " << big / 1e6 << " MB, tiny " << tiny / 1e6;
}

}  // namespace
}  // namespace vd::cli
