// The test host's own tests, through the probe plug-in: loading a bundle, properties,
// animated values, edit reports, instances and threads, and the checks it makes after a
// render. What the built plug-in exercises of the host (describing, the profiles, parameter
// values through the C varargs, fixed choice options, depths, layouts, windows and regions
// of interest) is checked by its own tests.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "PropertySet.h"
#include "TestHost.h"

namespace vd::testhost {
namespace {

const char* const kFilter = kOfxImageEffectContextFilter;

// The probe loaded in a host of the given profile, with one filter instance.
struct Probe {
    TestHost host;
    Instance* fx = nullptr;
    explicit Probe(const HostProfile& profile = {}) : host(VD_PROBE_BUNDLE, profile) {
        host.setUp(kFilter);
        fx = &host.createInstance(kFilter);
    }
};

std::vector<ActionRecord> actionsNamed(const TestHost& host, const std::string& action) {
    std::vector<ActionRecord> found;
    for (const ActionRecord& record : host.actions()) {
        if (record.action == action) {
            found.push_back(record);
        }
    }
    return found;
}

// The statuses a real host answers, which the plug-in's failure paths depend on.
TEST(PropertySet, AnswersAsARealHostDoes) {
    PropertySet set;
    set.defineInt("count", {1, 2});
    set.defineDouble("scale", {1.0, 1.0}, 2);
    set.defineString("list", {"a", "b", "c"});
    int i = 0;
    double d = 0;
    char* s = nullptr;
    int three[3] = {};
    EXPECT_EQ(set.getInt("count", 1, &i), kOfxStatOK);
    EXPECT_EQ(i, 2);
    EXPECT_EQ(set.getInt("missing", 0, &i), kOfxStatErrUnknown);
    EXPECT_EQ(set.getDouble("count", 0, &d), kOfxStatErrValue);
    EXPECT_EQ(set.getString("count", 0, &s), kOfxStatErrValue);
    EXPECT_EQ(set.getInt("count", -1, &i), kOfxStatErrBadIndex);
    EXPECT_EQ(set.getIntN("count", 3, three), kOfxStatErrBadIndex);
    EXPECT_EQ(set.setInt("scale", 0, 3), kOfxStatErrValue);
    EXPECT_EQ(set.setDouble("scale", 2, 3.0), kOfxStatErrBadIndex);  // fixed dimension
    EXPECT_EQ(set.setString("list", 4, "e"), kOfxStatErrBadIndex);   // a gap
    EXPECT_EQ(set.setString("list", 3, "d"), kOfxStatOK);            // appended at the end
    const char* two[] = {"x", "y"};
    ASSERT_EQ(set.setStringN("list", 2, two), kOfxStatOK);
    EXPECT_EQ(set.getDimension("list", &i), kOfxStatOK);
    EXPECT_EQ(i, 2);
    EXPECT_EQ(set.reset("list"), kOfxStatOK);
    EXPECT_EQ(set.strings("list"), (std::vector<std::string>{"a", "b", "c"}));
    set.lockDimension("list");
    EXPECT_EQ(set.setStringN("list", 2, two), kOfxStatErrValue);
    EXPECT_EQ(set.setString("list", 3, "d"), kOfxStatErrBadIndex);
    EXPECT_EQ(set.setString("list", 0, "first"), kOfxStatOK);
    EXPECT_EQ(set.strings("list"), (std::vector<std::string>{"first", "b", "c"}));
    // Properties the host did not define are accepted with the setter's type.
    EXPECT_EQ(set.setString("OfxSomethingNew", 0, "x"), kOfxStatOK);
    EXPECT_EQ(set.type("OfxSomethingNew"), PropType::string);
    EXPECT_TRUE(set.writtenByPlugin("OfxSomethingNew"));
    EXPECT_FALSE(set.writtenByPlugin("count"));
    EXPECT_EQ(PropertySet::fromHandle(set.handle()), &set);
    EXPECT_EQ(PropertySet::fromHandle(reinterpret_cast<OfxPropertySetHandle>(&i)), nullptr);
}

TEST(Loading, RefusesFoldersThatAreNotBundlesAndASecondHost) {
    EXPECT_THROW(TestHost("/tmp"), std::runtime_error);
    EXPECT_THROW(TestHost("/nonexistent/Thing.ofx.bundle"), std::runtime_error);
    TestHost first(VD_PROBE_BUNDLE);
    EXPECT_THROW(TestHost second(VD_PROBE_BUNDLE), std::runtime_error);
}

TEST(Edits, AUserEditIsBracketedAndPluginEditsComeBackAtOnceOnTheSameThread) {
    Probe probe;
    TestHost& host = probe.host;
    Instance& fx = *probe.fx;
    host.clearActions();
    EXPECT_EQ(fx.pressButton("bump"), kOfxStatOK);

    EXPECT_EQ(fx.intValue("count"), 3);
    EXPECT_EQ(fx.param("note").props.integer(kOfxParamPropSecret), 1);
    // The two writes of the handler are reported inside it, on its thread.
    std::vector<std::string> seen;
    for (const ActionRecord& a : host.actions()) {
        seen.push_back(a.action + " " + a.name + " " + a.reason + " " + std::to_string(a.depth) +
                       (a.thread == std::this_thread::get_id() ? "" : " elsewhere"));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{
                        kOfxActionBeginInstanceChanged + std::string("  OfxChangeUserEdited 0"),
                        kOfxActionInstanceChanged + std::string(" bump OfxChangeUserEdited 0"),
                        kOfxActionInstanceChanged + std::string(" count OfxChangePluginEdited 1"),
                        kOfxActionInstanceChanged + std::string(" note OfxChangePluginEdited 1"),
                        kOfxActionEndInstanceChanged + std::string("  OfxChangeUserEdited 0")}));

    const std::vector<ParamWrite> writes = fx.writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].param, "count");
    EXPECT_EQ(writes[0].value, ParamValue{3});
    EXPECT_EQ(writes[1].param, "note");
    EXPECT_EQ(writes[1].property, kOfxParamPropSecret);
    EXPECT_EQ(writes[1].propertyValue, "1");
}

TEST(Edits, EditBlocksAndTimedWritesAreRecordedAsThePlugInMadeThem) {
    Probe probe;
    TestHost& host = probe.host;
    Instance& fx = *probe.fx;
    auto* params = static_cast<const OfxParameterSuiteV1*>(host.fetchSuite(kOfxParameterSuite, 1));
    auto* effects =
        static_cast<const OfxImageEffectSuiteV1*>(host.fetchSuite(kOfxImageEffectSuite, 1));
    OfxParamSetHandle set = nullptr;
    ASSERT_EQ(effects->getParamSet(fx.handle(), &set), kOfxStatOK);
    OfxParamHandle amount = nullptr;
    ASSERT_EQ(params->paramGetHandle(set, "amount", &amount, nullptr), kOfxStatOK);
    EXPECT_EQ(params->paramEditBegin(set, "Reset"), kOfxStatOK);
    EXPECT_EQ(params->paramSetValueAtTime(amount, 3.0, 0.75), kOfxStatOK);
    EXPECT_EQ(params->paramEditEnd(set), kOfxStatOK);
    EXPECT_EQ(params->paramEditEnd(set), kOfxStatFailed);

    EXPECT_EQ(fx.editHistory(), (std::vector<std::string>{"begin Reset", "end"}));
    ASSERT_EQ(fx.writes().size(), 1u);
    EXPECT_EQ(fx.writes()[0].time, std::optional<OfxTime>(3.0));
    EXPECT_EQ(fx.param("amount").keyTimes(), (std::vector<OfxTime>{3.0}));
    EXPECT_EQ(params->paramGetHandle(set, "absent", &amount, nullptr), kOfxStatErrUnknown);
    EXPECT_EQ(host.problems().size(), 1u);  // the unmatched paramEditEnd
}

TEST(Instances, DestroyingSendsTheActionAndForgetsTheInstance) {
    Probe probe;
    TestHost& host = probe.host;
    Instance& a = *probe.fx;
    host.createInstance(kFilter);
    EXPECT_EQ(host.instances().size(), 2u);
    const void* handle = a.handle();
    EXPECT_EQ(host.destroyInstance(a), kOfxStatOK);
    EXPECT_EQ(host.instances().size(), 1u);
    const auto destroyed = actionsNamed(host, kOfxActionDestroyInstance);
    ASSERT_EQ(destroyed.size(), 1u);
    EXPECT_EQ(destroyed[0].handle, handle);
    EXPECT_THROW(host.createInstance(kOfxImageEffectContextGeneral), std::out_of_range);
}

TEST(Threads, MultiThreadRunsEveryIndexOnSpawnedThreadsAndAFailingEntryNothing) {
    for (const bool fails : {false, true}) {
        HostProfile profile;
        profile.threads = 3;
        profile.multiThreadFails = fails;
        Probe probe(profile);
        probe.fx->pressButton("probeThreads");
        // 8 runs with the indexes 0..7 (sum 28), each on a spawned thread, each refused a
        // nested call; the caller itself is not a spawned thread.
        EXPECT_EQ(probe.fx->stringValue("note"),
                  fails ? "status 1 calls 0 indexSum 0 spawned 0 nested 0 cpus 3 main 0"
                        : "status 0 calls 8 indexSum 28 spawned 8 nested 8 cpus 3 main 0");
    }
}

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

    // Depths, layouts and bounds are read by every render of the built plug-in.
    source.image = Image(BitDepth::short16, 4, {-2, 3, 6, 8});
    source.image->premultiplied = true;
    ASSERT_EQ(effects->clipGetImage(source.handle(), 0, nullptr, &handle), kOfxStatOK);
    const PropertySet& image = *PropertySet::fromHandle(handle);
    EXPECT_EQ(image.string(kOfxImageEffectPropPreMultiplication), kOfxImagePreMultiplied);
    EXPECT_EQ(image.integers(kOfxImagePropRegionOfDefinition), (std::vector<int>{-2, 3, 6, 8}));
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
}

}  // namespace
}  // namespace vd::testhost
