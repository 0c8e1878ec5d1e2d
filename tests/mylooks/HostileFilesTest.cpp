// Every file the plug-in reads or writes, replaced by what a hostile user or a confused file
// system leaves there: a FIFO, a directory, a dangling link, a looping link and a link to a
// file outside the folder. Through the built plug-in, each action returns promptly with its
// usual outcome, nothing outside the folder changes, and the next normal command works.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <thread>

#include "HostFixture.h"
#include "looks/Catalogue.h"

namespace vd::test {
namespace {

namespace fs = std::filesystem;
using testhost::BitDepth;
using testhost::Image;
using testhost::RenderRequest;

enum class Hostile { fifo, directory, danglingLink, loopingLink, linkOutside };
constexpr Hostile kEveryHostile[] = {Hostile::fifo, Hostile::directory, Hostile::danglingLink,
                                     Hostile::loopingLink, Hostile::linkOutside};
constexpr const char* kHostileNames[] = {"FIFO", "directory", "dangling link", "looping link",
                                         "link to a file outside"};

// The actions here take milliseconds; a blocked open waits forever. A second tells the two
// apart on any machine.
constexpr auto kPromptly = std::chrono::seconds(1);

class HostileFiles : public HostFixture {
  protected:
    void SetUp() override {
        HostFixture::SetUp();
        writeFile(victim(), "precious");
    }

    std::string victim() const { return outside_.path() + "/victim"; }

    // Runs check once per hostile kind, each time in an emptied support folder (the stand-in
    // browser opener stays).
    template <typename Check>
    void forEachHostile(Check check) {
        for (Hostile kind : kEveryHostile) {
            SCOPED_TRACE(kHostileNames[static_cast<int>(kind)]);
            host_.reset();
            for (const auto& entry : fs::directory_iterator(dir_)) {
                if (entry.path().filename() != "bin") {
                    fs::remove_all(entry.path());
                }
            }
            fifos_.clear();
            check(kind);
        }
    }

    // Puts the hostile kind of entry at path, in place of whatever was there.
    void plant(const std::string& at, Hostile kind) {
        std::error_code ignored;
        fs::remove_all(at, ignored);
        switch (kind) {
            case Hostile::fifo:
                ASSERT_EQ(::mkfifo(at.c_str(), 0644), 0);
                fifos_.push_back(at);
                break;
            case Hostile::directory:
                ASSERT_EQ(::mkdir(at.c_str(), 0755), 0);
                break;
            case Hostile::danglingLink:
                ASSERT_EQ(::symlink((outside_.path() + "/made").c_str(), at.c_str()), 0);
                break;
            case Hostile::loopingLink:
                ASSERT_EQ(::symlink(at.c_str(), at.c_str()), 0);
                break;
            case Hostile::linkOutside:
                ASSERT_EQ(::symlink(victim().c_str(), at.c_str()), 0);
                break;
        }
    }

    // Runs an action on a thread of its own and fails when it has not returned within
    // kPromptly. A blocked action is then released by opening the FIFOs it may wait on, so
    // the test ends either way.
    template <typename Action>
    auto promptly(Action action) -> decltype(action()) {
        std::packaged_task<decltype(action())()> task(std::move(action));
        auto result = task.get_future();
        std::thread runner(std::move(task));
        if (result.wait_for(kPromptly) != std::future_status::ready) {
            ADD_FAILURE() << "the action blocked";
            for (const std::string& fifo : fifos_) {
                const int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
                if (fd >= 0) {
                    result.wait_for(std::chrono::seconds(5));
                    ::close(fd);
                }
            }
        }
        runner.join();
        return result.get();
    }

    // Nothing outside the support folder that the links reach was made or changed.
    void expectOutsideUntouched() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(outside_.path())) {
            files[entry.path().filename().string()] = readFile(entry.path().string());
        }
        EXPECT_EQ(files, (std::map<std::string, std::string>{{"victim", "precious"}}));
    }

    OfxStatus save(const std::string& name) {
        fx_->setValue("lookName", name);
        return promptly([this] { return fx_->pressButton("saveLook"); });
    }
    void startPromptly() {
        promptly([this] { start(); });
    }
    bool regularFile(const std::string& p) const {
        struct stat sb {};
        return ::lstat(p.c_str(), &sb) == 0 && S_ISREG(sb.st_mode);
    }

    TempDir outside_;
    std::vector<std::string> fifos_;
};

// The My Looks file is moved aside or replaced, the lock file is only ever a regular file of ours
// (a directory cannot be cleared away and stays), and the update state file is ignored. The repair
// of a damaged My Looks file skips backup names in the way, and the debug log it writes fails
// silently.
TEST_F(HostileFiles, FilesInTheWayAreReplacedSkippedOrIgnoredNeverFollowedOutside) {
    for (const std::string name : {"MyLooks.json", "MyLooks.json.lock", "UpdateState.json",
                                   "MyLooks.json.bak", "MyLooks.json.bak2", "debug.log"}) {
        SCOPED_TRACE(name);
        const bool repair = name.find(".bak") != std::string::npos || name == "debug.log";
        forEachHostile([&](Hostile kind) {
            if (name == "MyLooks.json.bak2") {
                writeFile(myLooksFile() + ".bak", "an older backup");
            }
            plant(path(name), kind);
            if (repair) {
                writeFile(myLooksFile(), "{ damaged");
            }
            startPromptly();
            if (repair) {
                EXPECT_EQ(status(), "My Looks file was reset. A backup was kept.");
            }
            EXPECT_EQ(fx_->stringValue("updateNotice"), "");
            EXPECT_EQ(save("z"), kOfxStatOK);
            EXPECT_EQ(status(), "Saved z.");
            EXPECT_TRUE(regularFile(myLooksFile()));
            EXPECT_EQ(menu(), std::vector<std::string>{"z"});
            if (name == "MyLooks.json.lock") {
                EXPECT_EQ(kind == Hostile::directory, !regularFile(path(name)));
            }
            expectOutsideUntouched();
        });
    }
}

TEST_F(HostileFiles, TemporaryFileIsMadeAfreshNeverThroughALink) {
    forEachHostile([&](Hostile kind) {
        startPromptly();
        // Planted between two saves, as an attacker who watches the folder would.
        ASSERT_EQ(save("first"), kOfxStatOK);
        const std::string tmp = myLooksFile() + ".tmp";
        const std::string before = readFile(myLooksFile());
        plant(tmp, kind);
        EXPECT_EQ(save("z"), kOfxStatOK);
        if (kind == Hostile::directory) {
            // A directory cannot be cleared away: every command that writes fails as with
            // any unwritable temporary file, and the My Looks file keeps what it had.
            EXPECT_EQ(status(), "Could not save My Looks.");
            fx_->userEdit("savedLooks", 0);
            EXPECT_EQ(press("renameLook", "Renamed"), "Could not save My Looks.");
            EXPECT_EQ(press("deleteLook"), "Could not save My Looks.");
            EXPECT_EQ(readFile(myLooksFile()), before);
            EXPECT_EQ(menu(), std::vector<std::string>{"first"});
            fs::remove(tmp);
        } else {
            EXPECT_EQ(status(), "Saved z.");
        }
        EXPECT_EQ(save("y"), kOfxStatOK);
        EXPECT_EQ(status(), "Saved y.");
        EXPECT_TRUE(regularFile(myLooksFile()));
        EXPECT_FALSE(fs::exists(fs::symlink_status(tmp)));
        expectOutsideUntouched();
    });
}

// Look files that cannot be loaded: entries that are no regular files (pack 2, options 1 to
// 5) and damaged files. Each renders without its look, promptly and twice over (the second
// time from the failure the store remembered), while the folder's intact files still load.
// The looks folder is the test's own and the plug-in is copied into a bundle of its own: the
// looks folder is found once per process and kept by each library.
TEST_F(HostileFiles, LookFilesThatCannotBeLoadedRenderWithoutTheLook) {
    const fs::path root(dir_ + "/copy");
    const fs::path binary = root / "VandrelHuebench.ofx.bundle/Contents/Linux-x86-64";
    const fs::path looks = root / "looks";
    fs::create_directories(binary);
    fs::create_directories(looks);
    fs::copy_file(fs::path(VD_BUNDLE_DIR) / "Contents/Linux-x86-64/VandrelHuebench.ofx",
                  binary / "VandrelHuebench.ofx");
    for (int i = 0; i < lookCount(); ++i) {
        fs::copy_file(fs::path(VD_BUNDLE_DIR) / "Contents/Resources/looks" / lookFileName(i),
                      looks / lookFileName(i));
    }
    auto file = [&](int pack, int option) {
        return (looks / lookFileName(*findLook(pack, option))).string();
    };
    struct Unloadable {
        int pack, option;
        std::string what;
    };
    std::vector<Unloadable> unloadable;
    for (int option = 1; option <= 5; ++option) {
        plant(file(2, option), kEveryHostile[option - 1]);
        unloadable.push_back({2, option, kHostileNames[option - 1]});
    }
    auto damage = [&](int pack, int option, const char* what, auto change) {
        std::string bytes = readFile(file(pack, option));
        change(bytes);
        writeFile(file(pack, option), bytes);
        unloadable.push_back({pack, option, what});
    };
    // The file whose presence marks the folder as a looks folder: the folder is still chosen.
    damage(1, 1, "probe file cut in half", [](std::string& b) { b.resize(b.size() / 2); });
    damage(3, 2, "a bit of the sealed payload", [](std::string& b) { b[b.size() / 2] ^= 0x10; });
    // Every header check passes and only the authentication tag can catch it.
    damage(4, 1, "layout switched to the other valid one", [](std::string& b) { b[8] ^= 0x03; });
    damage(5, 1, "empty", [](std::string& b) { b.clear(); });
    damage(3, 3, "no look file", [](std::string& b) { b = "LUT_3D_SIZE 2\n0 0 0\n"; });

    ::setenv("VD_LOOKS_DIR", looks.c_str(), 1);
    host_ = std::make_unique<TestHost>((root / "VandrelHuebench.ofx.bundle").string());
    host_->setUp(kOfxImageEffectContextFilter);
    fx_ = &host_->createInstance(kOfxImageEffectContextFilter);
    ::unsetenv("VD_LOOKS_DIR");

    Image picture(BitDepth::float32, 4, {0, 0, 16, 9});
    picture.fillPattern();
    auto render = [&](int pack, int option) {
        fx_->userEdit("footage", pack);
        fx_->userEdit(packLutParam(pack), option);
        RenderRequest request;
        request.source = picture;
        const auto result = promptly([&] { return fx_->render(request); });
        EXPECT_EQ(result.status, kOfxStatOK);
        return result.output.bytes();
    };
    for (const Unloadable& u : unloadable) {
        SCOPED_TRACE(u.what);
        const auto none = render(u.pack, 0);
        EXPECT_EQ(render(u.pack, u.option), none);
        EXPECT_EQ(render(u.pack, u.option), none);
    }
    for (const auto& [pack, option] : {std::pair{2, 6}, {1, 2}, {5, 2}}) {
        EXPECT_NE(render(pack, option), render(pack, 0)) << pack << "," << option;
    }
    expectOutsideUntouched();
    EXPECT_TRUE(host_->problems().empty());
}

}  // namespace
}  // namespace vd::test
