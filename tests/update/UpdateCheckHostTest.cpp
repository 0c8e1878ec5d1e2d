// The weekly update check through the built plug-in in the test host, against a loopback
// HTTPS server that the test starts with a certificate it makes and trusts.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../mylooks/HostFixture.h"
#include "platform/Platform.h"
#include "update/UpdateCheck.h"

namespace vd::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::int64_t kDay = 24 * 60 * 60;
const std::string kEarlierUrl = "https://downloads.example.test/huebench-1.0.0";
const std::string kNewerUrl = "https://downloads.example.test/huebench-1.2.0";

std::int64_t now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A loopback port that refuses connections: bound once, then closed.
int refusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(fd);
    return ntohs(a.sin_port);
}

class UpdateCheck : public HostFixture {
  protected:
    void SetUp() override {
        HostFixture::SetUp();
        const std::string key = path("key.pem");
        ASSERT_EQ(std::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1"
                               " -nodes -days 2 -subj /CN=127.0.0.1"
                               " -addext subjectAltName=IP:127.0.0.1 -keyout '" +
                               key + "' -out '" + cert_ + "' 2>/dev/null")
                                  .c_str()),
                  0);
        server_ = ::popen(("exec python3 '" VD_UPDATE_SERVER "' '" + cert_ + "' '" + key + "' '" +
                           path("requests.txt") + "'")
                              .c_str(),
                          "r");
        ASSERT_NE(server_, nullptr);
        ASSERT_EQ(std::fscanf(server_, "%d %d", &port_, &pid_), 2);
    }
    void TearDown() override {
        HostFixture::TearDown();
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
        }
        if (server_) {
            ::pclose(server_);
        }
    }

    std::string base(const std::string& name) const {
        return "https://127.0.0.1:" + std::to_string(port_) + "/" + name;
    }
    HostProfile profile(const std::string& service) const {
        HostProfile p;
        p.updateService = service;
        p.updateCaFile = cert_;
        p.updateTimeScale = 2;  // 1 s to connect, 2 s in all
        return p;
    }
    void writeState(const UpdateState& s) { writeFile(statePath(), formatUpdateStateText(s)); }
    std::optional<UpdateState> readState() const {
        return parseUpdateStateText(readFile(statePath()));
    }
    std::string statePath() const { return path(kUpdateStateFileName); }
    // The state file once the check has rewritten it (its time moved), or nothing after 10 s.
    std::optional<UpdateState> waitForCheck(std::int64_t before) const {
        for (const auto end = Clock::now() + std::chrono::seconds(10); Clock::now() < end;) {
            const std::optional<UpdateState> s = readState();
            if (s && s->lastUpdateCheck != before) {
                return s;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return std::nullopt;
    }
    // Polls an instance's stale check until its notice reads as expected (10 s at most).
    static std::string noticeOnceItReads(Instance& fx, const std::string& expected) {
        for (const auto end = Clock::now() + std::chrono::seconds(10); Clock::now() < end;) {
            fx.action(kOfxImageEffectActionGetClipPreferences);
            const bool shown = fx.param("updateNotice").props.integer(kOfxParamPropSecret) == 0 &&
                               fx.param("downloadUpdate").props.integer(kOfxParamPropSecret) == 0;
            const std::string notice = shown ? fx.stringValue("updateNotice") : "";
            if (notice == expected) {
                return notice;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return "(not within 10 s)";
    }

    std::string cert_ = path("cert.pem");
    FILE* server_ = nullptr;
    int port_ = 0;
    int pid_ = 0;
};

TEST_F(UpdateCheck, EachAnswerOrFailureLeavesTheStateAndNoticeItShould) {
    const std::string earlierNotice = "Update available: v1.0.0";
    struct Case {
        std::string name;
        std::string service;
        std::string version;  // the state afterwards; the earlier answer is 1.0.0
        std::string url;
        bool asks;  // the server sees the request
    } cases[] = {
        {"newer", base("newer"), "1.2.0", kNewerUrl, true},
        {"same", base("same"), "", "", true},
        {"no keys", base("nokeys"), "", "", true},
        {"404", base("missing"), "1.0.0", kEarlierUrl, true},
        {"500", base("broken"), "1.0.0", kEarlierUrl, true},
        {"body over 1 MiB", base("huge"), "1.0.0", kEarlierUrl, true},
        {"never answers", base("hang"), "1.0.0", kEarlierUrl, true},
        {"refused", "https://127.0.0.1:" + std::to_string(refusedPort()), "1.0.0", kEarlierUrl,
         false},
        {"not https", "http://127.0.0.1:" + std::to_string(port_) + "/newer", "1.0.0", kEarlierUrl,
         false},
    };
    std::vector<std::string> requests;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Two instances while the last check is six days old: neither starts one.
        writeState({"1.0.0", kEarlierUrl, now() - 6 * kDay});
        Instance& first = start(profile(c.service));
        Instance& second = another();
        EXPECT_EQ(first.stringValue("updateNotice"), earlierNotice);
        // Eight days old: the next instance starts the check.
        const std::int64_t before = now() - 8 * kDay;
        writeState({"1.0.0", kEarlierUrl, before});
        const auto started = Clock::now();
        another();

        const std::optional<UpdateState> after = waitForCheck(before);
        ASSERT_TRUE(after);
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));
        EXPECT_EQ(after->updateVersion, c.version);
        EXPECT_EQ(after->updateUrl, c.url);
        EXPECT_GE(after->lastUpdateCheck, now() - 60);
        EXPECT_FALSE(platform::fileStatus(statePath() + ".tmp").exists);
        if (c.asks) {
            requests.push_back("/" + c.service.substr(c.service.rfind('/') + 1) +
                               "/latest?platform=win|Vandrel Huebench|application/json");
        }

        // Every instance shows the outcome at its next stale check. Where the notice stays
        // as it was, a marker written now shows that the generation moved.
        std::string expected = c.version.empty() ? "" : "Update available: v" + c.version;
        if (expected == earlierNotice) {
            writeState({"7.7.7", kEarlierUrl, now()});
            expected = "Update available: v7.7.7";
        }
        EXPECT_EQ(noticeOnceItReads(first, expected), expected);
        EXPECT_EQ(noticeOnceItReads(second, expected), expected);
        if (c.name == "newer") {
            EXPECT_EQ(second.pressButton("downloadUpdate"), kOfxStatOK);
            EXPECT_EQ(opened(), std::vector<std::string>{kNewerUrl});
        }
        host_.reset();
    }

    std::string expectedLog;
    for (const std::string& r : requests) {
        expectedLog += r + "\n";
    }
    EXPECT_EQ(readFile(path("requests.txt")), expectedLog);
}

// The check thread outlives the plug-in: the host unloads the library while the server
// keeps it waiting, and the thread still finishes, writes its state and returns safely.
TEST_F(UpdateCheck, AHostUnloadingThePluginDuringACheckDoesNotCrash) {
    HostProfile p = profile(base("hang"));
    p.closeLibrary = true;
    start(p);
    host_.reset();  // unload and dlclose while the request waits
    const std::optional<UpdateState> after = waitForCheck(0);
    ASSERT_TRUE(after);
    EXPECT_GT(after->lastUpdateCheck, 0);
    // Give the thread time to return through the module's code after its last write.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

}  // namespace
}  // namespace vd::test
