// The LUT store: where it looks for the looks directory, what it caches and evicts, that it
// remembers failures, and that concurrent renders each get the right look.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../common/TestFiles.h"
#include "looks/Catalogue.h"
#include "looks/LutStore.h"
#include "looks/LutStoreTesting.h"
#include "lookwriter/LookWriter.h"

namespace vd {
namespace {

namespace fs = std::filesystem;

// An edge-2 look whose every sample encodes the look index and a variant, so a test can
// tell which file a result came from.
LutCube markerCube(int lookIndex, int variant = 0) {
    LutCube cube;
    cube.edge = 2;
    cube.samples.assign(8 * 3, static_cast<float>(lookIndex * 1000 + variant * 7 + 1) / 65535.0f);
    return cube;
}

float markerValue(int lookIndex, int variant = 0) {
    return static_cast<float>(quantiseSample(markerCube(lookIndex, variant).samples[0]) / 65535.0);
}

void writeLook(const fs::path& dir, int lookIndex, int variant = 0) {
    test::writeFile(dir / lookFileName(lookIndex),
                    encodeLookFile(markerCube(lookIndex, variant), lookEntry(lookIndex)->id));
}

struct Request {
    bool ok = false;
    std::uint32_t edge = 0;
    std::vector<float> samples;
};

Request request(int lookIndex) {
    Request r;
    const LookEntry* entry = lookEntry(lookIndex);
    r.ok = getLookLut(entry->pack, entry->number, r.samples, r.edge);
    return r;
}

bool holdsLook(const Request& r, int lookIndex, int variant = 0) {
    return r.ok && r.edge == 2 && r.samples.size() == 24 &&
           r.samples[0] == markerValue(lookIndex, variant);
}

class LutStoreTest : public ::testing::Test {
  protected:
    LutStoreTest() {
        fs::create_directories(looks_);
        resetLutStoreForTests();
    }
    ~LutStoreTest() override { resetLutStoreForTests(); }
    void writeAllLooks() {
        for (int i = 0; i < lookCount(); ++i) {
            writeLook(looks_, i);
        }
    }

    test::TempDir tmp_;
    const fs::path root_ = tmp_.path();
    const fs::path looks_ = root_ / "looks";
    test::ScopedEnv env_{"VD_LOOKS_DIR", looks_.string()};
};

TEST_F(LutStoreTest, SearchTakesTheFirstCandidateHoldingTheProbeFile) {
    const fs::path module = root_ / "bundle" / "Contents" / "Linux-x86-64";
    const fs::path bundleLooks = root_ / "bundle" / "Contents" / "Resources" / "looks";
    const fs::path localLooks = module / "Resources" / "looks";
    const fs::path envDir = root_ / "env";
    for (const fs::path& dir : {module, bundleLooks, localLooks, envDir}) {
        fs::create_directories(dir);
    }
    const std::string probe = "iphone-apple-log-01.vdlk";
    auto found = [&](const fs::path& env) {
        return fs::path(resolveLooksDirFrom(env.string(), module.string()));
    };

    EXPECT_EQ(found(envDir), fs::path());  // nothing holds the probe yet
    test::writeFile(localLooks / probe, "1");
    EXPECT_TRUE(fs::equivalent(found(envDir), localLooks));
    test::writeFile(bundleLooks / probe, "1");
    EXPECT_TRUE(fs::equivalent(found(envDir), bundleLooks));
    EXPECT_TRUE(fs::equivalent(found(""), bundleLooks));  // an empty variable is no candidate
    test::writeFile(envDir / probe, "1");
    EXPECT_EQ(found(envDir), envDir);

    // The probe must be a regular file; a link to one counts.
    const fs::path linked = root_ / "linked";
    fs::create_directories(linked / probe);
    EXPECT_TRUE(fs::equivalent(found(linked), bundleLooks));
    fs::remove(linked / probe);
    fs::create_symlink(envDir / probe, linked / probe);
    EXPECT_EQ(found(linked), linked);

    // Without a module directory only the variable is tried.
    EXPECT_EQ(resolveLooksDirFrom((root_ / "none").string(), ""), "");
}

TEST_F(LutStoreTest, DirectoryComesFromTheEnvironmentOncePerProcess) {
    writeAllLooks();
    EXPECT_EQ(resolveLooksDir(), looks_.string());
    initLutStore();
    ::setenv("VD_LOOKS_DIR", (root_ / "elsewhere").c_str(), 1);
    initLutStore();
    EXPECT_TRUE(holdsLook(request(5), 5));
}

TEST_F(LutStoreTest, LeastRecentlyUsedLookIsEvictedAndReadAgain) {
    writeAllLooks();
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(holdsLook(request(i), i));
    }
    // Look 0 is served from the cache: a changed file is not read.
    writeLook(looks_, 0, 1);
    EXPECT_TRUE(holdsLook(request(0), 0, 0));
    // Look 0 was just used, so the ninth look evicts look 1, the least recently used.
    EXPECT_TRUE(holdsLook(request(8), 8));
    writeLook(looks_, 1, 1);
    EXPECT_TRUE(holdsLook(request(1), 1, 1));  // read again: the new file
    EXPECT_TRUE(holdsLook(request(0), 0, 0));  // still cached
}

TEST_F(LutStoreTest, FailedLoadIsRememberedUntilItsSlotIsReused) {
    writeAllLooks();
    test::writeFile(looks_ / lookFileName(4), std::string("VDL1\0", 5));
    EXPECT_FALSE(request(4).ok);
    writeLook(looks_, 4);  // repaired on disk
    EXPECT_FALSE(request(4).ok);
    for (int i = 10; i < 18; ++i) {  // eight other looks push the failure out
        ASSERT_TRUE(holdsLook(request(i), i));
    }
    EXPECT_TRUE(holdsLook(request(4), 4));
}

TEST_F(LutStoreTest, ConcurrentRequestsEachGetTheirOwnCorrectCopy) {
    writeAllLooks();
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([t, &wrong] {
            for (int n = 0; n < 300; ++n) {
                const int look = (t * 5 + n * 7) % 14;  // more looks than slots: evictions
                Request r = request(look);
                if (!holdsLook(r, look)) {
                    ++wrong;
                }
                r.samples.assign(r.samples.size(), -1.0f);  // a caller may scribble on its copy
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace vd
