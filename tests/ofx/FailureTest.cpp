// How describe and describe-in-context react when the host refuses part of what they define.
// Refusals come from the host's own property sets (a property of another type, or with room
// for fewer values) and from a parameter suite whose paramDefine refuses chosen names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "PluginHost.h"

namespace {

using vd::testhost::HostProfile;
using vd::testhost::TestHost;

using vd::test::kBundle;

// ---- Describe: multi-value properties the host cannot take ------------------------------

class DescribeRefusals : public ::testing::TestWithParam<bool> {
  protected:
    HostProfile profile() const { return vd::test::hostProfile(GetParam()); }
};

TEST_P(DescribeRefusals, ContextsOrPixelDepthsThatCannotBeSetFailTheAction) {
    for (const char* name :
         {kOfxImageEffectPropSupportedContexts, kOfxImageEffectPropSupportedPixelDepths}) {
        SCOPED_TRACE(name);
        TestHost host(kBundle, profile());
        ASSERT_EQ(host.load(), kOfxStatOK);
        // Room for one value only: the second context or depth is refused.
        host.descriptor().props.defineString(name, {""}, 1);
        EXPECT_EQ(host.describe(), kOfxStatFailed);
    }
}

TEST_P(DescribeRefusals, IconAndVersionThatCannotBeSetAreSkipped) {
    TestHost host(kBundle, profile());
    ASSERT_EQ(host.load(), kOfxStatOK);
    host.descriptor().props.defineString(kOfxPropIcon, {"x"}, 1);
    host.descriptor().props.defineString(kOfxPropVersion, {""}, 1);
    ASSERT_EQ(host.describe(), kOfxStatOK);
    const auto& props = host.descriptor().props;
    // The one-by-one fallback still sets the first icon value; the version never lands.
    EXPECT_EQ(props.string(kOfxPropIcon), "");
    EXPECT_EQ(props.string(kOfxPropVersion), "");
    // Everything after them is still set.
    EXPECT_EQ(props.string(kOfxImageEffectPropOpenGLRenderSupported), "false");
}

INSTANTIATE_TEST_SUITE_P(Profiles, DescribeRefusals, ::testing::Bool(), vd::test::profileName);

TEST(DescribeInContextRefusals, ClipDefineFailureIsReturnedAsItsStatus) {
    TestHost host(kBundle);
    host.setUp(kOfxImageEffectContextFilter);
    // Describing the same context again: the host refuses the clips it already has.
    auto& filter = host.context(kOfxImageEffectContextFilter);
    vd::testhost::PropertySet inArgs;
    inArgs.defineString(kOfxImageEffectPropContext, {kOfxImageEffectContextFilter}, 1);
    EXPECT_EQ(
        host.callAction(kOfxImageEffectActionDescribeInContext, filter.handle(), &inArgs, nullptr),
        kOfxStatErrExists);
}

// ---- Describe in context: parameters the host refuses ------------------------------------

// A parameter suite that forwards to the test host's, except that paramDefine refuses the
// names in gRefused: with an error status, or with success and no property set.
OfxParameterSuiteV1 gWrapped;
decltype(OfxParameterSuiteV1::paramDefine) gRealDefine = nullptr;
TestHost* gHost = nullptr;
std::set<std::string> gRefused;
bool gRefuseWithNullProps = false;

OfxStatus refusingDefine(OfxParamSetHandle set, const char* type, const char* name,
                         OfxPropertySetHandle* props) {
    if (gRefused.count(name)) {
        if (gRefuseWithNullProps) {
            *props = nullptr;
            return kOfxStatOK;
        }
        return kOfxStatErrUnknown;
    }
    return gRealDefine(set, type, name, props);
}

const void* wrappedFetch(OfxPropertySetHandle, const char* name, int version) {
    if (std::strcmp(name, kOfxParameterSuite) == 0) {
        return &gWrapped;
    }
    return gHost->fetchSuite(name, version);
}

OfxHost gWrappingHost;

struct Outcome {
    OfxStatus status;
    std::vector<std::string> defined;
    std::vector<std::string> pageChildren;
};

Outcome describeRefusing(std::set<std::string> refused, bool nullProps = false) {
    TestHost host(kBundle);
    gHost = &host;
    gWrapped = *static_cast<const OfxParameterSuiteV1*>(host.fetchSuite(kOfxParameterSuite, 1));
    gRealDefine = gWrapped.paramDefine;
    gWrapped.paramDefine = &refusingDefine;
    gRefused = std::move(refused);
    gRefuseWithNullProps = nullProps;
    gWrappingHost.host = host.hostProperties().handle();
    gWrappingHost.fetchSuite = &wrappedFetch;
    host.plugin().setHost(&gWrappingHost);

    Outcome out{};
    EXPECT_EQ(host.load(), kOfxStatOK);
    EXPECT_EQ(host.describe(), kOfxStatOK);
    out.status = host.describeInContext(kOfxImageEffectContextFilter);
    const auto& effect = host.context(kOfxImageEffectContextFilter);
    out.defined = effect.paramNames();
    if (effect.hasParam("controls")) {
        out.pageChildren = effect.param("controls").props.strings(kOfxParamPropPageChild);
    }
    EXPECT_TRUE(host.problems().empty());
    gHost = nullptr;
    return out;
}

bool has(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

TEST(DescribeInContextRefusals, RefusedControlsOfEveryRequiredKindEndTheAction) {
    // A group, a choice, a number, the colour, the look name, a switch and buttons.
    for (const char* name : {"effects", "lutDLog", "exposure", "borderColour", "lookName",
                             "splitScreen", "saveLook", "help", "downloadUpdate"}) {
        SCOPED_TRACE(name);
        const Outcome o = describeRefusing({name});
        EXPECT_EQ(o.status, kOfxStatFailed);
        ASSERT_FALSE(o.defined.empty());
        EXPECT_FALSE(has(o.defined, name));
        // Nothing is defined after the refused one: the page never comes.
        EXPECT_FALSE(has(o.defined, "controls"));
    }
    const Outcome firstRefused = describeRefusing({"look"});
    EXPECT_EQ(firstRefused.status, kOfxStatFailed);
    EXPECT_TRUE(firstRefused.defined.empty());
    const Outcome nullSet = describeRefusing({"intensity"}, true);
    EXPECT_EQ(nullSet.status, kOfxStatFailed);
    EXPECT_EQ(nullSet.defined.back(), "dlog2Note");
}

TEST(DescribeInContextRefusals, RefusedOptionalControlsAreLeftOutOfParametersAndPage) {
    const std::set<std::string> optional{"moreLooksNote", "dlog2Note", "myLooksStatus",
                                         "updateNotice",  "reset",     "pluginVersion"};
    const Outcome o = describeRefusing(optional);
    EXPECT_EQ(o.status, kOfxStatOK);
    for (const std::string& name : optional) {
        EXPECT_FALSE(has(o.defined, name)) << name;
        EXPECT_FALSE(has(o.pageChildren, name)) << name;
    }
    EXPECT_TRUE(has(o.defined, "sendFeedback"));
    EXPECT_TRUE(has(o.defined, "downloadUpdate"));
    EXPECT_EQ(o.pageChildren.size(), 52U - optional.size());
}

TEST(DescribeInContextRefusals, RefusedPageLeavesEveryControlDefined) {
    const Outcome o = describeRefusing({"controls"});
    EXPECT_EQ(o.status, kOfxStatOK);
    EXPECT_EQ(o.defined.size(), 52U);
    EXPECT_FALSE(has(o.defined, "controls"));
}

}  // namespace
