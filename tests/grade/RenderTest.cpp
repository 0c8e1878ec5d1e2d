#include "grade/Grade.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <random>
#include <thread>

#include "TestImages.h"
#include "grade/Curves.h"
#include "grade/GradeContext.h"
#include "grade/PixelMath.h"
#include "grade/Threads.h"

namespace vd {
namespace {

using test::TestImage;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

std::array<float, 4> grey(float v, float a = 1.0f) {
    return {v, v, v, a};
}

// One pixel graded on its own: returns the output colour.
std::array<float, 4> gradeOne(const GradeSettings& s, std::array<float, 4> in, int components = 4) {
    TestImage src({0, 0, 1, 1}, components, kDepthFloat);
    src.fill([&](int, int) { return in; });
    TestImage dst({0, 0, 1, 1}, components, kDepthFloat);
    EXPECT_TRUE(renderCpu(&src.view, dst.view, {0, 0, 1, 1}, {0, 0, 1, 1}, s));
    std::array<float, 4> out{0, 0, 0, 1};
    for (int k = 0; k < components; ++k) {
        out[static_cast<std::size_t>(k)] = dst.get(0, 0, k);
    }
    return out;
}

// ---- The per-pixel grade through the driver ---------------------------------------------

TEST(PixelGrade, ExposureShoulderCompressesBrightLinearLight) {
    GradeSettings s;
    s.encoding = CameraEncoding::AppleLog;
    s.exposure = 4.0f;
    const float code = static_cast<float>(encode(2.0, s.encoding));
    const auto out = gradeOne(s, grey(code));
    EXPECT_NEAR(decode(out[0], s.encoding), 23.568, 0.02);
    // A black pixel has no channel above 0 in linear light: its codes pass unchanged.
    EXPECT_EQ(gradeOne(s, grey(0.0f))[0], 0.0f);
    s.exposure = 2.0f;
    EXPECT_EQ(gradeOne(s, grey(0.0f))[1], 0.0f);
}

// Look-only rows run four pixels at a time: odd widths, one-pixel windows and non-finite
// samples must give exactly the per-pixel look.
TEST(PixelGrade, LookOnlyRendersMatchThePerPixelLookExactly) {
    const auto cube = test::randomCube(17, 8);
    GradeSettings s;
    s.lutData = cube.data();
    s.lutEdge = 17;
    s.intensity = 0.7f;
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> wide(-0.3f, 1.3f);
    const float odd[] = {kNaN, kInf, -kInf, 1.0f, 0.0f, -0.0f};
    TestImage src({0, 0, 37, 5}, 4, kDepthFloat);
    src.fill([&](int x, int y) {
        std::array<float, 4> c{wide(rng), wide(rng), wide(rng), wide(rng)};
        if ((x + y) % 9 == 0) {
            c[static_cast<std::size_t>(x % 4)] = odd[(x * 7 + y) % 6];
        }
        return c;
    });
    // The second window starts left of the source, the third is one pixel wide.
    for (PixelRect window : {PixelRect{0, 0, 37, 5}, PixelRect{-3, 0, 30, 5}, {5, 1, 6, 2}}) {
        TestImage dst({-3, 0, 37, 5}, 4, kDepthFloat);
        ASSERT_TRUE(renderCpu(&src.view, dst.view, window, {}, s));
        for (int y = window.y1; y < window.y2; ++y) {
            for (int x = window.x1; x < window.x2; ++x) {
                const bool inside = x >= 0;
                const float in[4] = {
                    inside ? src.get(x, y, 0) : 0.0f, inside ? src.get(x, y, 1) : 0.0f,
                    inside ? src.get(x, y, 2) : 0.0f, inside ? src.get(x, y, 3) : 1.0f};
                float l[3];
                sampleTetra(cube.data(), 17, in[0], in[1], in[2], l);
                for (int k = 0; k < 3; ++k) {
                    const float want = in[k] + (l[k] - in[k]) * 0.7f;
                    const float got = dst.get(x, y, k);
                    EXPECT_TRUE(got == want || (std::isnan(got) && std::isnan(want)))
                        << x << "," << y << " channel " << k << ": " << got << " vs " << want;
                }
                const float alpha = dst.get(x, y, 3);
                EXPECT_TRUE(alpha == in[3] || (std::isnan(alpha) && std::isnan(in[3])));
            }
        }
    }
}

TEST(PixelGrade, GrainSparesDeepBlackAndNearWhite) {
    GradeSettings s;
    s.grainAmount = 1.0f;
    EXPECT_EQ(gradeOne(s, grey(0.01f))[0], 0.01f);
    EXPECT_EQ(gradeOne(s, grey(0.99f))[2], 0.99f);
    EXPECT_NE(gradeOne(s, grey(0.5f))[0], 0.5f);  // per frame: the plug-in's frame-number test
}

// At alpha 0.000001 or less, or NaN, a premultiplied pixel becomes transparent black.
TEST(PixelGrade, PremultipliedPixelsWithoutAlphaBecomeTransparentBlack) {
    GradeSettings s;
    s.premultiplied = true;
    s.saturation = -1.0f;
    s.beforeAfter = true;
    EXPECT_EQ(gradeOne(s, {0.3f, 0.3f, 0.3f, 1e-6f}), (std::array<float, 4>{0, 0, 0, 0}));
    EXPECT_EQ(gradeOne(s, {0.3f, 0.3f, 0.3f, kNaN}), (std::array<float, 4>{0, 0, 0, 0}));
}

// ---- Depths and conversion --------------------------------------------------------------

TEST(Depths, IntegerWritesClampAndZeroNonFiniteValues) {
    TestImage src({0, 0, 5, 1}, 3, kDepthFloat);
    const float values[5] = {1.2f, kNaN, -kInf, 0.5f, kInf};
    src.fill([&](int x, int) { return grey(values[x]); });
    TestImage shorts({0, 0, 5, 1}, 3, kDepthShort);
    ASSERT_TRUE(renderCpu(&src.view, shorts.view, {0, 0, 5, 1}, {}, GradeSettings{}));
    EXPECT_EQ(shorts.get(0, 0, 0), 1.0f);
    EXPECT_EQ(shorts.get(1, 0, 0), 0.0f);
    EXPECT_EQ(shorts.get(2, 0, 0), 0.0f);
    EXPECT_EQ(shorts.get(3, 0, 0) * 65535.0f, 32768.0f);  // 0.5 x 65535 + 0.5 truncated
    EXPECT_EQ(shorts.get(4, 0, 0), 0.0f);                 // +infinity is not white
    TestImage bytes({0, 0, 5, 1}, 3, kDepthByte);
    ASSERT_TRUE(renderCpu(&src.view, bytes.view, {0, 0, 5, 1}, {}, GradeSettings{}));
    EXPECT_EQ(bytes.bytes[9], 128);
    EXPECT_EQ(bytes.bytes[12], 0);
    // A float destination receives non-finite values as they are.
    TestImage floats({0, 0, 5, 1}, 3, kDepthFloat);
    ASSERT_TRUE(renderCpu(&src.view, floats.view, {0, 0, 5, 1}, {}, GradeSettings{}));
    EXPECT_TRUE(std::isnan(floats.get(1, 0, 0)));
    EXPECT_EQ(floats.get(2, 0, 1), -kInf);
}

TEST(Images, UnusableDescriptionsFailWithNothingWritten) {
    TestImage src({0, 0, 4, 4}, 4, kDepthFloat);
    TestImage dst({0, 0, 4, 4}, 4, kDepthByte);
    const auto before = dst.bytes;
    ImageView bad = dst.view;
    bad.data = nullptr;
    EXPECT_FALSE(renderCpu(&src.view, bad, {0, 0, 4, 4}, {}, GradeSettings{}));
    bad = dst.view;
    bad.components = 1;
    EXPECT_FALSE(renderCpu(&src.view, bad, {0, 0, 4, 4}, {}, GradeSettings{}));
    bad = dst.view;
    bad.depth = 3;
    EXPECT_FALSE(renderCpu(&src.view, bad, {0, 0, 4, 4}, {}, GradeSettings{}));
    ImageView badSrc = src.view;
    badSrc.rowBytes = 0;
    EXPECT_FALSE(renderCpu(&badSrc, dst.view, {0, 0, 4, 4}, {}, GradeSettings{}));
    EXPECT_EQ(dst.bytes, before);
    // A window that misses the destination succeeds with nothing to do.
    EXPECT_TRUE(renderCpu(&src.view, dst.view, {10, 10, 20, 20}, {}, GradeSettings{}));
    EXPECT_EQ(dst.bytes, before);
}

// ---- Halation and bloom: invariants for any radius (values are pinned by the goldens) ------

// Renders a frame into a float RGBA image of its bounds.
TestImage renderFloat(TestImage& src, const GradeSettings& s) {
    const PixelRect bounds = imageBounds(src.view);
    TestImage dst(bounds, 4, kDepthFloat);
    EXPECT_TRUE(renderCpu(&src.view, dst.view, bounds, bounds, s));
    return dst;
}

TEST(Halation, AUniformlyBrightFrameIsUnchangedForEveryBlurRadius) {
    TestImage src({0, 0, 48, 30}, 4, kDepthFloat);
    src.fill([](int, int) { return std::array<float, 4>{0.9f, 0.95f, 1.3f, 1.0f}; });
    for (int blurRadius = 1; blurRadius <= 32; ++blurRadius) {
        GradeSettings s;
        s.halationAmount = 1.0f;
        s.frameHeight = 1080;
        s.halationRadius = static_cast<float>(blurRadius * 4) / 52.0f;
        TestImage dst = renderFloat(src, s);
        EXPECT_EQ(maxDifference(src, dst, imageBounds(src.view)), 0.0f)
            << "blur radius " << blurRadius;
    }
}

// ---- Threads ----------------------------------------------------------------------------

struct Scene {
    std::vector<float> cube = test::randomCube(9, 42);
    GradeSettings settings;
    Scene() {
        GradeSettings& s = settings;
        s.encoding = CameraEncoding::AppleLog;
        s.exposure = 0.7f;
        s.temperature = 0.3f;
        s.lutData = cube.data();
        s.lutEdge = 9;
        s.intensity = 0.8f;
        s.contrast = 0.2f;
        s.highlights = -0.3f;
        s.shadows = 0.4f;
        s.saturation = 0.1f;
        s.grainAmount = 0.6f;
        s.halationAmount = 0.8f;
        s.halationRadius = 1.0f;
        s.bloomAmount = 0.7f;
        s.bloomRadius = 1.0f;
        s.vignetteAmount = -0.4f;
        s.borderTop = 0.05f;
        s.frame = 5;
        s.frameHeight = 90;
        s.premultiplied = true;
    }
};

// A host pool stand-in that runs the workers on threads of its own.
void fakeHostPool(void* calls, int n, GradeWorker worker, void* arg) {
    static_cast<std::atomic<int>*>(calls)->fetch_add(1);
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i) {
        threads.emplace_back(worker, arg, i, n);
    }
    for (auto& t : threads) {
        t.join();
    }
}

// A thread count of 1 keeps every pass, the glows' included, on the calling thread.
TEST(Threads, AThreadCountOfOneNeverUsesTheHostPool) {
    const PixelRect bounds{0, 0, 300, 300};
    TestImage src(bounds, 3, kDepthFloat), dst(bounds, 3, kDepthFloat);
    std::atomic<int> calls{0};
    GradeSettings s;
    s.threadCount = 1;
    s.halationAmount = 0.5f;
    s.bloomAmount = 0.5f;
    s.multiThread = fakeHostPool;
    s.multiThreadContext = &calls;
    ASSERT_TRUE(renderCpu(&src.view, dst.view, bounds, bounds, s));
    EXPECT_EQ(calls.load(), 0);
}

bool failAfterTwo(std::thread& out, GradeWorker worker, void* arg, int index, int count) {
    if (index > 2) {
        return false;
    }
    return launchStdThread(out, worker, arg, index, count);
}

bool neverStart(std::thread&, GradeWorker, void*, int, int) {
    return false;
}

TEST(Threads, BandsWhoseThreadCannotStartRunOnTheCallingThread) {
    for (ThreadLauncher launch : {failAfterTwo, neverStart, launchStdThread}) {
        std::array<std::atomic<int>, 32> runs{};
        runOnThreads(
            12,
            [](void* arg, int index, int count) {
                EXPECT_EQ(count, 12);
                (*static_cast<std::array<std::atomic<int>, 32>*>(arg))[index].fetch_add(1);
            },
            &runs, launch);
        for (int i = 0; i < 32; ++i) {
            EXPECT_EQ(runs[i].load(), i < 12 ? 1 : 0) << i;
        }
    }
}

// Every pass, the reductions and blurs of halation and bloom included, runs on the host's
// pool when there is one: 3 passes, 2 loops per reduction and per blur.
TEST(Threads, EveryLoopOfARenderRunsOnTheHostPool) {
    Scene scene;
    scene.settings.threadCount = 2;
    scene.settings.multiThread = fakeHostPool;
    std::atomic<int> calls{0};
    scene.settings.multiThreadContext = &calls;
    const PixelRect bounds{0, 0, 320, 180};  // every reduced grid at least 8 rows tall
    TestImage src(bounds, 4, kDepthFloat), dst(bounds, 4, kDepthFloat);
    src.fill([](int x, int y) { return grey(0.0005f * static_cast<float>(x * y), 1.0f); });
    ASSERT_TRUE(renderCpu(&src.view, dst.view, bounds, bounds, scene.settings));
    EXPECT_EQ(calls.load(), 3 + 2 * (1 + 1) + 2 * (2 + 2));
}

// A scratch kept between renders holds whatever the last render left in it: renders of
// other sizes and effects on it give the bytes a fresh scratch gives, on every SIMD
// target the CPU runs (all of them the bytes of the baseline), and it keeps only what the
// last render used.
TEST(Scratch, ReusedBuffersAndEverySimdTargetGiveTheBytesOfAFreshRender) {
    const PixelRect bounds{0, 0, 173, 97};
    TestImage src(bounds, 4, kDepthFloat);
    src.fill([](int x, int y) {
        const float v = 0.004f * static_cast<float>((x * 7 + y * 3) % 250);
        return std::array<float, 4>{v, 1.0f - v, 0.5f * v, 0.25f + 0.003f * static_cast<float>(y)};
    });
    Scene everything;
    Scene glowOnly;
    glowOnly.settings = GradeSettings{};
    glowOnly.settings.halationAmount = 0.6f;
    glowOnly.settings.bloomAmount = 0.5f;
    glowOnly.settings.borderSide = 0.1f;
    glowOnly.settings.splitScreen = true;
    const PixelRect tile{20, 10, 120, 70};
    const SimdTarget chosen = simdTarget();
    for (const GradeSettings* s : {&everything.settings, &glowOnly.settings}) {
        ASSERT_TRUE(selectSimdTarget(SimdTarget::baseline));
        TestImage fresh(bounds, 4, kDepthFloat);
        ASSERT_TRUE(renderCpu(&src.view, fresh.view, tile, bounds, *s));
        for (SimdTarget target : {SimdTarget::baseline, SimdTarget::avx2}) {
            if (!selectSimdTarget(target)) {
                continue;
            }
            RenderScratch scratch;
            TestImage reused(bounds, 4, kDepthFloat);
            // Whole frames first, with the other settings, leave the buffers full.
            ASSERT_TRUE(
                renderCpu(&src.view, reused.view, bounds, bounds, everything.settings, &scratch));
            ASSERT_TRUE(
                renderCpu(&src.view, reused.view, bounds, bounds, glowOnly.settings, &scratch));
            ASSERT_TRUE(renderCpu(&src.view, reused.view, tile, bounds, *s, &scratch));
            EXPECT_LE(maxDifference(fresh, reused, tile), 1e-6f) << static_cast<int>(target);
        }
    }
    selectSimdTarget(chosen);
    RenderScratch scratch;
    TestImage dst(bounds, 4, kDepthFloat);
    ASSERT_TRUE(renderCpu(&src.view, dst.view, bounds, bounds, everything.settings, &scratch));
    const std::size_t all = scratch.heldBytes();
    ASSERT_TRUE(renderCpu(&src.view, dst.view, bounds, bounds, GradeSettings{}, &scratch));
    EXPECT_LT(scratch.heldBytes(), all / 4);
}

// ---- Hostile input ----------------------------------------------------------------------

TEST(HostileInput, NonFiniteAndOutOfRangePixelsNeverBreakARender) {
    const PixelRect bounds{0, 0, 40, 30};
    TestImage src(bounds, 4, kDepthFloat);
    const float odd[] = {kNaN, kInf, -kInf, -3.0f, 7.0f, 1e30f, -0.0f, 0.5f};
    src.fill([&](int x, int y) {
        return std::array<float, 4>{odd[x % 8], odd[(x + y) % 8], odd[y % 8], odd[(x * y) % 8]};
    });
    Scene scene;
    scene.settings.frameHeight = 30;
    for (int depth : {kDepthByte, kDepthFloat}) {
        TestImage dst(bounds, 4, depth);
        EXPECT_TRUE(renderCpu(&src.view, dst.view, bounds, bounds, scene.settings));
    }
    // A non-finite pixel does not spread through the glows, the tone steps or the blend:
    // every pixel that was finite comes out finite.
    src.fill([](int x, int y) {
        return x == 9 && y == 9 ? std::array<float, 4>{kNaN, kInf, 0.5f, 1.0f} : grey(0.9f);
    });
    TestImage dst(bounds, 4, kDepthFloat);
    ASSERT_TRUE(renderCpu(&src.view, dst.view, bounds, bounds, scene.settings));
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            for (int k = 0; k < 4 && !(x == 9 && y == 9); ++k) {
                ASSERT_TRUE(std::isfinite(dst.get(x, y, k))) << x << "," << y << " " << k;
            }
        }
    }
}

TEST(HostileInput, InvertedSourceBoundsReadAsNoSource) {
    TestImage src({0, 0, 8, 8}, 4, kDepthByte), dst({0, 0, 8, 8}, 4, kDepthByte);
    src.fill([](int, int) { return grey(0.5f); });
    ImageView inverted = src.view;
    inverted.x1 = 8;
    inverted.x2 = 0;
    GradeSettings s;
    s.halationAmount = 1.0f;
    s.bloomAmount = 1.0f;
    s.frameHeight = 8;
    ASSERT_TRUE(renderCpu(&inverted, dst.view, {0, 0, 8, 8}, {}, s));
    EXPECT_EQ(dst.get(3, 3, 0), 0.0f);
    EXPECT_EQ(dst.get(3, 3, 3), 1.0f);
}

TEST(HostileInput, HugeRadiiAndFrameHeightsFailCleanlyOrStayBounded) {
    const PixelRect bounds{0, 0, 16, 16};
    TestImage src(bounds, 4, kDepthFloat), dst(bounds, 4, kDepthFloat);
    src.fill([](int, int) { return grey(0.9f); });
    GradeSettings s;
    s.halationAmount = 1.0f;
    s.bloomAmount = 1.0f;
    s.halationRadius = 1e30f;
    s.bloomRadius = 1e30f;
    s.frameHeight = 0x7fffffff;
    // With a source the regions are clipped to it and the render goes through.
    EXPECT_TRUE(renderCpu(&src.view, dst.view, bounds, bounds, s));
    // Without one they would be astronomically large: the render fails, nothing written.
    dst.fill([](int, int) { return grey(0.125f); });
    const auto before = dst.bytes;
    EXPECT_FALSE(renderCpu(nullptr, dst.view, bounds, bounds, s));
    EXPECT_EQ(dst.bytes, before);
    TestImage bytes(bounds, 4, kDepthByte);
    EXPECT_FALSE(renderCpu(&src.view, bytes.view, bounds, {}, GradeSettings{s}) &&
                 renderCpu(nullptr, bytes.view, bounds, bounds, s));
}

}  // namespace
}  // namespace vd
