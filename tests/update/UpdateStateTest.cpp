#include "update/UpdateState.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "../mylooks/TempEnv.h"

namespace vd {
namespace {

TEST(UpdateVersion, ComparesThreeNumericComponents) {
    struct Case {
        const char* a;
        const char* b;
        bool newer;
    } cases[] = {
        {"1.0", "0.9.9", true},
        {"v0.10.0", "0.9.9", true},
        {"0.9.9", "0.9.9", false},
        {"0.9.9.1", "0.9.9", false},
        {"0.9.8", "0.9.9", false},
        {"V1", "0.9.9", true},
        {"0.9.10", "v0.9.9", true},
        {"", "0.9.9", false},
        {"0.9.9", "", true},
        {"1.2.3-beta", "1.2.3", false},
        {"1.2.4-beta", "1.2.3", true},
        {"x.y.z", "0.0.0", false},
        {"99999999999999999999", "2147483646", true},  // saturates rather than wraps
        {"2147483648", "2147483647", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isNewerVersion(c.a, c.b), c.newer) << c.a << " vs " << c.b;
    }
}

// The plug-in reads what formatUpdateStateText writes (ButtonsHostTest); here what else a
// file may hold.
TEST(UpdateStateText, SkipsUnknownMembersAndRefusesWrongTypes) {
    std::optional<UpdateState> back;
    back = parseUpdateStateText("{\"lastUpdateCheck\": 5, \"other\": [1, {\"x\": null}]}");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->lastUpdateCheck, 5);
    EXPECT_EQ(back->updateVersion, "");
    EXPECT_FALSE(parseUpdateStateText("{\"updateVersion\": 1}"));
    EXPECT_FALSE(parseUpdateStateText("not json"));
    EXPECT_FALSE(parseUpdateStateText("{} x"));
    EXPECT_EQ(parseUpdateStateText("{\"lastUpdateCheck\": 1e300}")->lastUpdateCheck, 0);
}

// A newer version with its address is shown through the plug-in (ButtonsHostTest); here the
// files that show nothing.
class UpdateNoticeFile : public test::TempEnv {};

TEST_F(UpdateNoticeFile, NoticeOnlyForANewerVersionWithAUrl) {
    EXPECT_EQ(updateStatePath(), dir_ + "/UpdateState.json");
    UpdateState s;
    s.updateUrl = "https://example.test/download";
    s.lastUpdateCheck = 100;
    s.updateVersion = "0.9.9";
    ASSERT_TRUE(saveUpdateState(s));
    EXPECT_EQ(loadUpdateState()->lastUpdateCheck, 100);
    const UpdateNotice n = updateNoticeState();
    EXPECT_FALSE(n.newer);
    EXPECT_EQ(n.message + n.url, "");

    s.updateVersion = "2.0";
    s.updateUrl = "";
    ASSERT_TRUE(saveUpdateState(s));
    EXPECT_FALSE(updateNoticeState().newer);

    test::writeFile(path("UpdateState.json"), "{\"updateVersion\": \"3.0\", garbage");
    EXPECT_FALSE(loadUpdateState());
    EXPECT_FALSE(updateNoticeState().newer);

    ::unsetenv("VD_SUPPORT_DIR");
    EXPECT_EQ(updateStatePath(), "");
    EXPECT_FALSE(saveUpdateState(s));
}

}  // namespace
}  // namespace vd
