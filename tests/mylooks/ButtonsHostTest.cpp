// Instance changes through the built plug-in: the controls that follow the pack, Reset, the
// web-page buttons and the update-notice panel.
#include <gtest/gtest.h>

#include <algorithm>

#include "HostFixture.h"
#include "update/UpdateState.h"

namespace vd::test {
namespace {

using testhost::ParamWrite;
using testhost::Rgb;

using Names = std::vector<std::string>;

class Buttons : public HostFixture {
  protected:
    // Of the controls that show and hide (the packs' look menus, the notes, the split
    // position and the update panel), those that show now.
    Names shown() const {
        Names hideable = {"moreLooksNote", "dlog2Note", "splitPosition", "updateNotice",
                          "downloadUpdate"};
        for (int pack = 0; pack < packCount(); ++pack) {
            hideable.push_back(packLutParam(pack));
        }
        Names names;
        std::copy_if(hideable.begin(), hideable.end(), std::back_inserter(names),
                     [this](const std::string& name) { return secret(name) == 0; });
        return names;
    }
};

int countWrites(const std::vector<ParamWrite>& writes, const std::string& param,
                const std::string& property = "") {
    return static_cast<int>(std::count_if(writes.begin(), writes.end(), [&](const ParamWrite& w) {
        return w.param == param && w.property == property;
    }));
}

TEST_F(Buttons, ControlsFollowThePackAndSplitScreen) {
    Instance& fx = start();
    // A new instance shows no look menu, no note, no split position and no update panel.
    EXPECT_EQ(shown(), Names{});
    EXPECT_EQ(fx.userEdit("footage", 4), kOfxStatOK);
    EXPECT_EQ(shown(), (Names{"dlog2Note", "lutDLog"}));
    fx.userEdit("footage", 1);
    EXPECT_EQ(shown(), Names{"lutAppleLog"});
    // An out-of-range pack counts as "Choose a Pack".
    fx.userEdit("footage", 17);
    EXPECT_EQ(shown(), Names{});
    fx.userEdit("splitScreen", 1);
    EXPECT_EQ(shown(), Names{"splitPosition"});
    fx.userEdit("splitScreen", 0);
    EXPECT_EQ(shown(), Names{});
    EXPECT_TRUE(host_->problems().empty());
}

TEST_F(Buttons, ResetRestoresDefaultsInOneEditBlockAndOnlyWritesWhatDiffers) {
    Instance& fx = start();
    fx.clearWrites();
    // Everything is at its default already: nothing at all is written.
    EXPECT_EQ(fx.pressButton("reset"), kOfxStatOK);
    EXPECT_TRUE(fx.writes().empty()) << fx.writes().front();
    EXPECT_EQ(fx.editHistory(), (std::vector<std::string>{"begin Reset", "end"}));

    // Move every control Reset covers, and a few it must leave alone.
    const std::vector<std::string> numbers = savedNumberControls();
    ASSERT_EQ(numbers.size(), 20u);
    for (const std::string& name : numbers) {
        fx.setValue(name, 0.75);
    }
    fx.setValue("borderColour", Rgb{0.1, 0.2, 0.3});
    fx.setValue("beforeAfter", 1);
    fx.setValue("splitPosition", 20.0);
    fx.setValue("lutDLog", 3);
    fx.setValue("lookName", std::string("Keep me"));
    fx.userEdit("splitScreen", 1);
    fx.userEdit("footage", 4);
    ASSERT_EQ(shown(), (Names{"dlog2Note", "splitPosition", "lutDLog"}));
    fx.clearWrites();

    EXPECT_EQ(fx.pressButton("reset"), kOfxStatOK);
    // Each value was written once: the plug-in's own edits, reported back at once by the
    // host, did not run the visibility refresh or Reset a second time.
    const std::vector<ParamWrite> writes = fx.writes();
    for (const std::string& name : numbers) {
        EXPECT_EQ(fx.doubleValue(name), fx.param(name).props.real(kOfxParamPropDefault)) << name;
        EXPECT_EQ(countWrites(writes, name), 1) << name;
    }
    EXPECT_EQ(fx.rgbValue("borderColour"), (Rgb{0, 0, 0}));
    EXPECT_EQ(fx.intValue("beforeAfter"), 0);
    EXPECT_EQ(fx.intValue("splitScreen"), 0);
    EXPECT_EQ(fx.doubleValue("splitPosition"), 50);
    EXPECT_EQ(fx.intValue("footage"), 0);
    EXPECT_EQ(fx.intValue("lutDLog"), 3);
    EXPECT_EQ(fx.stringValue("lookName"), "Keep me");
    EXPECT_EQ(shown(), Names{});

    EXPECT_EQ(countWrites(writes, "footage"), 1);
    EXPECT_EQ(countWrites(writes, "lutDLog", kOfxParamPropSecret), 1);
    EXPECT_EQ(countWrites(writes, "splitPosition", kOfxParamPropSecret), 1);
    EXPECT_EQ(countWrites(writes, "lookName"), 0);
    const std::vector<std::string> history = fx.editHistory();
    EXPECT_EQ(std::count(history.begin(), history.end(), "begin Reset"), 2);
    EXPECT_TRUE(host_->problems().empty());
}

TEST_F(Buttons, OtherChangesOnlyRefreshTheSavedLooksMenu) {
    Instance& fx = start();
    fx.userEdit("footage", 3);
    fx.clearWrites();
    fx.userEdit("lookName", std::string("typing"));
    fx.userEdit("exposure", 1.0);
    fx.userEdit("lutDLogM", 2);
    for (const ParamWrite& w : fx.writes()) {
        EXPECT_EQ(w.param, "savedLooks") << w;
    }
    // A change the plug-in reports as its own never runs the name dispatch.
    fx.setValue("splitScreen", 1);
    EXPECT_EQ(fx.instanceChanged("splitScreen", kOfxChangePluginEdited), kOfxStatOK);
    EXPECT_EQ(shown(), Names{"lutDLogM"});
    EXPECT_EQ(fx.instanceChanged("splitScreen", kOfxChangeUserEdited), kOfxStatOK);
    EXPECT_EQ(shown(), (Names{"splitPosition", "lutDLogM"}));
    // Without arguments, or without a name, the menu is refreshed and nothing fails.
    EXPECT_EQ(fx.action(kOfxActionInstanceChanged), kOfxStatOK);
    EXPECT_TRUE(host_->problems().empty());
}

TEST_F(Buttons, WebPagesOpenTheirExactAddresses) {
    Instance& fx = start();
    EXPECT_EQ(fx.pressButton("help"), kOfxStatOK);
    EXPECT_EQ(fx.pressButton("sendFeedback"), kOfxStatOK);
    // No newer version known: the download button opens nothing.
    EXPECT_EQ(fx.pressButton("downloadUpdate"), kOfxStatOK);
    const std::string site = VD_MAKER_SITE;
    const std::vector<std::string> expected = {
        site +
            "/products/vandrel-huebench-for-davinci-resolve?utm_source=resolve-plugin&utm_medium="
            "plugin&utm_campaign=more_info",
        site + "/pages/contact?utm_source=huebench&utm_medium=plugin&utm_campaign=support",
    };
    EXPECT_EQ(opened(), expected);

    // Without any opener on the path the buttons still succeed quietly.
    ::setenv("PATH", path("empty").c_str(), 1);
    EXPECT_EQ(fx.pressButton("help"), kOfxStatOK);
    EXPECT_EQ(opened().size(), 2u);
}

TEST_F(Buttons, UpdateNoticeShowsANewerVersionAndItsDownloadPage) {
    start();
    EXPECT_EQ(shown(), Names{});
    host_.reset();

    UpdateState state;
    state.updateVersion = "1.0.0";
    state.updateUrl = "https://downloads.example.test/huebench-1.0.0";
    state.lastUpdateCheck = 1;
    writeFile(path(kUpdateStateFileName), formatUpdateStateText(state));
    Instance& fx = start();
    EXPECT_EQ(fx.stringValue("updateNotice"), "Update available: v1.0.0");
    EXPECT_EQ(shown(), (Names{"updateNotice", "downloadUpdate"}));
    EXPECT_EQ(fx.pressButton("downloadUpdate"), kOfxStatOK);
    EXPECT_EQ(opened(), std::vector<std::string>{state.updateUrl});

    // The panel is refreshed only when the update state's generation moves, not on every
    // change: a later edit of the file shows nothing until then.
    state.updateVersion = "0.9.9";
    writeFile(path(kUpdateStateFileName), formatUpdateStateText(state));
    fx.clearWrites();
    fx.userEdit("exposure", 1.0);
    EXPECT_EQ(countWrites(fx.writes(), "updateNotice", kOfxParamPropSecret), 0);
    EXPECT_EQ(secret("updateNotice"), 0);
    // A new instance reads the file afresh.
    another();
    EXPECT_EQ(host_->instances().back()->param("updateNotice").props.integer(kOfxParamPropSecret),
              1);
}

}  // namespace
}  // namespace vd::test
