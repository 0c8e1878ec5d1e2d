// The main entry's exception boundary, provoked the way it happens in a real host: an
// allocation inside the plug-in fails. This executable replaces the global operator new and
// makes it throw std::bad_alloc for calls made from the plug-in's own code while armed;
// every other allocation (the host's, the test's) goes through as usual.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "TestHost.h"

namespace {

std::atomic<bool> gArmed{false};
std::atomic<const void*> gPluginBase{nullptr};
std::atomic<int> gRefused{0};

bool calledFromPlugin(const void* returnAddress) {
    Dl_info info{};
    return dladdr(returnAddress, &info) != 0 && info.dli_fbase == gPluginBase.load();
}

// Arms the failure for the lifetime of the object.
struct FailPluginAllocations {
    explicit FailPluginAllocations(const OfxPlugin& plugin) {
        Dl_info info{};
        if (dladdr(reinterpret_cast<const void*>(plugin.mainEntry), &info) != 0) {
            gPluginBase = info.dli_fbase;
        }
        gRefused = 0;
        gArmed = true;
    }
    ~FailPluginAllocations() { gArmed = false; }
};

}  // namespace

// The replacement pairs malloc with free; GCC cannot see that through inlining.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
    if (gArmed.load(std::memory_order_relaxed) && calledFromPlugin(__builtin_return_address(0))) {
        ++gRefused;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using vd::testhost::TestHost;

TEST(ExceptionBoundary, FailedAllocationInsideAnActionReturnsFailedAndNothingEscapes) {
    TestHost host(VD_BUNDLE_DIR);
    ASSERT_EQ(host.load(), kOfxStatOK);
    ASSERT_EQ(host.describe(), kOfxStatOK);
    OfxStatus status = kOfxStatOK;
    {
        FailPluginAllocations failing(host.plugin());
        status = host.describeInContext(kOfxImageEffectContextFilter);
    }
    EXPECT_GT(gRefused.load(), 0) << "the probe did not reach an allocation in the plug-in";
    EXPECT_EQ(status, kOfxStatFailed);
    EXPECT_TRUE(host.problems().empty());
    // The plug-in keeps working once memory is back.
    EXPECT_EQ(host.describeInContext(kOfxImageEffectContextGeneral), kOfxStatOK);
    host.createInstance(kOfxImageEffectContextGeneral);
    EXPECT_TRUE(host.problems().empty());
}

TEST(ExceptionBoundary, RenderThatCannotAllocateFailsAndReleasesItsImages) {
    TestHost host(VD_BUNDLE_DIR);
    host.setUp(kOfxImageEffectContextFilter);
    auto& fx = host.createInstance(kOfxImageEffectContextFilter);
    fx.setValue("bloomAmount", 50.0);
    vd::testhost::RenderRequest request;
    request.source = vd::testhost::Image(vd::testhost::BitDepth::byte, 4, {0, 0, 64, 32});
    request.outputDepth = vd::testhost::BitDepth::byte;
    vd::testhost::RenderResult result;
    {
        FailPluginAllocations failing(host.plugin());
        result = fx.render(request);
    }
    EXPECT_GT(gRefused.load(), 0);
    EXPECT_EQ(result.status, kOfxStatFailed);
    EXPECT_EQ(result.imagesNotReleased, 0);
    EXPECT_TRUE(host.problems().empty());
    EXPECT_EQ(fx.render(request).status, kOfxStatOK);
}

}  // namespace
