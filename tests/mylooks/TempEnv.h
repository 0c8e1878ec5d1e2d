// Test fixture: a fresh temporary directory, with the environment variables the My Looks
// code reads saved before each test and restored after it.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace vd::test {

class TempEnv : public ::testing::Test {
  protected:
    void SetUp() override {
        // Memory-backed when the system has it: the file tests flush every save to disk,
        // and what they check is locking and atomic replacement, not the disk's speed.
        char shm[] = "/dev/shm/vd_mylooks_XXXXXX";
        char tmp[] = "/tmp/vd_mylooks_XXXXXX";
        const char* made = ::mkdtemp(shm);
        if (made == nullptr) {
            made = ::mkdtemp(tmp);
        }
        ASSERT_NE(made, nullptr);
        dir_ = made;
        for (const char* name : {"VD_SUPPORT_DIR", "APPDATA", "VD_DEBUG_LOG", "VD_MY_LOOKS_FILE",
                                 "XDG_DATA_HOME", "HOME"}) {
            const char* v = std::getenv(name);
            saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
            ::unsetenv(name);
        }
        ::setenv("VD_SUPPORT_DIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
        const std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    static std::string readFile(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void writeFile(const std::string& p, const std::string& bytes) {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out << bytes;
    }

    std::string dir_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace vd::test
