#include "mylooks/Store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "TempEnv.h"
#include "platform/Platform.h"
#include "support/Support.h"

namespace vd {
namespace {

using test::readFile;
using test::TempEnv;
using test::writeFile;

SavedLook named(const std::string& name, double exposure = 0) {
    SavedLook look;
    look.name = name;
    look.exposure = exposure;
    return look;
}

MyLooksDocument withNames(std::initializer_list<const char*> names) {
    MyLooksDocument doc;
    for (const char* n : names) {
        doc.looks.push_back(named(n));
    }
    return doc;
}

bool exists(const std::string& p) {
    return platform::fileStatus(p).exists;
}

class Store : public TempEnv {};

// Saving and loading through the plug-in are checked by MyLooksHostTest; here the file's
// location and what a user cannot see there.
TEST_F(Store, FileLocation) {
    EXPECT_EQ(myLooksFilePath(), path("MyLooks.json"));
    const std::string deep = path("a/b/c/Mine.json");
    ::setenv("VD_MY_LOOKS_FILE", deep.c_str(), 1);
    EXPECT_EQ(myLooksFilePath(), deep);
    EXPECT_TRUE(loadMyLooks().looks.empty());
    EXPECT_FALSE(exists(path("a")));  // loading creates nothing
    ASSERT_TRUE(saveMyLooks(withNames({"One"})));
    EXPECT_EQ(loadMyLooks().looks.at(0).name, "One");
    EXPECT_FALSE(exists(deep + ".tmp"));
    // A byte-order mark and a file with only a looks array are fine.
    writeFile(deep, "\xEF\xBB\xBF{\"looks\":[{\"name\":\"Bom\"}]}");
    EXPECT_EQ(loadMyLooks().looks.at(0).name, "Bom");

    // An empty variable counts as unset; with no location at all nothing is read or written.
    ::setenv("VD_MY_LOOKS_FILE", "", 1);
    EXPECT_EQ(myLooksFilePath(), path("MyLooks.json"));
    ::unsetenv("VD_SUPPORT_DIR");
    EXPECT_EQ(myLooksFilePath(), "");
    EXPECT_TRUE(loadMyLooks().looks.empty());
    EXPECT_FALSE(saveMyLooks(withNames({"Nowhere"})));
}

TEST_F(Store, DamagedFilesAreMovedAsideToNumberedBackups) {
    const std::string file = path("MyLooks.json");
    // Each is corrupt and takes the next free backup name. (What the reader refuses is
    // JsonTest's; these are the store's own rules and two of the reader's.)
    const char* corrupt[] = {
        "x",
        "{\"schema\":1}",               // no looks member
        "{\"schema\":0,\"looks\":[]}",  // schema too old
        "",                             // empty file
        "{\"looks\":[{\"pack\":1}]}",   // a look without a name
    };
    for (int n = 0; const char* text : corrupt) {
        writeFile(file, text);
        const MyLooksDocument doc = loadMyLooks();
        EXPECT_TRUE(doc.wasReset && !doc.readOnly && doc.looks.empty()) << text;
        EXPECT_FALSE(exists(file));
        EXPECT_EQ(readFile(file + ".bak" + (++n == 1 ? "" : std::to_string(n))), text);
    }
    EXPECT_EQ(readFile(path("debug.log")).find("my looks: corrupt file moved aside\n"), 0u);

    // Files above 1 MiB are not read at all; exactly 1 MiB is.
    std::string big = "{\"looks\":[]}";
    big.resize(kMaxMyLooksFileBytes, ' ');
    writeFile(file, big);
    EXPECT_FALSE(loadMyLooks().wasReset);
    writeFile(file, big + " ");
    EXPECT_TRUE(loadMyLooks().wasReset);
    EXPECT_FALSE(exists(file));
    EXPECT_NE(readFile(path("debug.log")).find("my looks: unreadable file moved aside\n"),
              std::string::npos);

    // When all 49 backup names are taken, ".bak" is replaced.
    for (int i = 2; i <= 49; ++i) {
        writeFile(file + ".bak" + std::to_string(i), "old");
    }
    writeFile(file, "newest damage");
    EXPECT_TRUE(loadMyLooks().wasReset);
    EXPECT_EQ(readFile(file + ".bak"), "newest damage");
}

// A save that fails for want of a temporary file, and commands on a newer file, are checked
// through the plug-in; here a failed rename and directory.
TEST_F(Store, FailedSaveKeepsWhatWasThere) {
    const std::string blocked = path("blocked/MyLooks.json");
    ::setenv("VD_MY_LOOKS_FILE", blocked.c_str(), 1);
    ASSERT_EQ(::mkdir(path("blocked").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(blocked.c_str(), 0755), 0);
    writeFile(blocked + "/inside", "precious");
    EXPECT_FALSE(saveMyLooks(withNames({"New"})));
    EXPECT_EQ(readFile(blocked + "/inside"), "precious");
    EXPECT_FALSE(exists(blocked + ".tmp"));
    ::setenv("VD_MY_LOOKS_FILE", (blocked + "/inside/sub/MyLooks.json").c_str(), 1);
    EXPECT_FALSE(saveMyLooks(withNames({"New"})));
}

TEST(StoreNames, Cleaning) {
    EXPECT_EQ(cleanLookName(" \t\r\n\x01\x1F  \x02"), "");
    EXPECT_EQ(cleanLookName("a\x01"
                            "b\x7F"
                            "c"),
              "ab\x7F"
              "c");
    EXPECT_EQ(cleanLookName(std::string(100, 'x')), std::string(80, 'x'));
    // Bytes, not characters: a two-byte character straddling the limit is cut.
    const std::string cut = cleanLookName(std::string(79, 'a') + "\xC3\xA9tail");
    EXPECT_EQ(cut, std::string(79, 'a') + "\xC3");
    // The limit applies before trailing spaces go.
    EXPECT_EQ(cleanLookName(std::string(79, 'a') + "   b"), std::string(79, 'a'));
    EXPECT_EQ(cleanLookName("\xC3\xA9t\xC3\xA9"), "\xC3\xA9t\xC3\xA9");
}

// The commands' outcomes and statuses are checked through the plug-in; here what a user
// cannot easily see there: names compare as exact bytes, case included.
TEST(StoreNames, EditsCompareExactBytes) {
    MyLooksDocument doc = withNames({"Look", "look"});
    EXPECT_EQ(findSavedLook(doc, "Look"), 0);
    EXPECT_EQ(findSavedLook(doc, "look"), 1);
    EXPECT_EQ(findSavedLook(doc, "Look "), -1);

    EXPECT_EQ(upsertSavedLook(doc, named("LOOK")), EditResult::Added);
    EXPECT_EQ(upsertSavedLook(doc, named("look", 2)), EditResult::Replaced);
    ASSERT_EQ(doc.looks.size(), 3u);
    EXPECT_EQ(doc.looks[1].exposure, 2);
    EXPECT_EQ(upsertSavedLook(doc, named("")), EditResult::EmptyName);
    EXPECT_EQ(renameSavedLook(doc, 0, "look"), EditResult::NameTaken);
}

TEST(StoreNames, DefaultNames) {
    EXPECT_EQ(nextDefaultLookName(withNames({"My Look 1", "My Look 3", "my look 2"})), "My Look 2");
    MyLooksDocument full;
    for (int n = 1; n <= 9999; ++n) {
        full.looks.push_back(named("My Look " + std::to_string(n)));
    }
    EXPECT_EQ(nextDefaultLookName(full), "My Look");
}

// Saves one look by name in a session of its own: load, edit and save under both locks.
bool saveOne(const std::string& name) {
    MyLooksSession session(true);
    MyLooksDocument doc = session.load();
    if (upsertSavedLook(doc, named(name)) != EditResult::Added) {
        return false;
    }
    return session.save(doc);
}

TEST_F(Store, ConcurrentProcessesNeverLoseASave) {
    constexpr int kProcesses = 8;
    constexpr int kLooksEach = 50;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // Two threads per process, so the in-process lock is exercised as well.
            const std::string prefix = "p" + std::to_string(p) + "-";
            bool ok = true;
            std::thread other([&] {
                for (int i = 1; i < kLooksEach; i += 2) {
                    ok = saveOne(prefix + std::to_string(i)) && ok;
                }
            });
            bool mine = true;
            for (int i = 0; i < kLooksEach; i += 2) {
                mine = saveOne(prefix + std::to_string(i)) && mine;
            }
            other.join();
            ::_exit(ok && mine ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const MyLooksDocument doc = loadMyLooks();
    EXPECT_FALSE(doc.wasReset);
    std::set<std::string> names;
    for (const SavedLook& look : doc.looks) {
        names.insert(look.name);
    }
    EXPECT_EQ(doc.looks.size(), static_cast<std::size_t>(kProcesses * kLooksEach));
    EXPECT_EQ(names.size(), static_cast<std::size_t>(kProcesses * kLooksEach));
}

TEST_F(Store, KilledWriterAlwaysLeavesAFileWithEveryReportedLook) {
    std::mt19937 rng(7);
    const std::string report = path("reported.txt");
    for (int round = 0; round < 12; ++round) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // Each name is reported, in a write of its own, only once its save returned.
            const int fd = ::open(report.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
            for (int i = 0;; ++i) {
                const std::string line = "r" + std::to_string(round) + "-" + std::to_string(i);
                if (saveOne(line) && ::write(fd, (line + "\n").data(), line.size() + 1) < 0) {
                    ::_exit(1);
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + rng() % 60000));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        const MyLooksDocument doc = loadMyLooks();
        ASSERT_FALSE(doc.wasReset || doc.readOnly) << "round " << round;
        std::set<std::string> present;
        for (const SavedLook& look : doc.looks) {
            present.insert(look.name);
        }
        std::istringstream reported(readFile(report));
        for (std::string name; std::getline(reported, name);) {
            ASSERT_TRUE(present.count(name)) << name << " lost in round " << round;
        }
    }
    EXPECT_FALSE(readFile(report).empty());
}

}  // namespace
}  // namespace vd
