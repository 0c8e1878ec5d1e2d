// Test fixture: a fresh temporary directory as the support directory, with the environment
// variables the My Looks code reads cleared for the test and restored after it.
#pragma once

#include <gtest/gtest.h>

#include <list>
#include <string>

#include "../common/TestFiles.h"

namespace vd::test {

class TempEnv : public ::testing::Test {
  protected:
    TempEnv() {
        for (const char* name :
             {"APPDATA", "VD_DEBUG_LOG", "VD_MY_LOOKS_FILE", "XDG_DATA_HOME", "HOME"}) {
            env_.emplace_back(name, std::nullopt);
        }
        env_.emplace_back("VD_SUPPORT_DIR", dir_);
    }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    TempDir tmp_;
    const std::string dir_ = tmp_.path();
    std::list<ScopedEnv> env_;
};

}  // namespace vd::test
