// What the OpenCL back end enqueues, seen from inside, on a real runtime: the kernels of
// a render and a build that fails once.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "OpenClDevice.h"
#include "SequenceFixture.h"

namespace {

namespace gpu = vd::gpu;

using vd::testing::imageOn;
using vd::testing::kH;
using vd::testing::kW;
using vd::testing::withEffects;

// ---- OpenCL ---------------------------------------------------------------------------------

class OpenClSequence : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(device_.ok()) << device_.error() << " (install pocl-opencl-icd)";
        std::vector<float> pixels(kW * kH * 4, 0.5f);
        src_ = device_.upload(pixels.data(), pixels.size() * 4);
        dst_ = device_.upload(pixels.data(), pixels.size() * 4);
    }
    void TearDown() override {
        device_.release(src_);
        device_.release(dst_);
    }

    // Kernels enqueued by one render, or -1 when it fails.
    int launches(const vd::GradeSettings& s, vd::PixelRect window = {0, 0, kW, kH}) {
        const int before = gpu::testing::openClLaunches();
        const vd::ImageView src = imageOn(src_);
        if (!gpu::renderOpenCL(&src, imageOn(dst_), window, {0, 0, kW, kH}, s, device_.queue())) {
            return -1;
        }
        device_.finish();
        return gpu::testing::openClLaunches() - before;
    }

    vd::testhost::OpenClDevice device_;
    void* src_ = nullptr;
    void* dst_ = nullptr;
};

TEST_F(OpenClSequence, OneKernelWithoutEffectsTwelveWithBothAndNoneOutsideTheOutput) {
    EXPECT_EQ(launches(withEffects(false)), 1);
    EXPECT_EQ(launches(withEffects(true)), 12);
    EXPECT_EQ(launches(withEffects(true), {200, 0, 300, 10}), 0);
}

TEST_F(OpenClSequence, AContextWhoseBuildFailedIsNotBuiltAgainNorLoggedTwice) {
    gpu::testing::overrideKernelSource("this is not OpenCL C");
    const int builds = gpu::testing::openClBuilds();
    ::testing::internal::CaptureStderr();
    const int first = launches(withEffects(false));
    const int second = launches(withEffects(false));
    const std::string log = ::testing::internal::GetCapturedStderr();
    gpu::testing::overrideKernelSource(nullptr);
    EXPECT_EQ(first, -1);
    EXPECT_EQ(second, -1);
    EXPECT_EQ(gpu::testing::openClBuilds() - builds, 1);
    // The runtime may print diagnostics of its own; the back end prints one line.
    const std::string line = "OpenCL build failed:\n";
    const auto at = log.find(line);
    EXPECT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find(line, at + 1), std::string::npos) << log;
}

}  // namespace
