// File and environment helpers shared by the tests: whole-file reads and writes, a
// temporary directory that removes itself, and an environment variable set for one scope.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vd::test {

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    writeFile(path, std::string(bytes.begin(), bytes.end()));
}

// Memory-backed when the system has it: the file tests flush every save to disk, and what
// they check is locking and atomic replacement, not the disk's speed.
class TempDir {
  public:
    TempDir() {
        char shm[] = "/dev/shm/vd_test_XXXXXX";
        char tmp[] = "/tmp/vd_test_XXXXXX";
        const char* made = ::mkdtemp(shm);
        made = made ? made : ::mkdtemp(tmp);
        if (made == nullptr) {
            throw std::runtime_error("cannot make a temporary directory");
        }
        path_ = made;
    }
    ~TempDir() { (void)std::system(("rm -rf '" + path_ + "'").c_str()); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Sets (or, given no value, clears) an environment variable until the end of the scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        set(value);
    }
    ~ScopedEnv() { set(old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    void set(const std::optional<std::string>& value) const {
        value ? ::setenv(name_.c_str(), value->c_str(), 1) : ::unsetenv(name_.c_str());
    }
    std::string name_;
    std::optional<std::string> old_;
};

}  // namespace vd::test
