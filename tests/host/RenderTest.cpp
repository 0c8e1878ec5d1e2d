// Renders through the probe: the checks the host makes after a render, concurrent renders,
// render modes and device memory, and the images it hands out. Depths, layouts, windows
// and regions of interest are exercised by every render of the built plug-in.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "TestHost.h"

namespace vd::testhost {
namespace {

const char* const kFilter = kOfxImageEffectContextFilter;

struct Probe {
    TestHost host{VD_PROBE_BUNDLE};
    Instance* fx = nullptr;
    Probe() {
        host.setUp(kFilter);
        fx = &host.createInstance(kFilter);
    }
};

RenderRequest copyRequest(BitDepth depth, int components, OfxRectI bounds) {
    RenderRequest request;
    request.source = Image(depth, components, bounds);
    request.source->fillPattern(7);
    request.outputDepth = depth;
    request.outputComponents = components;
    request.outputBounds = bounds;
    return request;
}

TEST(Render, TheHostNoticesKeptImagesOverrunsAndEscapingExceptions) {
    Probe probe;
    probe.fx->setValue("behaviour", 1);
    RenderResult kept = probe.fx->render(copyRequest(BitDepth::byte, 4, {0, 0, 4, 4}));
    EXPECT_EQ(kept.imagesNotReleased, 1);

    probe.fx->setValue("behaviour", 2);
    RenderRequest padded = copyRequest(BitDepth::byte, 4, {0, 0, 4, 4});
    padded.rowPadding = 4;
    EXPECT_TRUE(probe.fx->render(padded).paddingChanged);

    probe.fx->setValue("behaviour", 3);
    EXPECT_EQ(probe.fx->render(copyRequest(BitDepth::byte, 4, {0, 0, 4, 4})).status,
              kOfxStatErrFatal);
    const std::vector<std::string> problems = probe.host.problems();
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_NE(problems[0].find("not released"), std::string::npos);
    EXPECT_NE(problems[1].find("outside the output"), std::string::npos);
    EXPECT_NE(problems[2].find("the probe throws on request"), std::string::npos);
}

TEST(RenderDeathTest, ACrashInThePlugInNamesTheActionItHappenedIn) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            Probe probe;
            probe.fx->setValue("behaviour", 5);
            probe.fx->render(copyRequest(BitDepth::byte, 4, {0, 0, 2, 2}));
        },
        "the plug-in crashed \\(.*\\) during OfxImageEffectActionRender");
}

TEST(Render, SeveralThreadsMayRenderOneInstanceAtOnce) {
    Probe probe;
    probe.fx->setValue("behaviour", 4);
    std::vector<std::thread> threads;
    std::atomic<int> matching{0};
    for (unsigned seed = 1; seed <= 4; ++seed) {
        threads.emplace_back([&, seed] {
            RenderRequest request = copyRequest(BitDepth::byte, 3, {0, 0, 9, 7});
            request.source->fillPattern(seed);
            request.time = seed;
            if (probe.fx->render(request).output.bytes() == request.source->bytes()) {
                ++matching;
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(matching, 4);
    EXPECT_TRUE(probe.host.problems().empty());
}

TEST(Render, GpuModesCarryTheirFlagAndQueueOrStream) {
    Probe probe;
    RenderRequest request = copyRequest(BitDepth::float32, 4, {0, 0, 2, 2});
    probe.fx->render(request);
    EXPECT_EQ(probe.fx->stringValue("seen"), "cpu");
    request.mode = RenderMode::openCL;
    request.openCLCommandQueue = reinterpret_cast<void*>(0x1234);
    probe.fx->render(request);
    EXPECT_EQ(probe.fx->stringValue("seen"), "opencl 4660");
    request.mode = RenderMode::cuda;
    probe.fx->render(request);
    EXPECT_EQ(probe.fx->stringValue("seen"), "cuda 0");  // the default stream
}

// Device memory that lives in ordinary memory, to check what the host does with it.
class FakeDevice : public DeviceMemory {
  public:
    std::vector<std::vector<unsigned char>> blocks;
    int released = 0;
    void* upload(const void* data, std::size_t bytes) override {
        auto* p = static_cast<const unsigned char*>(data);
        blocks.emplace_back(p, p + bytes);
        return blocks.back().data();
    }
    bool download(void* handle, void* data, std::size_t bytes) override {
        std::memcpy(data, handle, bytes);
        return true;
    }
    void release(void*) override { ++released; }
};

TEST(Render, GpuImagesGoThroughTheDeviceMemory) {
    Probe probe;
    FakeDevice device;
    device.blocks.reserve(2);  // keeps handed-out block addresses stable
    RenderRequest request = copyRequest(BitDepth::float32, 4, {0, 0, 3, 2});
    request.mode = RenderMode::cuda;
    request.device = &device;
    RenderResult result = probe.fx->render(request);
    ASSERT_EQ(result.status, kOfxStatOK);
    EXPECT_EQ(device.blocks.size(), 2u);
    EXPECT_EQ(result.output.bytes(), request.source->bytes());
    EXPECT_EQ(device.released, 2);
}

TEST(Images, AFetchedImageDescribesItselfAsAHostImageDoes) {
    Probe probe;
    auto* effects =
        static_cast<const OfxImageEffectSuiteV1*>(probe.host.fetchSuite(kOfxImageEffectSuite, 1));
    Clip& source = probe.fx->clip("Source");
    OfxPropertySetHandle handle = nullptr;
    EXPECT_EQ(effects->clipGetImage(source.handle(), 0, nullptr, &handle), kOfxStatFailed);

    source.image = Image(BitDepth::short16, 4, {-2, 3, 6, 8});
    source.image->premultiplied = true;
    ASSERT_EQ(effects->clipGetImage(source.handle(), 0, nullptr, &handle), kOfxStatOK);
    const PropertySet& image = *PropertySet::fromHandle(handle);
    EXPECT_EQ(image.string(kOfxImageEffectPropPixelDepth), kOfxBitDepthShort);
    EXPECT_EQ(image.string(kOfxImageEffectPropComponents), kOfxImageComponentRGBA);
    EXPECT_EQ(image.string(kOfxImageEffectPropPreMultiplication), kOfxImagePreMultiplied);
    EXPECT_EQ(image.integers(kOfxImagePropBounds), (std::vector<int>{-2, 3, 6, 8}));
    EXPECT_EQ(image.integers(kOfxImagePropRegionOfDefinition), (std::vector<int>{-2, 3, 6, 8}));
    EXPECT_EQ(image.integer(kOfxImagePropRowBytes), 8 * 4 * 2);
    EXPECT_NE(image.pointer(kOfxImagePropData), nullptr);
    OfxRectD rod{};
    EXPECT_EQ(effects->clipGetRegionOfDefinition(source.handle(), 0, &rod), kOfxStatOK);
    EXPECT_EQ(rod.x1, -2);
    EXPECT_EQ(rod.y2, 8);
    EXPECT_EQ(probe.host.outstandingImages(), 1);
    EXPECT_EQ(effects->clipReleaseImage(handle), kOfxStatOK);
    EXPECT_EQ(probe.host.outstandingImages(), 0);
    EXPECT_EQ(effects->clipReleaseImage(handle), kOfxStatErrBadHandle);
    ASSERT_EQ(probe.host.problems().size(), 1u);
    EXPECT_NE(probe.host.problems()[0].find("released twice"), std::string::npos);
    EXPECT_EQ(effects->abort(probe.fx->handle()), 0);
}

// Sample conversion itself is the engine's (grade/Samples.h), tested with its renders.
TEST(Images, AccessOutsideTheImageThrows) {
    Image bytes(BitDepth::byte, 3, {-1, -1, 1, 1});
    EXPECT_THROW(bytes.at(1, 0, 0), std::out_of_range);
    EXPECT_THROW(bytes.at(0, 0, 3), std::out_of_range);
    EXPECT_THROW(Image(BitDepth::float32, 2, {0, 0, 1, 1}), std::invalid_argument);
}

}  // namespace
}  // namespace vd::testhost
