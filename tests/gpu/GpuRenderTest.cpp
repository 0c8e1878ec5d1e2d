// The GPU back ends through the built .ofx, driven as a host drives them: OpenCL renders
// on a real runtime (PoCL on the CPU in CI) with a real command queue and cl_mem images,
// compared with the CPU render of the same frame, and CUDA on a machine without the driver.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "../common/PluginPictures.h"
#include "OpenClDevice.h"
#include "TestHost.h"
#include "looks/Catalogue.h"

namespace {

using vd::testhost::BitDepth;
using vd::testhost::Image;
using vd::testhost::OpenClDevice;
using vd::testhost::RenderMode;
using vd::testhost::RenderRequest;
using vd::testhost::RenderResult;
using vd::testhost::Rgb;

using vd::test::Controls;
using vd::test::scene;

const Controls kHalation = {{"halationAmount", 70.0}, {"halationRadius", 1.25}};
const Controls kBloom = {{"bloomAmount", 60.0}, {"bloomRadius", 0.75}, {"bloomThreshold", 40.0}};
const Controls kEverything = {{"exposure", 0.75},        {"temperature", 30.0},
                              {"tint", -20.0},           {"highlights", -40.0},
                              {"shadows", 25.0},         {"contrast", 15.0},
                              {"saturation", -30.0},     {"grainAmount", 45.0},
                              {"grainSize", 1.5},        {"halationAmount", 70.0},
                              {"halationRadius", 1.25},  {"bloomAmount", 60.0},
                              {"bloomRadius", 0.75},     {"bloomThreshold", 40.0},
                              {"vignetteAmount", -35.0}, {"vignetteSize", 0.25},
                              {"vignetteFeather", 0.75}, {"borderTop", 6.0},
                              {"borderSide", 3.0},       {"borderColour", Rgb{0.25, 0.5, 0.125}}};

struct Difference {
    float max = 0.0f;
    double mean = 0.0;
    bool sameWritten = true;  // the same pixels written (unwritten ones stay NaN)
};

Difference difference(const Image& a, const Image& b) {
    Difference d;
    const OfxRectI r = a.bounds();
    double sum = 0.0;
    long count = 0;
    for (int y = r.y1; y < r.y2; ++y) {
        for (int x = r.x1; x < r.x2; ++x) {
            for (int c = 0; c < a.components(); ++c) {
                const float u = a.at(x, y, c), v = b.at(x, y, c);
                if (std::isnan(u) || std::isnan(v)) {
                    d.sameWritten = d.sameWritten && std::isnan(u) && std::isnan(v);
                    continue;
                }
                const float e = std::fabs(u - v);
                d.max = std::max(d.max, e);
                sum += e;
                ++count;
            }
        }
    }
    d.mean = count > 0 ? sum / static_cast<double>(count) : 0.0;
    return d;
}

class GpuRender : public vd::test::PluginTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(device_.ok()) << device_.error() << " (install pocl-opencl-icd)";
        start();
    }

    RenderResult render(RenderRequest r, RenderMode mode) {
        r.mode = mode;
        if (mode == RenderMode::openCL) {
            r.openCLCommandQueue = device_.queue();
            r.device = &device_;
        }
        RenderResult result = fx_->render(r);
        EXPECT_EQ(result.imagesNotReleased, 0);
        return result;
    }

    OpenClDevice device_;
};

// ---- OpenCL against the CPU -----------------------------------------------------------------

struct ParityCase {
    const char* name;
    Controls controls;
    int components = 4;
    bool premultiplied = false;
    double scale = 1.0;
    OfxRectI source{0, 0, 192, 108};  // at scale 1
    OfxRectI output{0, 0, 192, 108};
    OfxRectI window{0, 0, 0, 0};  // empty: the output
};

class OpenClParity : public GpuRender, public ::testing::WithParamInterface<ParityCase> {};

OfxRectI scaled(OfxRectI r, double s) {
    return {static_cast<int>(std::floor(r.x1 * s)), static_cast<int>(std::floor(r.y1 * s)),
            static_cast<int>(std::ceil(r.x2 * s)), static_cast<int>(std::ceil(r.y2 * s))};
}

// Both back ends compute in single precision from the same derivations; the GPU uses its
// own pow, exp and log (and the CPU table forms of them agree to 1e-6 relative), so the
// pictures agree to well within 1e-4 on every channel.
TEST_P(OpenClParity, MatchesTheCpuRenderWithin1e4) {
    const ParityCase& c = GetParam();
    set(c.controls);
    if (c.name == std::string("look only")) {
        ASSERT_EQ(fx_->userEdit("footage", 1), kOfxStatOK);
        ASSERT_EQ(fx_->userEdit(vd::packLutParam(1), 2), kOfxStatOK);
        ASSERT_EQ(fx_->userEdit("intensity", 80.0), kOfxStatOK);
    }
    RenderRequest r;
    r.renderScale = {c.scale, c.scale};
    r.source =
        scene(BitDepth::float32, c.components, scaled(c.source, c.scale), c.premultiplied, c.scale);
    r.outputComponents = c.components;
    r.outputBounds = scaled(c.output, c.scale);
    r.renderWindow = scaled(c.window, c.scale);
    r.outputRegionOfDefinition = OfxRectD{0, 0, 192, 108};
    const RenderResult cpu = render(r, RenderMode::cpu);
    const RenderResult gpu = render(r, RenderMode::openCL);
    ASSERT_EQ(cpu.status, kOfxStatOK);
    ASSERT_EQ(gpu.status, kOfxStatOK);
    if (c.name == std::string("look only")) {
        EXPECT_GT(difference(cpu.output, *r.source).max, 0.01f) << "the look was not applied";
    }
    const Difference d = difference(gpu.output, cpu.output);
    std::printf("[ parity   ] %-40s max %.3g mean %.3g\n", c.name, d.max, d.mean);
    EXPECT_TRUE(d.sameWritten);
    EXPECT_LE(d.max, 1e-4f);
}

const ParityCase kParityCases[] = {
    {"neutral", {}},
    {"look only", {}, 3},
    {"exposure, white balance and tone",
     {{"exposure", 1.25},
      {"temperature", 30.0},
      {"tint", -20.0},
      {"highlights", 40.0},
      {"shadows", -25.0},
      {"contrast", 15.0},
      {"saturation", -50.0}},
     4,
     true},
    {"grain alone", {{"grainAmount", 80.0}, {"grainSize", 0.5}}},
    {"halation alone", kHalation, 4, true},
    {"bloom alone", kBloom, 3},
    {"vignette alone", {{"vignetteAmount", 60.0}, {"vignetteSize", 0.4}}},
    {"border alone", {{"borderTop", 10.0}, {"borderSide", 5.0}}},
    {"split screen", {{"exposure", -1.0}, {"splitScreen", 1}, {"splitPosition", 40.0}}},
    {"before/after", {{"exposure", -1.0}, {"beforeAfter", 1}}, 4, true},
    {"everything on", kEverything, 4, true},
    {"everything on, RGB at half scale", kEverything, 3, false, 0.5},
    {"everything on, window inside an offset output",
     kEverything,
     4,
     false,
     1.0,
     {0, 0, 192, 108},
     {-8, 12, 150, 100},
     {20, 30, 131, 77}},
    {"everything on, small source, window past the output",
     kEverything,
     4,
     true,
     1.0,
     {30, 20, 160, 90},
     {0, 0, 192, 108},
     {-10, -10, 100, 200}},
};

INSTANTIATE_TEST_SUITE_P(Cases, OpenClParity, ::testing::ValuesIn(kParityCases),
                         [](const ::testing::TestParamInfo<ParityCase>& caseInfo) {
                             std::string n = caseInfo.param.name;
                             std::replace_if(
                                 n.begin(), n.end(), [](char ch) { return !std::isalnum(ch); },
                                 '_');
                             return n;
                         });

TEST_F(GpuRender, OpenClTilesEqualTheWholeFrame) {
    set(kEverything);
    RenderRequest r;
    r.source = scene(BitDepth::float32, 4, {0, 0, 192, 108}, true);
    const RenderResult whole = render(r, RenderMode::openCL);
    ASSERT_EQ(whole.status, kOfxStatOK);
    for (const OfxRectI tile : {OfxRectI{0, 0, 96, 54}, OfxRectI{96, 0, 192, 54},
                                OfxRectI{0, 54, 96, 108}, OfxRectI{96, 54, 192, 108}}) {
        r.renderWindow = tile;
        const RenderResult part = render(r, RenderMode::openCL);
        ASSERT_EQ(part.status, kOfxStatOK);
        EXPECT_LE(vd::test::maxDifference(part.output, whole.output, tile), 1e-5f)
            << "tile " << tile.x1 << "," << tile.y1;
    }
}

// ---- A window outside the output; no CUDA driver --------------------------------------------

// Integer images and a missing queue are refused through the plug-in in RenderThroughPlugin.
TEST_F(GpuRender, AWindowThatMissesTheOutputDrawsNothingAndSucceeds) {
    RenderRequest r;
    r.source = scene(BitDepth::float32, 4, {0, 0, 64, 32});
    r.renderWindow = {100, 100, 120, 120};
    const RenderResult result = render(r, RenderMode::openCL);
    EXPECT_EQ(result.status, kOfxStatOK);
    EXPECT_TRUE(vd::testhost::untouched(result.output, 0, 0));
}

TEST_F(GpuRender, WithoutTheCudaDriverEveryCudaRenderFailsAndTheOthersStillWork) {
    if (void* driver = dlopen("libcuda.so.1", RTLD_NOW | RTLD_LOCAL)) {
        dlclose(driver);
        GTEST_SKIP() << "this machine has a CUDA driver";
    }
    set(kHalation);
    RenderRequest r;
    r.source = scene(BitDepth::float32, 4, {0, 0, 64, 32});
    EXPECT_EQ(render(r, RenderMode::cuda).status, kOfxStatGPURenderFailed);
    EXPECT_EQ(render(r, RenderMode::cuda).status, kOfxStatGPURenderFailed);
    const RenderResult cpu = render(r, RenderMode::cpu);
    const RenderResult gpu = render(r, RenderMode::openCL);
    EXPECT_EQ(cpu.status, kOfxStatOK);
    EXPECT_EQ(gpu.status, kOfxStatOK);
    EXPECT_LE(difference(gpu.output, cpu.output).max, 1e-4f);
}

}  // namespace
