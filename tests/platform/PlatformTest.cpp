#include "platform/Platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "../common/TestFiles.h"

namespace vd::platform {
namespace {

class Files : public ::testing::Test {
  protected:
    test::TempDir tmp_;
    const std::string dir_ = tmp_.path();
};

TEST(PathTest, JoinInsertsExactlyOneSeparator) {
    EXPECT_EQ(joinPath("/a", "b"), "/a/b");
    EXPECT_EQ(joinPath("/a/", "b"), "/a/b");
    EXPECT_EQ(joinPath("/a", "/b"), "/a/b");
    EXPECT_EQ(joinPath("", "b"), "b");
    EXPECT_EQ(parentPath("/a/b/c.txt"), "/a/b");
    EXPECT_EQ(parentPath("c.txt"), "");
    EXPECT_EQ(parentPath("/c"), "/");
}

TEST_F(Files, WritesReadsReplacesAndRemovesFiles) {
    const std::string nested = joinPath(dir_, "x/y/z");
    ASSERT_TRUE(createDirectories(nested));
    EXPECT_TRUE(fileStatus(nested).isDirectory);

    const std::string file = joinPath(nested, "f.bin");
    const std::string bytes("a\0b\xff", 4);
    ASSERT_TRUE(writeFileDurably(file, bytes));
    std::string back;
    ASSERT_EQ(readWholeFile(file, 1024, back), ReadResult::ok);
    EXPECT_EQ(back, bytes);
    EXPECT_EQ(fileStatus(file).size, 4u);
    EXPECT_EQ(readWholeFile(file, 3, back), ReadResult::tooLarge);
    EXPECT_EQ(readWholeFile(joinPath(dir_, "none"), 10, back), ReadResult::missing);
    EXPECT_EQ(readWholeFile(nested, 10, back), ReadResult::failed);

    const std::string other = joinPath(nested, "g.bin");
    ASSERT_TRUE(writeFileDurably(other, "new"));
    ASSERT_TRUE(replaceFile(other, file));
    ASSERT_EQ(readWholeFile(file, 1024, back), ReadResult::ok);
    EXPECT_EQ(back, "new");
    EXPECT_FALSE(fileStatus(other).exists);
    EXPECT_TRUE(syncDirectory(nested));

    ASSERT_TRUE(appendShared(file, "+1"));
    ASSERT_TRUE(appendShared(file, "+2"));
    ASSERT_EQ(readWholeFile(file, 1024, back), ReadResult::ok);
    EXPECT_EQ(back, "new+1+2");

    EXPECT_TRUE(removeFile(file));
    EXPECT_TRUE(removeFile(file));  // already gone counts as removed
    EXPECT_FALSE(fileStatus(file).exists);
}

TEST_F(Files, FileLockIsExclusiveBetweenHolders) {
    const std::string lockPath = joinPath(dir_, "x.lock");
    FileLock a(lockPath);
    ASSERT_TRUE(a.locked());
    // A second open file description must not get the lock while the first holds it.
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int fd = ::open(lockPath.c_str(), O_RDWR);
        _exit(::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace vd::platform
