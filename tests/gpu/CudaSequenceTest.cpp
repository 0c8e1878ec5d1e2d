// What the CUDA back end asks of the driver, against a stand-in driver library that
// records every call: allocations, launches, the stream wait and the frees.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "SequenceFixture.h"

namespace {

namespace gpu = vd::gpu;

using vd::testing::imageOn;
using vd::testing::kH;
using vd::testing::kW;
using vd::testing::withEffects;

// ---- CUDA against the stand-in driver ---------------------------------------------------------

auto starts(const std::string& prefix) {
    return [prefix](const std::string& line) { return line.rfind(prefix, 0) == 0; };
}

class CudaSequence : public ::testing::Test {
  protected:
    void SetUp() override {
        lib_ = dlopen(VD_CUDA_STAND_IN, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib_, nullptr) << dlerror();
        reset_ = reinterpret_cast<void (*)(int, const char*)>(dlsym(lib_, "standInReset"));
        calls_ =
            reinterpret_cast<const std::vector<std::string>* (*)()>(dlsym(lib_, "standInCalls"));
        gpu::testing::useCudaLibrary(VD_CUDA_STAND_IN);
        // The first render sets the module up: load, three curve tables and the zero.
        reset_(-1, nullptr);
        ASSERT_TRUE(render(withEffects(false)));
        const std::vector<std::string> setup = calls();
        ASSERT_EQ(std::count_if(setup.begin(), setup.end(), starts("alloc")), 5);
        EXPECT_EQ(setup[0], "init");
        EXPECT_EQ(setup[1], "load ptx");
    }
    void TearDown() override {
        if (lib_ != nullptr) {
            dlclose(lib_);
        }
    }

    bool render(const vd::GradeSettings& s) {
        const vd::ImageView src = imageOn(reinterpret_cast<void*>(0x7000000));
        return gpu::renderCuda(&src, imageOn(reinterpret_cast<void*>(0x8000000)), {0, 0, kW, kH},
                               {0, 0, kW, kH}, s, nullptr);
    }

    std::vector<std::string> calls() const { return *calls_(); }

    // Lines of a render's record that start with `prefix`.
    static std::vector<std::string> only(const std::vector<std::string>& calls,
                                         const std::string& prefix) {
        std::vector<std::string> out;
        std::copy_if(calls.begin(), calls.end(), std::back_inserter(out), starts(prefix));
        return out;
    }

    // The record ends with one wait and then a free of every render allocation.
    static void expectWaitThenFrees(const std::vector<std::string>& c) {
        const auto wait = std::find(c.begin(), c.end(), "wait");
        ASSERT_NE(wait, c.end());
        EXPECT_EQ(std::count(c.begin(), c.end(), "wait"), 1);
        const auto allocs = std::count_if(c.begin(), c.end(), [](const std::string& l) {
            return l.rfind("alloc", 0) == 0 && l.find("failed") == std::string::npos;
        });
        EXPECT_EQ(std::count_if(wait, c.end(), starts("free")), allocs);
        EXPECT_EQ(std::count_if(c.begin(), wait, starts("free")), 0);
    }

    void* lib_ = nullptr;
    void (*reset_)(int, const char*) = nullptr;
    const std::vector<std::string>* (*calls_)() = nullptr;
};

TEST_F(CudaSequence, WithoutEffectsOneLaunchOneWaitThenTheParamsBlockIsFreed) {
    reset_(-1, nullptr);
    ASSERT_TRUE(render(withEffects(false)));
    const std::vector<std::string> c = calls();
    const std::vector<std::string> allocs = only(c, "alloc");
    ASSERT_EQ(allocs.size(), 1u);
    EXPECT_EQ(allocs[0].rfind("alloc 260 at", 0), 0u);
    EXPECT_EQ(only(c, "launch"),
              std::vector<std::string>{"launch vd_grade 12x7x1 of 8x8x1 shared 0"});
    expectWaitThenFrees(c);
}

TEST_F(CudaSequence, WithBothEffectsEveryBufferIsAllocatedThenTwelveLaunchesOneWait) {
    reset_(-1, nullptr);
    ASSERT_TRUE(render(withEffects(true)));
    const std::vector<std::string> c = calls();
    std::vector<std::string> launched;
    for (const std::string& l : only(c, "launch")) {
        launched.push_back(l.substr(7, l.find(' ', 7) - 7));
    }
    EXPECT_EQ(launched, (std::vector<std::string>{
                            "vd_mask", "vd_down", "vd_blur_h", "vd_blur_v", "vd_grade",
                            "vd_bloom_extract", "vd_bloom_down", "vd_bloom_blur_h",
                            "vd_bloom_blur_v", "vd_bloom_blur_h", "vd_bloom_blur_v", "vd_finish"}));
    // Params, core, small, tmp, halation weights, gather and level-1 blocks, graded,
    // level 0, level 1, tmp0 and the two bloom weight arrays.
    EXPECT_EQ(only(c, "alloc").size(), 13u);
    expectWaitThenFrees(c);
}

TEST_F(CudaSequence, AFailedLaunchOrAllocationWaitsForTheStreamBeforeFreeing) {
    reset_(-1, "vd_bloom_extract");
    EXPECT_FALSE(render(withEffects(true)));
    expectWaitThenFrees(calls());
    // The sixth allocation (the gather block) fails after the halation kernels ran.
    reset_(5, nullptr);
    EXPECT_FALSE(render(withEffects(true)));
    const std::vector<std::string> c = calls();
    EXPECT_EQ(only(c, "launch").size(), 4u);
    expectWaitThenFrees(c);
}

TEST(CudaWithoutDriver, EveryRenderFailsAfterOneAttemptToLoadIt) {
    gpu::testing::useCudaLibrary("/nonexistent/libcuda.so.1");
    const vd::ImageView image = imageOn(reinterpret_cast<void*>(0x8000000));
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(gpu::renderCuda(nullptr, image, {0, 0, kW, kH}, {0, 0, kW, kH},
                                     vd::GradeSettings{}, nullptr));
    }
    EXPECT_EQ(gpu::testing::cudaLoadAttempts(), 1);
}

}  // namespace
