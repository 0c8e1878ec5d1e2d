// Loading the bundle, the plug-in record, the describe action and the clips, as a host sees
// them through the built .ofx.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "PluginHost.h"

namespace {

using vd::test::hostProfile;
using vd::test::kBundle;
using vd::test::writtenByPlugin;
using vd::testhost::HostProfile;
using vd::testhost::PropertySet;
using vd::testhost::PropType;
using vd::testhost::TestHost;

const std::vector<std::string> kContexts{kOfxImageEffectContextFilter,
                                         kOfxImageEffectContextGeneral};

TEST(PluginRecord, BundleHoldsOnePluginWithTheFixedIdentityAndVersion) {
    TestHost host(kBundle);
    EXPECT_EQ(host.numberOfPlugins(), 1);
    EXPECT_EQ(host.pluginAt(1), nullptr);
    EXPECT_EQ(host.pluginAt(-1), nullptr);
    ASSERT_NE(host.pluginAt(0), nullptr);
    EXPECT_TRUE(host.exportsSetHost());

    const OfxPlugin& p = host.plugin();
    EXPECT_STREQ(p.pluginApi, "OfxImageEffectPluginAPI");
    EXPECT_EQ(p.apiVersion, 1);
    EXPECT_STREQ(p.pluginIdentifier, "com.vandrel.Looks");
    EXPECT_EQ(p.pluginVersionMajor, 0U);
    EXPECT_EQ(p.pluginVersionMinor, 5U);
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

// ---- Describe -------------------------------------------------------------------------

struct DescribeRow {
    const char* name;
    PropType type;
    std::vector<std::string> strings;
    std::vector<int> integers;
};

const std::vector<DescribeRow>& describeTable() {
    static const std::vector<DescribeRow> rows = {
        {kOfxImageEffectPropSupportedContexts,
         PropType::string,
         {"OfxImageEffectContextFilter", "OfxImageEffectContextGeneral"},
         {}},
        {kOfxImageEffectPropSupportedPixelDepths,
         PropType::string,
         {"OfxBitDepthByte", "OfxBitDepthShort", "OfxBitDepthFloat"},
         {}},
        {kOfxPropLabel, PropType::string, {"Vandrel Huebench"}, {}},
        {kOfxPropIcon, PropType::string, {"", "com.vandrel.Looks.png"}, {}},
        {kOfxImageEffectPluginPropGrouping, PropType::string, {"Vandrel"}, {}},
        {kOfxPropPluginDescription,
         PropType::string,
         {"Vandrel Huebench. Pick a pack, then a look. Exposure and white balance run before "
          "the look. Tone, grain, halation, bloom, and vignette run after it. Borders sit on "
          "top of that grade."},
         {}},
        {kOfxPropVersionLabel, PropType::string, {"0.9.9"}, {}},
        {kOfxPropVersion, PropType::integer, {}, {0, 9, 9}},
        {kOfxImageEffectPluginRenderThreadSafety,
         PropType::string,
         {"OfxImageEffectRenderFullySafe"},
         {}},
        {kOfxImageEffectPropSupportsTiles, PropType::integer, {}, {1}},
        {kOfxImageEffectPropSupportsMultiResolution, PropType::integer, {}, {0}},
        {kOfxImageEffectPropTemporalClipAccess, PropType::integer, {}, {0}},
        {kOfxImageEffectPluginPropFieldRenderTwiceAlways, PropType::integer, {}, {0}},
        {kOfxImageEffectInstancePropSequentialRender, PropType::integer, {}, {0}},
        {kOfxImageEffectPropMultipleClipDepths, PropType::integer, {}, {0}},
        {kOfxImageEffectPropNoSpatialAwareness, PropType::string, {"false"}, {}},
        {kOfxImageEffectPropCPURenderSupported, PropType::string, {"true"}, {}},
        {kOfxImageEffectPropMetalRenderSupported, PropType::string, {"false"}, {}},
        {kOfxImageEffectPropCudaRenderSupported, PropType::string, {"true"}, {}},
        {kOfxImageEffectPropCudaStreamSupported, PropType::string, {"true"}, {}},
        {kOfxImageEffectPropOpenCLRenderSupported, PropType::string, {"true"}, {}},
        {kOfxImageEffectPropOpenCLSupported, PropType::string, {"false"}, {}},
        {kOfxImageEffectPropOpenGLRenderSupported, PropType::string, {"false"}, {}},
    };
    return rows;
}

class DescribeOnHost : public ::testing::TestWithParam<bool> {
  protected:
    HostProfile profile() const { return hostProfile(GetParam()); }
};

TEST_P(DescribeOnHost, SetsEveryPropertyOfTheTableWithItsTypeAndNothingElse) {
    TestHost host(kBundle, profile());
    ASSERT_EQ(host.load(), kOfxStatOK);
    ASSERT_EQ(host.describe(), kOfxStatOK);
    const PropertySet& props = host.descriptor().props;
    std::set<std::string> expected;
    for (const DescribeRow& row : describeTable()) {
        SCOPED_TRACE(row.name);
        expected.insert(row.name);
        ASSERT_TRUE(props.has(row.name));
        EXPECT_TRUE(props.writtenByPlugin(row.name));
        ASSERT_EQ(props.type(row.name), row.type);
        if (row.type == PropType::string) {
            EXPECT_EQ(props.strings(row.name), row.strings);
        } else {
            EXPECT_EQ(props.integers(row.name), row.integers);
        }
    }
    EXPECT_EQ(writtenByPlugin(props), expected);
    EXPECT_TRUE(host.problems().empty());
}

TEST_P(DescribeOnHost, DefinesOutputThenSourceWithRgbaAndRgbInBothContexts) {
    TestHost host(kBundle, profile());
    ASSERT_EQ(host.load(), kOfxStatOK);
    ASSERT_EQ(host.describe(), kOfxStatOK);
    for (const std::string& context : kContexts) {
        SCOPED_TRACE(context);
        ASSERT_EQ(host.describeInContext(context), kOfxStatOK);
        const auto& effect = host.context(context);
        ASSERT_EQ(effect.clipNames(), (std::vector<std::string>{"Output", "Source"}));
        for (const auto& clip : effect.clips()) {
            EXPECT_EQ(clip->props.strings(kOfxImageEffectPropSupportedComponents),
                      (std::vector<std::string>{"OfxImageComponentRGBA", "OfxImageComponentRGB"}));
            // Tiles, optional and field extraction keep the host's defaults.
            EXPECT_EQ(writtenByPlugin(clip->props),
                      std::set<std::string>{kOfxImageEffectPropSupportedComponents});
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Profiles, DescribeOnHost, ::testing::Bool(), vd::test::profileName);

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
