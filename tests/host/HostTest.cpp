// Loading a bundle, describing, instances, parameter values and edits, through the probe.
#include <gtest/gtest.h>

#include <cstdarg>

#include "TestHost.h"

namespace vd::testhost {
namespace {

const char* const kFilter = kOfxImageEffectContextFilter;

std::vector<ActionRecord> actionsNamed(const TestHost& host, const std::string& action) {
    std::vector<ActionRecord> found;
    for (const ActionRecord& record : host.actions()) {
        if (record.action == action) {
            found.push_back(record);
        }
    }
    return found;
}

TEST(Loading, OpensTheLibraryInsideTheBundleAndHandsOverTheHost) {
    TestHost host(VD_PROBE_BUNDLE "/");
    EXPECT_NE(host.libraryPath().find("HostProbe.ofx.bundle/Contents/Linux-x86-64/HostProbe.ofx"),
              std::string::npos);
    EXPECT_EQ(host.numberOfPlugins(), 1);
    EXPECT_STREQ(host.plugin().pluginIdentifier, "com.vandrel.HostProbe");
    EXPECT_EQ(host.pluginAt(1), nullptr);
    EXPECT_TRUE(host.exportsSetHost());
    EXPECT_EQ(host.load(), kOfxStatOK);
    EXPECT_TRUE(host.problems().empty());
}

TEST(Loading, RefusesFoldersThatAreNotBundlesAndASecondHost) {
    EXPECT_THROW(TestHost("/tmp"), std::runtime_error);
    EXPECT_THROW(TestHost("/nonexistent/Thing.ofx.bundle"), std::runtime_error);
    TestHost first(VD_PROBE_BUNDLE);
    EXPECT_THROW(TestHost second(VD_PROBE_BUNDLE), std::runtime_error);
}

TEST(Loading, ProfilesLeaveSuitesAndEntriesOut) {
    {
        HostProfile profile;
        profile.parameterSuite = false;
        TestHost host(VD_PROBE_BUNDLE, profile);
        EXPECT_EQ(host.fetchSuite(kOfxParameterSuite, 1), nullptr);
        EXPECT_EQ(host.load(), kOfxStatErrMissingHostFeature);
    }
    {
        HostProfile profile;
        profile.multiThreadSuite = false;
        profile.propSetStringN = false;
        profile.propSetIntN = false;
        TestHost host(VD_PROBE_BUNDLE, profile);
        EXPECT_EQ(host.fetchSuite(kOfxMultiThreadSuite, 1), nullptr);
        auto* props = static_cast<const OfxPropertySuiteV1*>(host.fetchSuite(kOfxPropertySuite, 1));
        ASSERT_NE(props, nullptr);
        EXPECT_EQ(props->propSetStringN, nullptr);
        EXPECT_EQ(props->propSetIntN, nullptr);
        EXPECT_NE(props->propSetDoubleN, nullptr);
        EXPECT_EQ(host.fetchSuite(kOfxPropertySuite, 2), nullptr);
        // The probe falls back to setting values one by one.
        host.setUp(kFilter);
        EXPECT_EQ(host.descriptor().props.integers(kOfxPropVersion), (std::vector<int>{1, 2, 3}));
        EXPECT_EQ(host.context(kFilter).param("mode").props.strings(kOfxParamPropChoiceOption),
                  (std::vector<std::string>{"First", "Second", "Third"}));
    }
}

TEST(Describing, RecordsDescriptorPropertiesClipsAndParametersInOrder) {
    TestHost host(VD_PROBE_BUNDLE);
    host.setUp(kFilter);
    const PropertySet& described = host.descriptor().props;
    EXPECT_EQ(described.string(kOfxPropLabel), "Host Probe");
    EXPECT_EQ(
        described.strings(kOfxImageEffectPropSupportedContexts),
        (std::vector<std::string>{kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral}));
    EXPECT_EQ(described.string(kOfxImageEffectPropCudaRenderSupported), "true");
    EXPECT_TRUE(described.writtenByPlugin(kOfxImageEffectPropCudaRenderSupported));
    // A host default the plug-in did not touch.
    EXPECT_EQ(described.string(kOfxImageEffectPropOpenCLRenderSupported), "false");
    EXPECT_FALSE(described.writtenByPlugin(kOfxImageEffectPropOpenCLRenderSupported));

    Effect& filter = host.context(kFilter);
    EXPECT_EQ(filter.props.string(kOfxImageEffectPropContext), kFilter);
    EXPECT_EQ(filter.clipNames(), (std::vector<std::string>{"Output", "Source"}));
    EXPECT_EQ(filter.clip("Source").props.strings(kOfxImageEffectPropSupportedComponents),
              (std::vector<std::string>{kOfxImageComponentRGBA, kOfxImageComponentRGB}));
    EXPECT_EQ(
        filter.paramNames(),
        (std::vector<std::string>{"controls", "amount", "count", "flag", "mode", "behaviour",
                                  "tint", "note", "seen", "bump", "grow", "probeThreads", "page"}));
    const Param& amount = filter.param("amount");
    EXPECT_EQ(amount.kind, ParamKind::real);
    EXPECT_EQ(amount.props.string(kOfxParamPropType), kOfxParamTypeDouble);
    EXPECT_EQ(amount.props.real(kOfxParamPropDefault), 0.5);
    EXPECT_EQ(amount.props.string(kOfxParamPropParent), "controls");
    EXPECT_EQ(amount.props.integer(kOfxParamPropDigits), 2);  // the host's default
    EXPECT_EQ(filter.param("tint").props.reals(kOfxParamPropDefault),
              (std::vector<double>{0.25, 0.5, 0.75}));
    EXPECT_EQ(filter.param("page").props.strings(kOfxParamPropPageChild),
              (std::vector<std::string>{"controls", "amount", "count"}));
    EXPECT_EQ(filter.param("note").value(), ParamValue{std::string("hello")});
    EXPECT_THROW(filter.param("absent"), std::out_of_range);
}

TEST(Describing, AnUnsupportedContextIsReportedAndDefinesNothing) {
    TestHost host(VD_PROBE_BUNDLE);
    ASSERT_EQ(host.load(), kOfxStatOK);
    ASSERT_EQ(host.describe(), kOfxStatOK);
    EXPECT_EQ(host.describeInContext(kOfxImageEffectContextGenerator), kOfxStatErrUnsupported);
    EXPECT_TRUE(host.context(kOfxImageEffectContextGenerator).params().empty());
    EXPECT_THROW(host.context(kOfxImageEffectContextPaint), std::out_of_range);
}

TEST(Parameters, InstancesStartFromTheDefaultsAndHandValuesThroughTheCVarargs) {
    TestHost host(VD_PROBE_BUNDLE);
    host.setUp(kFilter);
    Instance& fx = host.createInstance(kFilter);
    EXPECT_EQ(fx.doubleValue("amount"), 0.5);
    EXPECT_EQ(fx.intValue("count"), 2);
    EXPECT_EQ(fx.intValue("flag"), 1);
    EXPECT_EQ(fx.rgbValue("tint"), (Rgb{0.25, 0.5, 0.75}));
    EXPECT_EQ(fx.stringValue("note"), "hello");
    EXPECT_EQ(fx.param("amount").props.string(kOfxPropType), kOfxTypeParameterInstance);

    auto* params = static_cast<const OfxParameterSuiteV1*>(host.fetchSuite(kOfxParameterSuite, 1));
    fx.setValue("tint", Rgb{0.1, 0.2, 0.3});
    fx.setValue("amount", 2);  // an int converts for a double parameter
    double r = 0, g = 0, b = 0, amount = 0;
    int count = 0;
    char* note = nullptr;
    EXPECT_EQ(params->paramGetValue(fx.param("tint").handle(), &r, &g, &b), kOfxStatOK);
    EXPECT_EQ(params->paramGetValue(fx.param("amount").handle(), &amount), kOfxStatOK);
    EXPECT_EQ(params->paramGetValue(fx.param("count").handle(), &count), kOfxStatOK);
    EXPECT_EQ(params->paramGetValue(fx.param("note").handle(), &note), kOfxStatOK);
    EXPECT_EQ((Rgb{r, g, b}), (Rgb{0.1, 0.2, 0.3}));
    EXPECT_EQ(amount, 2.0);
    EXPECT_EQ(count, 2);
    EXPECT_STREQ(note, "hello");
    EXPECT_NE(params->paramGetValue(fx.param("bump").handle(), &count), kOfxStatOK);
    EXPECT_EQ(params->paramGetValue(reinterpret_cast<OfxParamHandle>(&count), &count),
              kOfxStatErrBadHandle);
    EXPECT_EQ(host.problems().size(), 1u);  // the unknown handle
    EXPECT_THROW(fx.setValue("note", 3), std::invalid_argument);
}

TEST(Parameters, AnimatedNumbersInterpolateBetweenKeysAndIntegersHold) {
    TestHost host(VD_PROBE_BUNDLE);
    host.setUp(kFilter);
    Instance& fx = host.createInstance(kFilter);
    fx.setValueAtTime("amount", 0, 0.0);
    fx.setValueAtTime("amount", 10, 1.0);
    fx.setValueAtTime("count", 0, 0);
    fx.setValueAtTime("count", 10, 10);
    auto* params = static_cast<const OfxParameterSuiteV1*>(host.fetchSuite(kOfxParameterSuite, 1));
    double amount = -1;
    int count = -1;
    EXPECT_EQ(params->paramGetValueAtTime(fx.param("amount").handle(), 2.5, &amount), kOfxStatOK);
    EXPECT_DOUBLE_EQ(amount, 0.25);
    EXPECT_EQ(params->paramGetValueAtTime(fx.param("count").handle(), 9.0, &count), kOfxStatOK);
    EXPECT_EQ(count, 0);
    params->paramGetValueAtTime(fx.param("amount").handle(), 20.0, &amount);
    EXPECT_EQ(amount, 1.0);
    fx.time = 5;
    EXPECT_EQ(fx.doubleValue("amount"), 0.5);
    EXPECT_EQ(fx.param("amount").keyTimes(), (std::vector<OfxTime>{0, 10}));
    unsigned keys = 0;
    EXPECT_EQ(params->paramGetNumKeys(fx.param("amount").handle(), &keys), kOfxStatOK);
    EXPECT_EQ(keys, 2u);
}

TEST(Edits, AUserEditIsBracketedAndPluginEditsComeBackAtOnceOnTheSameThread) {
    TestHost host(VD_PROBE_BUNDLE);
    host.setUp(kFilter);
    Instance& fx = host.createInstance(kFilter);
    host.clearActions();
    EXPECT_EQ(fx.pressButton("bump"), kOfxStatOK);

    EXPECT_EQ(fx.intValue("count"), 3);
    EXPECT_EQ(fx.param("note").props.integer(kOfxParamPropSecret), 1);
    const std::vector<ActionRecord> actions = host.actions();
    ASSERT_EQ(actions.size(), 5u);
    EXPECT_EQ(actions[0].action, kOfxActionBeginInstanceChanged);
    EXPECT_EQ(actions[1].action, kOfxActionInstanceChanged);
    EXPECT_EQ(actions[1].name, "bump");
    EXPECT_EQ(actions[1].reason, kOfxChangeUserEdited);
    // The two writes of the handler, reported inside it.
    EXPECT_EQ(actions[2].name, "count");
    EXPECT_EQ(actions[2].reason, kOfxChangePluginEdited);
    EXPECT_EQ(actions[2].depth, 1);
    EXPECT_EQ(actions[2].thread, actions[1].thread);
    EXPECT_EQ(actions[3].name, "note");
    EXPECT_EQ(actions[3].reason, kOfxChangePluginEdited);
    EXPECT_EQ(actions[4].action, kOfxActionEndInstanceChanged);

    const std::vector<ParamWrite> writes = fx.writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].param, "count");
    EXPECT_EQ(writes[0].value, ParamValue{3});
    EXPECT_EQ(writes[1].param, "note");
    EXPECT_EQ(writes[1].property, kOfxParamPropSecret);
    EXPECT_EQ(writes[1].propertyValue, "1");
}

TEST(Edits, ReportsCanBeSwitchedOffAndHostWritesAreNotRecorded) {
    HostProfile profile;
    profile.reportPluginEdits = false;
    TestHost host(VD_PROBE_BUNDLE, profile);
    host.setUp(kFilter);
    Instance& fx = host.createInstance(kFilter);
    fx.setValue("count", 7);
    EXPECT_TRUE(fx.writes().empty());
    host.clearActions();
    fx.pressButton("bump");
    EXPECT_EQ(fx.intValue("count"), 8);
    EXPECT_EQ(actionsNamed(host, kOfxActionInstanceChanged).size(), 1u);
    EXPECT_EQ(fx.writes().size(), 2u);
}

TEST(Edits, ChoiceOptionsAreFixedOrReplaceableByProfile) {
    for (bool fixed : {true, false}) {
        HostProfile profile;
        profile.fixedChoiceOptions = fixed;
        TestHost host(VD_PROBE_BUNDLE, profile);
        host.setUp(kFilter);
        Instance& fx = host.createInstance(kFilter);
        fx.pressButton("grow");
        const std::vector<std::string> options =
            fx.param("mode").props.strings(kOfxParamPropChoiceOption);
        if (fixed) {
            EXPECT_EQ(fx.stringValue("note"), "grow 11 relabel 0");
            EXPECT_EQ(options, (std::vector<std::string>{"One", "Second", "Third"}));
        } else {
            EXPECT_EQ(fx.stringValue("note"), "grow 0 relabel 0");
            EXPECT_EQ(options, (std::vector<std::string>{"One", "B", "C", "D", "E"}));
        }
        // The descriptor keeps the options given at describe time.
        EXPECT_EQ(host.context(kFilter).param("mode").props.dimension(kOfxParamPropChoiceOption),
                  3);
    }
}

TEST(Edits, EditBlocksAndTimedWritesAreRecordedAsThePlugInMadeThem) {
    TestHost host(VD_PROBE_BUNDLE);
    host.setUp(kFilter);
    Instance& fx = host.createInstance(kFilter);
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
    TestHost host(VD_PROBE_BUNDLE);
    host.setUp(kFilter);
    Instance& a = host.createInstance(kFilter);
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

TEST(Threads, MultiThreadRunsEveryIndexOnSpawnedThreadsAndRefusesNesting) {
    HostProfile profile;
    profile.threads = 3;
    TestHost host(VD_PROBE_BUNDLE, profile);
    host.setUp(kFilter);
    Instance& fx = host.createInstance(kFilter);
    fx.pressButton("probeThreads");
    // 8 runs with the indexes 0..7 (sum 28), each on a spawned thread, each refused a nested
    // call; the caller itself is not a spawned thread.
    EXPECT_EQ(fx.stringValue("note"),
              "status 0 calls 8 indexSum 28 spawned 8 nested 8 cpus 3 main 0");
}

TEST(Threads, AFailingEntryRunsNothing) {
    HostProfile profile;
    profile.multiThreadFails = true;
    TestHost host(VD_PROBE_BUNDLE, profile);
    host.setUp(kFilter);
    Instance& fx = host.createInstance(kFilter);
    fx.pressButton("probeThreads");
    EXPECT_EQ(fx.stringValue("note"),
              "status 1 calls 0 indexSum 0 spawned 0 nested 0 cpus 4 main 0");
}

TEST(Threads, MutexesAreRecursiveAndTryLockReportsContention) {
    TestHost host(VD_PROBE_BUNDLE);
    auto* mt = static_cast<const OfxMultiThreadSuiteV1*>(host.fetchSuite(kOfxMultiThreadSuite, 1));
    OfxMutexHandle mutex = nullptr;
    ASSERT_EQ(mt->mutexCreate(&mutex, 1), kOfxStatOK);
    EXPECT_EQ(mt->mutexLock(mutex), kOfxStatOK);
    OfxStatus fromOtherThread = kOfxStatOK;
    std::thread([&] { fromOtherThread = mt->mutexTryLock(mutex); }).join();
    EXPECT_EQ(fromOtherThread, kOfxStatFailed);
    EXPECT_EQ(mt->mutexUnLock(mutex), kOfxStatOK);
    EXPECT_EQ(mt->mutexUnLock(mutex), kOfxStatOK);
    std::thread([&] {
        fromOtherThread = mt->mutexTryLock(mutex);
        mt->mutexUnLock(mutex);
    }).join();
    EXPECT_EQ(fromOtherThread, kOfxStatOK);
    EXPECT_EQ(mt->mutexDestroy(mutex), kOfxStatOK);
    EXPECT_EQ(mt->mutexLock(mutex), kOfxStatErrBadHandle);
    unsigned index = 7;
    EXPECT_EQ(mt->multiThreadIndex(&index), kOfxStatFailed);
    EXPECT_EQ(index, 0u);
}

}  // namespace
}  // namespace vd::testhost
