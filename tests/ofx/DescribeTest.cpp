// Loading the bundle, the plug-in record, the describe action and the clips, as a host sees
// them through the built .ofx.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "PluginHost.h"

namespace {

using vd::test::kBundle;
using vd::testhost::HostProfile;
using vd::testhost::TestHost;

TEST(PluginRecord, BundleHoldsOnePluginWithTheFixedIdentityAndVersion) {
    TestHost host(kBundle);
    EXPECT_EQ(host.numberOfPlugins(), 1);
    EXPECT_EQ(host.pluginAt(1), nullptr);
    EXPECT_EQ(host.pluginAt(-1), nullptr);
    ASSERT_NE(host.pluginAt(0), nullptr);
    EXPECT_TRUE(host.exportsSetHost());

    // Identifier, API and record version: the golden text.
    const OfxPlugin& p = host.plugin();
    EXPECT_NE(p.setHost, nullptr);
    EXPECT_NE(p.mainEntry, nullptr);
}

// ---- Load: which suites are required --------------------------------------------------

TEST(Load, FailsWithMissingHostFeatureWhenARequiredSuiteIsAbsent) {
    for (int missing = 0; missing < 3; ++missing) {
        HostProfile profile;
        profile.propertySuite = missing != 0;
        profile.imageEffectSuite = missing != 1;
        profile.parameterSuite = missing != 2;
        TestHost host(kBundle, profile);
        EXPECT_EQ(host.load(), kOfxStatErrMissingHostFeature) << "suite " << missing;
    }
}

TEST(Load, HostWithoutMultiThreadSuiteLoadsAndDescribes) {
    HostProfile profile;
    profile.multiThreadSuite = false;
    TestHost host(kBundle, profile);
    EXPECT_EQ(host.load(), kOfxStatOK);
    EXPECT_EQ(host.describe(), kOfxStatOK);
    EXPECT_EQ(host.describeInContext(kOfxImageEffectContextFilter), kOfxStatOK);
    host.createInstance(kOfxImageEffectContextFilter);
    EXPECT_TRUE(host.problems().empty());
}

TEST(Load, DescribeBeforeALoadFetchesTheSuitesItself) {
    TestHost host(kBundle);
    ASSERT_EQ(host.describe(), kOfxStatOK);
    EXPECT_EQ(host.descriptor().props.string(kOfxPropLabel), "Vandrel Huebench");
}

// ---- Describe ---------------------------------------------------------------------------
// Every property of the describe action and of both contexts' clips and parameters is pinned
// by the golden text (ParamsTest.cpp).

TEST(DescribeInContext, RefusesOtherContextsWithUnsupportedAndDefinesNothing) {
    TestHost host(kBundle);
    ASSERT_EQ(host.load(), kOfxStatOK);
    ASSERT_EQ(host.describe(), kOfxStatOK);
    for (const char* context : {kOfxImageEffectContextGenerator, kOfxImageEffectContextTransition,
                                kOfxImageEffectContextPaint, kOfxImageEffectContextRetimer,
                                "OfxImageEffectContextFilterX", ""}) {
        SCOPED_TRACE(context);
        EXPECT_EQ(host.describeInContext(context), kOfxStatErrUnsupported);
        EXPECT_TRUE(host.context(context).clips().empty());
        EXPECT_TRUE(host.context(context).params().empty());
    }
    // Without inArgs there is no context to read.
    ASSERT_EQ(host.describeInContext(kOfxImageEffectContextFilter), kOfxStatOK);
    auto& filter = host.context(kOfxImageEffectContextFilter);
    const std::size_t defined = filter.params().size();
    EXPECT_EQ(
        host.callAction(kOfxImageEffectActionDescribeInContext, filter.handle(), nullptr, nullptr),
        kOfxStatErrUnsupported);
    EXPECT_EQ(filter.params().size(), defined);
}

TEST(DescribeInContext, FilterAndGeneralDefineTheSameParameters) {
    TestHost host(kBundle);
    host.setUp(kOfxImageEffectContextFilter);
    ASSERT_EQ(host.describeInContext(kOfxImageEffectContextGeneral), kOfxStatOK);
    const auto& filter = host.context(kOfxImageEffectContextFilter);
    const auto& general = host.context(kOfxImageEffectContextGeneral);
    ASSERT_EQ(filter.paramNames(), general.paramNames());
    for (const std::string& name : filter.paramNames()) {
        const auto& a = filter.param(name).props;
        const auto& b = general.param(name).props;
        for (const std::string& prop : a.names()) {
            EXPECT_EQ(a.valueText(prop), b.valueText(prop)) << name << " " << prop;
        }
    }
}

}  // namespace
