#include "update/UpdateCheck.h"
#include "update/UpdateState.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

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

// The service's address and its answers, as the check reads them. The whole check runs
// against a loopback server in UpdateCheckHostTest, which sees the port, the path, the user
// agent and the content type, and refuses a plain http address.
TEST(UpdateRequest, SplitsHttpsAddressesAndRefusesOthers) {
    struct Case {
        const char* base;
        const char* host;  // nullptr: refused
        int port;
        const char* path;
    } cases[] = {
        {"https://updates.example.test", "updates.example.test", 443, "/latest?platform=win"},
        {"https://[::1]:9/x", "::1", 9, "/x/latest?platform=win"},
        {"https://h.test?key=1", "h.test", 443, "/?key=1/latest?platform=win"},
        {"https://", nullptr, 0, nullptr},
        {"https://:443", nullptr, 0, nullptr},
        {"https://h.test:", nullptr, 0, nullptr},
        {"https://h.test:65536", nullptr, 0, nullptr},
        {"https://h.test:99999999999999999999", nullptr, 0, nullptr},
        {"https://user@h.test", nullptr, 0, nullptr},
        {"https://h.test/a b", nullptr, 0, nullptr},
        {"https://h.test/#frag", nullptr, 0, nullptr},
        {"https://[::1", nullptr, 0, nullptr},
        {"https://a:b:c", nullptr, 0, nullptr},
    };
    for (const Case& c : cases) {
        const std::optional<platform::HttpsRequest> r = updateRequest({c.base, 0, ""});
        ASSERT_EQ(r.has_value(), c.host != nullptr) << c.base;
        if (r) {
            EXPECT_EQ(r->host, c.host) << c.base;
            EXPECT_EQ(r->port, c.port) << c.base;
            EXPECT_EQ(r->path, c.path) << c.base;
        }
    }
    const platform::HttpsRequest r = *updateRequest({"https://h.test", 0, ""});
    EXPECT_EQ(std::vector<int>(
                  {r.resolveTimeoutMs, r.connectTimeoutMs, r.sendTimeoutMs, r.receiveTimeoutMs}),
              std::vector<int>({2500, 7500, 2500, 7500}));
    EXPECT_EQ(r.maxBodyBytes, 1u << 20);
    EXPECT_EQ(updateRequest({"https://h.test", 1, ""})->receiveTimeoutMs, 375);
}

TEST(UpdateAnswer, KeyLookupTakesTheFirstQuotedKeyAndItsRawString) {
    struct Case {
        const char* body;
        const char* version;
    } cases[] = {
        {R"({"version": "1.2.3"})", "1.2.3"},
        {R"({"version":"1.2.3","version":"9"})", "1.2.3"},
        {R"({"x": ["version", ":"], "version": "2"})", "], "},  // the first one, wherever
        {R"({"version": 5, "x": "7"})", "x"},                   // the next quote, wherever
        {R"({"version": "a\"b\\c\n"})", "a\"b\\cn"},            // no escape decoded further
        {R"({"version" "1.0"})", ""},                           // no colon after the key
        {R"({"version": 1})", ""},                              // no opening quote
        {R"({"version": "1.0)", ""},                            // no closing quote
        {R"({"version": "1.0\)", ""},
        {R"({"Version": "1.0"})", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(answerValue(c.body, "version"), c.version) << c.body;
    }
}

}  // namespace
}  // namespace vd
