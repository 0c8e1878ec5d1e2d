// The main entry: instance bookkeeping, default replies and the exception boundary.
#include <gtest/gtest.h>

#include <string>

#include "TestHost.h"

namespace {

using vd::testhost::TestHost;

const std::string kBundle = VD_BUNDLE_DIR;

TEST(MainEntry, CreateAndDestroyAnswerOkForRepeatedAndUnknownHandles) {
    TestHost host(kBundle);
    host.setUp(kOfxImageEffectContextFilter);
    auto& fx = host.createInstance(kOfxImageEffectContextFilter);
    // A second create with the same handle is accepted and does not duplicate the instance.
    EXPECT_EQ(host.callAction(kOfxActionCreateInstance, fx.handle(), nullptr, nullptr), kOfxStatOK);
    static char unknown;
    EXPECT_EQ(host.callAction(kOfxActionDestroyInstance, &unknown, nullptr, nullptr), kOfxStatOK);
    EXPECT_EQ(host.destroyInstance(fx), kOfxStatOK);
    // Null handles: create still starts the process-wide services, destroy has nothing to do.
    EXPECT_EQ(host.callAction(kOfxActionCreateInstance, nullptr, nullptr, nullptr), kOfxStatOK);
    EXPECT_EQ(host.callAction(kOfxActionDestroyInstance, nullptr, nullptr, nullptr), kOfxStatOK);
    EXPECT_TRUE(host.problems().empty());
}

TEST(MainEntry, LeavesIdentityPreferencesAndUnknownActionsToTheHost) {
    TestHost host(kBundle);
    host.setUp(kOfxImageEffectContextFilter);
    auto& fx = host.createInstance(kOfxImageEffectContextFilter);
    for (const char* action :
         {kOfxImageEffectActionIsIdentity, kOfxImageEffectActionGetClipPreferences,
          kOfxImageEffectActionBeginSequenceRender, kOfxImageEffectActionEndSequenceRender,
          kOfxImageEffectActionGetRegionOfDefinition, kOfxActionBeginInstanceChanged,
          kOfxActionPurgeCaches, "OfxActionNoSuchThing", "ofxactionload", ""}) {
        SCOPED_TRACE(action);
        EXPECT_EQ(fx.action(action), kOfxStatReplyDefault);
    }
    // No preference is set on clip preferences: the outArgs stay as the host filled them.
    vd::testhost::PropertySet out;
    out.defineString("OfxImageClipPropComponents_Output", {kOfxImageComponentRGBA}, 1);
    EXPECT_EQ(fx.action(kOfxImageEffectActionGetClipPreferences, nullptr, &out),
              kOfxStatReplyDefault);
    EXPECT_FALSE(out.writtenByPlugin("OfxImageClipPropComponents_Output"));
    // A null action name is not a crash.
    EXPECT_EQ(host.plugin().mainEntry(nullptr, fx.handle(), nullptr, nullptr),
              kOfxStatReplyDefault);
    EXPECT_EQ(host.unload(), kOfxStatOK);
}

}  // namespace
