#include "support/Support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "TempEnv.h"

namespace vd {
namespace {

using test::readFile;

class Support : public test::TempEnv {};

TEST_F(Support, DirectoryComesFromTheEnvironmentInOrder) {
    EXPECT_EQ(supportDirectory(), dir_);
    EXPECT_EQ(debugLogPath(), dir_ + "/debug.log");

    ::setenv("VD_SUPPORT_DIR", "/some/where/", 1);
    EXPECT_EQ(supportDirectory(), "/some/where/");  // taken as it is
    EXPECT_EQ(debugLogPath(), "/some/where/debug.log");

    // Empty counts as unset; then APPDATA, then the per-user data directory.
    ::setenv("VD_SUPPORT_DIR", "", 1);
    ::setenv("APPDATA", "/roaming", 1);
    EXPECT_EQ(supportDirectory(), "/roaming/Vandrel");
    ::setenv("APPDATA", "", 1);
    ::setenv("XDG_DATA_HOME", "/xdg/data", 1);
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(supportDirectory(), "/xdg/data/Vandrel");
    ::setenv("XDG_DATA_HOME", "relative/data", 1);  // not absolute: ignored
    EXPECT_EQ(supportDirectory(), "/home/someone/.local/share/Vandrel");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(supportDirectory(), "/home/someone/.local/share/Vandrel");
    ::unsetenv("HOME");
    EXPECT_EQ(supportDirectory(), "");
    EXPECT_EQ(debugLogPath(), "");
    debugLog("goes nowhere");  // and does not fail

    ::setenv("VD_DEBUG_LOG", "/elsewhere/log.txt", 1);
    EXPECT_EQ(debugLogPath(), "/elsewhere/log.txt");
}

TEST_F(Support, LogAppendsWholeLinesAndCreatesItsDirectory) {
    const std::string log = path("deeper/still/my.log");
    ::setenv("VD_DEBUG_LOG", log.c_str(), 1);
    debugLog("first");
    debugLog("");
    debugLog(std::string("bytes\xC3\xA9\x01", 8));
    EXPECT_EQ(readFile(log), std::string("first\nbytes\xC3\xA9\x01\n", 15));
}

TEST_F(Support, LogOnceDropsARepeatOfTheLastMessageOnly) {
    debugLogOnce("saved-looks menu: dynamic");
    debugLogOnce("saved-looks menu: dynamic");
    debugLog("unfiltered");  // does not reset the filter
    debugLogOnce("saved-looks menu: dynamic");
    debugLogOnce("saved-looks menu: fixed-pool");
    debugLogOnce("saved-looks menu: dynamic");
    EXPECT_EQ(readFile(path("debug.log")),
              "saved-looks menu: dynamic\nunfiltered\nsaved-looks menu: fixed-pool\n"
              "saved-looks menu: dynamic\n");
}

}  // namespace
}  // namespace vd
