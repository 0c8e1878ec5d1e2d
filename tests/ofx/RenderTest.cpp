// The render and regions-of-interest actions through the built .ofx: the statuses of every
// refusal, the frame number read from the time, and the source region. The pictures
// themselves are checked against the engine in RenderThroughPluginTest.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "TestHost.h"
#include "grade/GradeContext.h"

namespace {

using vd::testhost::BitDepth;
using vd::testhost::Image;
using vd::testhost::Instance;
using vd::testhost::PropertySet;
using vd::testhost::RegionsOfInterestRequest;
using vd::testhost::RenderMode;
using vd::testhost::RenderRequest;
using vd::testhost::RenderResult;
using vd::testhost::TestHost;

const std::string kBundle = VD_BUNDLE_DIR;

class RenderOnHost : public ::testing::Test {
  protected:
    void SetUp() override {
        host_.emplace(kBundle);
        host_->setUp(kOfxImageEffectContextFilter);
        fx_ = &host_->createInstance(kOfxImageEffectContextFilter);
    }

    static RenderRequest request(BitDepth depth = BitDepth::float32, int components = 4) {
        RenderRequest r;
        Image source(depth, components, {0, 0, 48, 24});
        source.fillPattern(3);
        r.source = source;
        r.outputDepth = depth;
        r.outputComponents = components;
        return r;
    }
    static bool noneWritten(const Image& out) {
        for (int y = out.bounds().y1; y < out.bounds().y2; ++y) {
            for (int x = out.bounds().x1; x < out.bounds().x2; ++x) {
                if (!vd::testhost::untouched(out, x, y)) {
                    return false;
                }
            }
        }
        return true;
    }
    static bool samePixels(const Image& a, const Image& b) { return a.bytes() == b.bytes(); }

    void expectCleanHost(const RenderResult& r) {
        EXPECT_EQ(r.imagesNotReleased, 0);
        EXPECT_FALSE(r.sourceChanged);
        EXPECT_FALSE(r.paddingChanged);
        EXPECT_TRUE(host_->problems().empty());
    }

    std::optional<TestHost> host_;
    Instance* fx_ = nullptr;
};

TEST_F(RenderOnHost, UnsupportedGpuModesAnswerGpuFailureAndWriteNothing) {
    // OpenGL and Metal are never taken; GPU modes take float images only; an OpenCL render
    // needs the host's queue.
    static int queue;
    struct Case {
        RenderMode mode;
        BitDepth depth;
        void* queue;
    };
    for (const Case& c : {Case{RenderMode::openGL, BitDepth::float32, nullptr},
                          Case{RenderMode::metal, BitDepth::float32, nullptr},
                          Case{RenderMode::cuda, BitDepth::short16, &queue},
                          Case{RenderMode::openCL, BitDepth::short16, &queue},
                          Case{RenderMode::openCL, BitDepth::float32, nullptr}}) {
        RenderRequest r = request(c.depth);
        r.mode = c.mode;
        r.openCLCommandQueue = c.queue;
        const RenderResult result = fx_->render(r);
        EXPECT_EQ(result.status, kOfxStatGPURenderFailed);
        EXPECT_TRUE(noneWritten(result.output));
        expectCleanHost(result);
    }
    // The same 16-bit render on the CPU succeeds.
    EXPECT_EQ(fx_->render(request(BitDepth::short16)).status, kOfxStatOK);
}

TEST_F(RenderOnHost, RefusalsOfTheRenderArguments) {
    // Without time or render window the host asked for nothing that can be rendered.
    PropertySet empty;
    EXPECT_EQ(fx_->action(kOfxImageEffectActionRender, &empty), kOfxStatFailed);
    PropertySet blind;
    blind.defineDouble(kOfxPropTime, {0.0}, 1);
    blind.defineInt(kOfxImageEffectPropRenderWindow, {0, 0, 4, 4}, 4);
    blind.defineString(kOfxImageEffectPropNoSpatialAwareness, {"true"}, 1);
    EXPECT_EQ(fx_->action(kOfxImageEffectActionRender, &blind), kOfxStatErrUnsupported);
    EXPECT_TRUE(host_->problems().empty());
    EXPECT_EQ(host_->outstandingImages(), 0);
}

TEST_F(RenderOnHost, FrameNumberRoundsHalvesAwayFromZero) {
    // Grain is seeded by the frame, so equal frames give equal grain.
    fx_->setValue("grainAmount", 80.0);
    auto at = [&](double time) {
        RenderRequest r = request();
        r.time = time;
        return fx_->render(r).output;
    };
    EXPECT_TRUE(samePixels(at(2.5), at(3.0)));
    EXPECT_FALSE(samePixels(at(2.5), at(2.0)));
    EXPECT_TRUE(samePixels(at(-2.5), at(-3.0)));
    EXPECT_FALSE(samePixels(at(-2.5), at(-2.0)));
}

// ---- Regions of interest ----------------------------------------------------------------

TEST_F(RenderOnHost, RegionOfInterestGrowsByHowFarTheEffectsRead) {
    RegionsOfInterestRequest r;
    r.region = {100, 200, 300, 400};
    r.sourceRegionOfDefinition = OfxRectD{0, 0, 1920, 1080};
    EXPECT_EQ(fx_->regionsOfInterest(r).status, kOfxStatReplyDefault);

    auto grownBy = [&](const RegionsOfInterestRequest& req) {
        const auto result = fx_->regionsOfInterest(req);
        EXPECT_EQ(result.status, kOfxStatOK);
        const OfxRectD roi = result.regions.at("Source");
        EXPECT_DOUBLE_EQ(roi.x2 - 300, 100 - roi.x1);
        EXPECT_DOUBLE_EQ(roi.y2 - 400, 200 - roi.y1);
        return 100 - roi.x1;
    };
    // The grow is the distance the effects' blurs and downsampled levels read, never less
    // than the bare radius (52 pixels per unit for halation, 120 for bloom at 1080 lines).
    auto reach = [](float halo, float haloRadius, float bloom, float bloomRadius, float height,
                    float scale = 1.0f) {
        return static_cast<double>(
                   vd::sourceReachPixels(halo, haloRadius, bloom, bloomRadius, height, scale)) /
               scale;
    };
    fx_->setValue("halationAmount", 10.0);
    const double haloOnly = grownBy(r);
    EXPECT_GE(haloOnly, 52.0);
    EXPECT_DOUBLE_EQ(haloOnly, reach(0.1f, 1.0f, 0.0f, 1.0f, 1080.0f));
    fx_->setValue("bloomAmount", 10.0);
    const double both = grownBy(r);
    EXPECT_GE(both, haloOnly + 120.0);
    EXPECT_DOUBLE_EQ(both, reach(0.1f, 1.0f, 0.1f, 1.0f, 1080.0f));
    // The reach is counted in pixels of the render and handed back in canonical coordinates.
    r.renderScale = {0.5, 0.5};
    EXPECT_DOUBLE_EQ(grownBy(r), reach(0.1f, 1.0f, 0.1f, 1.0f, 1080.0f, 0.5f));
    EXPECT_GE(grownBy(r), both - 8.0);
    // The reach follows the source's height and the radius.
    r.renderScale = {1.0, 1.0};
    r.sourceRegionOfDefinition = OfxRectD{0, 0, 3840, 2160};
    fx_->setValue("bloomRadius", 0.5);
    EXPECT_DOUBLE_EQ(grownBy(r), reach(0.1f, 1.0f, 0.1f, 0.5f, 2160.0f));
    fx_->setValue("bloomAmount", 0.0);
    EXPECT_DOUBLE_EQ(grownBy(r), reach(0.1f, 1.0f, 0.0f, 0.5f, 2160.0f));
    EXPECT_GE(grownBy(r), 104.0);
    // A source too flat to measure counts as 1080 lines.
    r.sourceRegionOfDefinition = OfxRectD{0, 0, 1920, 1};
    EXPECT_DOUBLE_EQ(grownBy(r), haloOnly);
}

}  // namespace
