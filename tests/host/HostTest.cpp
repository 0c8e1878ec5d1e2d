// Loading a bundle, animated values, edit reports, instances and threads, through the probe.
// What the built plug-in exercises of the host (describing, the profiles, parameter values
// through the C varargs, fixed choice options) is checked by its own tests.
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

TEST(Loading, RefusesFoldersThatAreNotBundlesAndASecondHost) {
    EXPECT_THROW(TestHost("/tmp"), std::runtime_error);
    EXPECT_THROW(TestHost("/nonexistent/Thing.ofx.bundle"), std::runtime_error);
    TestHost first(VD_PROBE_BUNDLE);
    EXPECT_THROW(TestHost second(VD_PROBE_BUNDLE), std::runtime_error);
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
