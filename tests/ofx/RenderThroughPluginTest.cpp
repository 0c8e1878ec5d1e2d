// The render and regions-of-interest actions of the built .ofx, driven exactly as a host
// drives them. Pictures are compared against the grading engine called directly: the
// controls a host sets arrive in the engine as the settings they stand for, in every depth
// and memory layout, in tiles, on any number of threads, at half render scale and with
// windows that reach past the output image. Then the refusals with their statuses, the
// frame number taken from the time, and how far the source region grows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "../common/PluginPictures.h"
#include "TestHost.h"
#include "controls/Controls.h"
#include "grade/Grade.h"
#include "grade/GradeContext.h"
#include "looks/Catalogue.h"

namespace {

using vd::test::Controls;
using vd::test::crop;
using vd::test::maxDifference;
using vd::test::scene;
using vd::testhost::BitDepth;
using vd::testhost::HostProfile;
using vd::testhost::Image;
using vd::testhost::PropertySet;
using vd::testhost::RegionsOfInterestRequest;
using vd::testhost::RenderMode;
using vd::testhost::RenderRequest;
using vd::testhost::RenderResult;
using vd::testhost::Rgb;

constexpr OfxRectI kFrame{0, 0, 192, 108};

// Controls that put every spatial effect to work: halation and bloom around the bright dots,
// grain, vignette and border over the whole frame.
const Controls kEffects = {
    {"grainAmount", 45.0},
    {"grainSize", 1.5},
    {"halationAmount", 70.0},
    {"halationRadius", 1.25},
    {"bloomAmount", 60.0},
    {"bloomRadius", 0.75},
    {"bloomThreshold", 40.0},
    {"vignetteAmount", -35.0},
    {"vignetteSize", 0.25},
    {"vignetteFeather", 0.75},
    {"borderTop", 6.0},
    {"borderSide", 3.0},
    {"borderColour", Rgb{0.25, 0.5, 0.125}},
};

// The settings the render action builds for kEffects over the defaults.
void expectEffects(vd::GradeSettings& s) {
    s.grainAmount = 0.45f;
    s.grainSize = 1.5f;
    s.halationAmount = 0.7f;
    s.halationRadius = 1.25f;
    s.bloomAmount = 0.6f;
    s.bloomRadius = 0.75f;
    s.bloomThreshold = 0.4f;
    s.vignetteAmount = -0.35f;
    s.vignetteSize = 0.25f;
    s.vignetteFeather = 0.75f;
    s.borderTop = 0.06f;
    s.borderSide = 0.03f;
    s.borderColour[0] = 0.25f;
    s.borderColour[1] = 0.5f;
    s.borderColour[2] = 0.125f;
}

vd::ImageView view(Image& image) {
    vd::ImageView v;
    const OfxRectI b = image.bounds();
    v.data = image.row(b.y1);
    v.rowBytes = static_cast<int32_t>(image.rowBytes());
    v.x1 = b.x1;
    v.y1 = b.y1;
    v.x2 = b.x2;
    v.y2 = b.y2;
    v.components = image.components();
    v.depth = vd::kDepthFloat;
    return v;
}

// The engine's own answer: the source's samples as floats, graded by renderCpu on the
// calling thread into a float image of the output's bounds and layout.
Image engineRender(const std::optional<Image>& source, OfxRectI outputBounds, int components,
                   OfxRectI window, OfxRectI frame, const vd::GradeSettings& settings) {
    std::optional<Image> floatSource;
    if (source) {
        floatSource = Image(BitDepth::float32, source->components(), source->bounds());
        for (int y = source->bounds().y1; y < source->bounds().y2; ++y) {
            for (int x = source->bounds().x1; x < source->bounds().x2; ++x) {
                for (int c = 0; c < source->components(); ++c) {
                    floatSource->set(x, y, c, source->at(x, y, c));
                }
            }
        }
    }
    Image out(BitDepth::float32, components, outputBounds);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    out.fill(nan, nan, nan, nan);
    vd::ImageView src = floatSource ? view(*floatSource) : vd::ImageView{};
    const vd::ImageView dst = view(out);
    EXPECT_TRUE(vd::renderCpu(floatSource ? &src : nullptr, dst,
                              {window.x1, window.y1, window.x2, window.y2},
                              {frame.x1, frame.y1, frame.x2, frame.y2}, settings));
    return out;
}

float quantum(BitDepth depth) {
    return depth == BitDepth::byte      ? 1.0f / 255.0f
           : depth == BitDepth::short16 ? 1.0f / 65535.0f
                                        : 0.0f;
}

std::string depthName(BitDepth depth) {
    return vd::testhost::bitDepthName(depth);
}

class RenderThroughPlugin : public vd::test::PluginTest {
  protected:
    void SetUp() override { start(); }

    // The settings a fresh instance's controls stand for: every default of the record is the
    // default of its control, and the first pack grades in its own camera encoding.
    static vd::GradeSettings settingsFor(int frameHeight, float scale = 1.0f, int frame = 0) {
        vd::GradeSettings s;
        s.encoding = vd::packEncoding(0);
        s.frame = frame;
        s.renderScale = scale;
        s.frameHeight = frameHeight;
        s.threadCount = 1;
        return s;
    }

    RenderResult render(const RenderRequest& r) {
        RenderResult result = fx_->render(r);
        EXPECT_EQ(result.status, kOfxStatOK);
        EXPECT_EQ(result.imagesNotReleased, 0);
        EXPECT_FALSE(result.sourceChanged);
        EXPECT_FALSE(result.paddingChanged);
        return result;
    }

    static RenderRequest request(const Image& source, double time = 0.0) {
        RenderRequest r;
        r.time = time;
        r.source = source;
        r.outputDepth = source.depth();
        r.outputComponents = source.components();
        r.outputBounds = kFrame;
        return r;
    }
};

// ---- The controls reach the engine as the settings they stand for ----------------------------

TEST_F(RenderThroughPlugin, PictureIsTheEnginesAnswerForTheSettingsTheControlsStandFor) {
    // The render action only converts control values; the engine does the arithmetic, the
    // same on any thread count, so the picture must be bit for bit the engine's own.
    struct Case {
        const char* name;
        double time;
        Controls controls;
        std::function<void(vd::GradeSettings&)> expect;
    };
    const std::vector<Case> cases = {
        {"neutral", 0.0, {}, [](vd::GradeSettings&) {}},
        {"exposure, white balance and tone",
         0.0,
         {{"exposure", 1.25},
          {"temperature", 30.0},
          {"tint", -20.0},
          {"highlights", -40.0},
          {"shadows", 25.0},
          {"contrast", 15.0},
          {"saturation", -50.0}},
         [](vd::GradeSettings& s) {
             s.exposure = 1.25f;
             s.temperature = 0.3f;
             s.tint = -0.2f;
             s.highlights = -0.4f;
             s.shadows = 0.25f;
             s.contrast = 0.15f;
             s.saturation = -0.5f;
         }},
        {"grain, halation, bloom, vignette and border at frame 7", 7.0, kEffects,
         [](vd::GradeSettings& s) {
             expectEffects(s);
             s.frame = 7;
         }},
        {"split screen",
         0.0,
         {{"exposure", -1.5}, {"splitScreen", 1}, {"splitPosition", 37.5}},
         [](vd::GradeSettings& s) {
             s.exposure = -1.5f;
             s.splitScreen = true;
             s.splitPosition = 0.375f;
         }},
        {"before/after",
         0.0,
         {{"exposure", 2.0}, {"contrast", 40.0}, {"beforeAfter", 1}},
         [](vd::GradeSettings& s) {
             s.exposure = 2.0f;
             s.contrast = 0.4f;
             s.beforeAfter = true;
         }},
    };
    const Image source = scene(BitDepth::float32, 4, kFrame);
    std::optional<Image> neutral;
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        start();
        set(test.controls);
        const Image picture = render(request(source, test.time)).output;
        vd::GradeSettings settings = settingsFor(108, 1.0f, 0);
        test.expect(settings);
        const Image expected = engineRender(source, kFrame, 4, kFrame, kFrame, settings);
        EXPECT_EQ(maxDifference(picture, expected, kFrame), 0.0f);
        // A control that never reached the picture would make both sides neutral; before/after
        // shows the ungraded picture whatever the grade.
        if (!neutral) {
            neutral = picture;
        } else if (settings.beforeAfter) {
            EXPECT_EQ(picture.bytes(), neutral->bytes());
        } else {
            EXPECT_NE(picture.bytes(), neutral->bytes());
        }
        // Without a pack no look is asked for, and the instance says so.
        EXPECT_EQ(fx_->props.string(vd::kLookStatusProperty), "none");
    }
    // A look that loads is reported as applied (one it cannot load: tests/cli).
    set({{"footage", 1}});
    render(request(source));
    EXPECT_EQ(fx_->props.string(vd::kLookStatusProperty), "applied");
}

// ---- Depths and memory layouts -----------------------------------------------------------

TEST_F(RenderThroughPlugin, EveryDepthAndLayoutMatchesTheFloatEngineWithinItsQuantisation) {
    // Integer images are converted on the way in exactly as the reference reads them, so the
    // only difference left is the output's rounding: half a quantum (plus float noise).
    set(kEffects);
    set({{"exposure", 0.5}, {"saturation", 20.0}});
    vd::GradeSettings settings = settingsFor(108, 1.0f, 3);
    expectEffects(settings);
    settings.exposure = 0.5f;
    settings.saturation = 0.2f;
    // Besides the layouts: a source covering only part of the frame (the rest reads as
    // opaque black in every depth) and no source at all.
    enum Layout { rgb, straight, premultiplied, partSource, noSource };
    const char* names[] = {"RGB", "RGBA", "RGBA premultiplied", "part of the frame", "no source"};
    for (BitDepth depth : {BitDepth::byte, BitDepth::short16, BitDepth::float32}) {
        for (Layout layout : {rgb, straight, premultiplied, partSource, noSource}) {
            const int components = layout == rgb ? 3 : 4;
            std::optional<Image> source = scene(depth, components, kFrame, layout == premultiplied);
            if (layout == partSource) {
                source = crop(*source, {20, 10, 170, 100});
            } else if (layout == noSource) {
                source.reset();
            }
            settings.premultiplied = layout == premultiplied;
            const Image expected =
                engineRender(source, kFrame, components, kFrame, kFrame, settings);
            for (bool negativeRows : {false, true}) {
                SCOPED_TRACE(depthName(depth) + " " + names[layout] +
                             (negativeRows ? " negative rows" : ""));
                RenderRequest r = request(scene(depth, components, kFrame), 3.0);
                r.source = source;
                r.negativeRowBytes = negativeRows;
                r.rowPadding = negativeRows ? 12 : 0;
                const Image picture = render(r).output;
                EXPECT_LE(maxDifference(picture, expected, kFrame), quantum(depth) * 0.5f + 1e-6f);
            }
        }
    }
}

// ---- Tiles -------------------------------------------------------------------------------

TEST_F(RenderThroughPlugin, TilesFedOnlyTheirRegionOfInterestMatchTheWholeFrame) {
    // Each tile gets an output image of its own window and a source holding only what the
    // plug-in asked for (the region of interest, in canonical coordinates, taken to pixels
    // of the render and clipped to the frame), as a tiling host hands them out; the regions
    // of definition stay the whole frame. Tiles may differ from the whole frame by 0.005
    // (the reduced-resolution effect grids may fall differently per tile), never more.
    set(kEffects);
    struct Case {
        BitDepth depth;
        double scale;
        std::vector<int> xs, ys;  // tile edges in pixels of the render
    };
    const std::vector<Case> cases = {
        {BitDepth::byte, 1.0, {0, 53, 118, 192}, {0, 37, 108}},
        {BitDepth::short16, 1.0, {0, 53, 118, 192}, {0, 37, 108}},
        {BitDepth::float32, 1.0, {0, 53, 118, 192}, {0, 37, 108}},
        {BitDepth::float32, 0.5, {0, 17, 61, 96}, {0, 23, 54}},
    };
    const OfxRectD frame{0, 0, 192, 108};
    for (const Case& test : cases) {
        SCOPED_TRACE(depthName(test.depth) + " scale " + std::to_string(test.scale));
        const double s = test.scale;
        const OfxRectI image{0, 0, test.xs.back(), test.ys.back()};
        const Image source = scene(test.depth, 4, image);
        RenderRequest full = request(source, 5.0);
        full.outputBounds = image;
        full.renderScale = {s, s};
        const Image whole = render(full).output;
        float worst = 0.0f;
        bool croppedOnce = false;
        for (std::size_t j = 0; j + 1 < test.ys.size(); ++j) {
            for (std::size_t i = 0; i + 1 < test.xs.size(); ++i) {
                const OfxRectI tile{test.xs[i], test.ys[j], test.xs[i + 1], test.ys[j + 1]};
                RegionsOfInterestRequest roi;
                roi.time = 5.0;
                roi.renderScale = {s, s};
                roi.region = {tile.x1 / s, tile.y1 / s, tile.x2 / s, tile.y2 / s};
                roi.sourceRegionOfDefinition = frame;
                const auto asked = fx_->regionsOfInterest(roi);
                ASSERT_EQ(asked.status, kOfxStatOK);
                const OfxRectD want = asked.regions.at("Source");
                const OfxRectI given{std::max(image.x1, int(std::floor(want.x1 * s))),
                                     std::max(image.y1, int(std::floor(want.y1 * s))),
                                     std::min(image.x2, int(std::ceil(want.x2 * s))),
                                     std::min(image.y2, int(std::ceil(want.y2 * s)))};
                croppedOnce =
                    croppedOnce || given.x2 - given.x1 < image.x2 || given.y2 - given.y1 < image.y2;
                RenderRequest r = request(crop(source, given), 5.0);
                r.renderScale = {s, s};
                r.outputBounds = tile;
                r.sourceRegionOfDefinition = frame;
                r.outputRegionOfDefinition = frame;
                r.negativeRowBytes = (i + j) % 2 == 1;
                const Image part = render(r).output;
                worst = std::max(worst, maxDifference(part, whole, tile));
            }
        }
        EXPECT_LE(worst, 0.005f);
        EXPECT_TRUE(croppedOnce) << "every tile got the whole frame; nothing was tested";
    }
}

// ---- Threads and repetition ----------------------------------------------------------------

TEST_F(RenderThroughPlugin, BytesAreTheSameOnEveryThreadCountAndEveryRepeat) {
    struct Pool {
        const char* name;
        unsigned threads;
        bool suite;
        bool fails;
    };
    const std::vector<Pool> pools = {
        {"host pool of 1", 1, true, false},
        {"host pool of 7", 7, true, false},
        {"host pool of 32", 32, true, false},
        {"no multi-thread suite", 4, false, false},
        {"failing multi-thread entry", 4, true, true},
    };
    set(kEffects);
    for (BitDepth depth : {BitDepth::byte, BitDepth::float32}) {
        SCOPED_TRACE(depthName(depth));
        const RenderRequest r = request(scene(depth, 4, kFrame), 2.0);
        start();
        set(kEffects);
        const std::vector<unsigned char> reference = render(r).output.bytes();
        for (const Pool& pool : pools) {
            SCOPED_TRACE(pool.name);
            HostProfile profile;
            profile.threads = pool.threads;
            profile.multiThreadSuite = pool.suite;
            profile.multiThreadFails = pool.fails;
            start(profile);
            set(kEffects);
            for (int repeat = 0; repeat < 2; ++repeat) {
                EXPECT_EQ(render(r).output.bytes(), reference) << "render " << repeat;
            }
        }
    }
}

// ---- Render scale and windows outside the output -------------------------------------------

TEST_F(RenderThroughPlugin, HalfScaleRenderScalesTheEffectsWithTheImage) {
    // A half-size image at render scale 0.5 is graded as the same 108-line frame: the engine
    // gets the scale and the full frame height. (What the engine makes of them is pinned by
    // its own tests and the golden renders.)
    set(kEffects);
    const OfxRectI half{0, 0, 96, 54};
    const Image source = scene(BitDepth::float32, 4, half);
    RenderRequest r = request(source, 1.0);
    r.outputBounds = half;
    r.renderScale = {0.5, 0.5};
    const Image picture = render(r).output;
    vd::GradeSettings settings = settingsFor(108, 0.5f, 1);
    expectEffects(settings);
    EXPECT_EQ(maxDifference(picture, engineRender(source, half, 4, half, half, settings), half),
              0.0f);
}

TEST_F(RenderThroughPlugin, WindowReachingPastTheOutputWritesOnlyInsideIt) {
    // Windows that hang over every edge, at full and half scale and in both row orders: the
    // part inside the image equals the whole-image render, nothing else is written, and the
    // host sees no write outside the image (its guard bytes stay intact).
    set(kEffects);
    struct Case {
        OfxRectI window;
        double scale;
        bool negativeRows;
        BitDepth depth;
    };
    const std::vector<Case> cases = {
        {{-20, 50, 100, 140}, 1.0, false, BitDepth::float32},
        {{150, -30, 260, 40}, 1.0, true, BitDepth::short16},
        {{-5, -5, 200, 120}, 1.0, true, BitDepth::byte},
        {{-8, 20, 40, 70}, 0.5, false, BitDepth::float32},
    };
    for (const Case& test : cases) {
        const OfxRectI image = test.scale == 1.0 ? kFrame : OfxRectI{0, 0, 96, 54};
        SCOPED_TRACE(depthName(test.depth) + " window " + std::to_string(test.window.x1) + "," +
                     std::to_string(test.window.y1) + " scale " + std::to_string(test.scale));
        RenderRequest r = request(scene(test.depth, 4, image), 4.0);
        r.outputBounds = image;
        r.renderScale = {test.scale, test.scale};
        r.negativeRowBytes = test.negativeRows;
        r.rowPadding = 4;
        const Image whole = render(r).output;
        r.renderWindow = test.window;
        const Image part = render(r).output;
        const OfxRectI inside{
            std::max(image.x1, test.window.x1), std::max(image.y1, test.window.y1),
            std::min(image.x2, test.window.x2), std::min(image.y2, test.window.y2)};
        EXPECT_LE(maxDifference(part, whole, inside), 0.005f);
        for (int y = image.y1; y < image.y2; ++y) {
            for (int x = image.x1; x < image.x2; ++x) {
                const bool in = x >= inside.x1 && x < inside.x2 && y >= inside.y1 && y < inside.y2;
                if (!in && !vd::testhost::untouched(part, x, y)) {
                    ADD_FAILURE() << "pixel " << x << "," << y << " outside the window written";
                    return;
                }
            }
        }
    }
}

// ---- Refusals, the frame number and the region of interest -------------------------------

TEST_F(RenderThroughPlugin, UnsupportedGpuModesAnswerGpuFailureAndWriteNothing) {
    // OpenGL and Metal are never taken; GPU modes take float images only; an OpenCL render
    // needs the host's queue. (A GPU render that succeeds: GpuRenderTest.)
    static int queue;
    struct Case {
        RenderMode mode;
        BitDepth depth;
        void* queue;
    };
    for (const Case& c : {Case{RenderMode::openGL, BitDepth::float32, nullptr},
                          Case{RenderMode::metal, BitDepth::float32, nullptr},
                          Case{RenderMode::cuda, BitDepth::byte, &queue},
                          Case{RenderMode::cuda, BitDepth::short16, &queue},
                          Case{RenderMode::openCL, BitDepth::byte, &queue},
                          Case{RenderMode::openCL, BitDepth::short16, &queue},
                          Case{RenderMode::openCL, BitDepth::float32, nullptr}}) {
        RenderRequest r = request(scene(c.depth, 4, kFrame));
        r.mode = c.mode;
        r.openCLCommandQueue = c.queue;
        const RenderResult result = fx_->render(r);
        EXPECT_EQ(result.status, kOfxStatGPURenderFailed);
        EXPECT_EQ(result.imagesNotReleased, 0);
        for (int y = kFrame.y1; y < kFrame.y2; ++y) {
            for (int x = kFrame.x1; x < kFrame.x2; ++x) {
                ASSERT_TRUE(vd::testhost::untouched(result.output, x, y)) << x << "," << y;
            }
        }
    }
    // The same 16-bit render on the CPU succeeds.
    render(request(scene(BitDepth::short16, 4, kFrame)));
}

TEST_F(RenderThroughPlugin, RefusalsOfTheRenderArguments) {
    // Without time or render window the host asked for nothing that can be rendered.
    PropertySet empty;
    EXPECT_EQ(fx_->action(kOfxImageEffectActionRender, &empty), kOfxStatFailed);
    PropertySet blind;
    blind.defineDouble(kOfxPropTime, {0.0}, 1);
    blind.defineInt(kOfxImageEffectPropRenderWindow, {0, 0, 4, 4}, 4);
    blind.defineString(kOfxImageEffectPropNoSpatialAwareness, {"true"}, 1);
    EXPECT_EQ(fx_->action(kOfxImageEffectActionRender, &blind), kOfxStatErrUnsupported);
    EXPECT_EQ(host_->outstandingImages(), 0);
}

TEST_F(RenderThroughPlugin, FrameNumberRoundsHalvesAwayFromZero) {
    // Grain is seeded by the frame, so equal frames give equal grain.
    set({{"grainAmount", 80.0}});
    const Image source = scene(BitDepth::float32, 4, kFrame);
    auto at = [&](double time) { return render(request(source, time)).output.bytes(); };
    EXPECT_EQ(at(2.5), at(3.0));
    EXPECT_NE(at(2.5), at(2.0));
    EXPECT_EQ(at(-2.5), at(-3.0));
    EXPECT_NE(at(-2.5), at(-2.0));
}

TEST_F(RenderThroughPlugin, RegionOfInterestGrowsByHowFarTheEffectsRead) {
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
