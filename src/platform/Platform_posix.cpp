// POSIX implementation of the platform layer.
#if defined(_WIN32)
#error "Platform_posix.cpp is for POSIX systems; build Platform_win32.cpp on Windows."
#endif

#include "platform/Platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <locale.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace vd::platform {

std::optional<std::string> getEnv(const char* name) {
    const char* v = std::getenv(name);
    if (v == nullptr) {
        return std::nullopt;
    }
    return std::string(v);
}

char pathSeparator() {
    return '/';
}

std::string joinPath(std::string_view dir, std::string_view name) {
    std::string out(dir);
    if (out.empty()) {
        return std::string(name);
    }
    while (!name.empty() && name.front() == '/') {
        name.remove_prefix(1);
    }
    if (out.back() != '/') {
        out.push_back('/');
    }
    out.append(name);
    return out;
}

std::string parentPath(std::string_view path) {
    const auto pos = path.find_last_of('/');
    if (pos == std::string_view::npos) {
        return {};
    }
    if (pos == 0) {
        return "/";
    }
    return std::string(path.substr(0, pos));
}

FileStatus fileStatus(const std::string& path) {
    FileStatus st;
    struct stat sb {};
    if (path.empty() || ::stat(path.c_str(), &sb) != 0) {
        return st;
    }
    st.exists = true;
    st.isDirectory = S_ISDIR(sb.st_mode);
    st.isRegular = S_ISREG(sb.st_mode);
    st.size = static_cast<std::uint64_t>(sb.st_size);
    return st;
}

bool createDirectories(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    if (fileStatus(path).isDirectory) {
        return true;
    }
    const std::string parent = parentPath(path);
    if (!parent.empty() && parent != path && !fileStatus(parent).isDirectory) {
        if (!createDirectories(parent)) {
            return false;
        }
    }
    if (::mkdir(path.c_str(), 0777) == 0) {
        return true;
    }
    return errno == EEXIST && fileStatus(path).isDirectory;
}

namespace {
class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

bool isRegular(int fd) {
    struct stat sb {};
    return ::fstat(fd, &sb) == 0 && S_ISREG(sb.st_mode);
}

// A new regular file at path, open for writing: whatever entry stands there is unlinked
// first (a link itself, not its target; a directory stays and makes the create fail), and
// O_EXCL with O_NOFOLLOW refuses anything that appears in between.
int createFresh(const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        return -1;
    }
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}
}  // namespace

ReadResult readWholeFile(const std::string& path, std::uint64_t maxBytes, std::string& out) {
    out.clear();
    // Non-blocking: opening a FIFO for reading would otherwise wait for a writer forever.
    // The kind of file is checked on the open descriptor, so nothing can swap it between
    // the check and the read; a regular file never blocks, whatever the flag says.
    Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        return errno == ENOENT ? ReadResult::missing : ReadResult::failed;
    }
    struct stat sb {};
    if (::fstat(fd.get(), &sb) != 0 || !S_ISREG(sb.st_mode)) {
        return ReadResult::failed;
    }
    if (static_cast<std::uint64_t>(sb.st_size) > maxBytes) {
        return ReadResult::tooLarge;
    }
    out.reserve(static_cast<std::size_t>(sb.st_size));
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            out.clear();
            return ReadResult::failed;
        }
        if (n == 0) {
            break;
        }
        if (out.size() + static_cast<std::size_t>(n) > maxBytes) {
            out.clear();
            return ReadResult::tooLarge;  // the file grew while we read it
        }
        out.append(buf, static_cast<std::size_t>(n));
    }
    return ReadResult::ok;
}

bool writeFileDurably(const std::string& path, std::string_view bytes) {
    // Opening what is there would follow a planted link to a file anywhere, or wait on a
    // FIFO; a fresh file made with O_EXCL can be neither.
    Fd fd(createFresh(path));
    if (fd.get() < 0) {
        return false;
    }
    if (!writeAll(fd.get(), bytes)) {
        return false;
    }
    if (::fsync(fd.get()) != 0) {
        return false;
    }
    return ::close(fd.release()) == 0;
}

bool replaceFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool syncDirectory(const std::string& dir) {
    Fd fd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) {
        return false;
    }
    return ::fsync(fd.get()) == 0;
}

bool removeFile(const std::string& path) {
    if (::unlink(path.c_str()) == 0) {
        return true;
    }
    return errno == ENOENT;
}

bool appendShared(const std::string& path, std::string_view text) {
    // O_APPEND makes each write land at the end even with other writers. O_NOFOLLOW refuses
    // a link, O_NONBLOCK a FIFO without a reader; a FIFO with one, or a device, is refused
    // by the kind check before anything is written.
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                 0666));
    if (fd.get() < 0 || !isRegular(fd.get())) {
        return false;
    }
    return writeAll(fd.get(), text);
}

struct FileLock::Handle {
    int fd = -1;
};

FileLock::FileLock(const std::string& path) {
    // A lock file is only ever a regular file of ours: anything else in its place is removed
    // (a link, never its target) and a regular file made, so the lock can neither create or
    // touch a file elsewhere nor wait on a FIFO.
    struct stat sb {};
    if (::lstat(path.c_str(), &sb) == 0 && !S_ISREG(sb.st_mode) && !S_ISDIR(sb.st_mode)) {
        ::unlink(path.c_str());
    }
    Fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
    if (fd.get() < 0 || !isRegular(fd.get())) {
        return;
    }
    int rc;
    do {
        rc = ::flock(fd.get(), LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        return;
    }
    handle_ = std::make_unique<Handle>();
    handle_->fd = fd.release();
}

FileLock::~FileLock() {
    if (handle_) {
        ::flock(handle_->fd, LOCK_UN);
        ::close(handle_->fd);
    }
}

std::string userDataDirectory() {
    // A relative XDG_DATA_HOME is ignored, as the freedesktop conventions ask.
    std::string data = getEnv("XDG_DATA_HOME").value_or(std::string());
    if (!data.empty() && data.front() == '/') {
        return data;
    }
    const std::string home = getEnv("HOME").value_or(std::string());
    return home.empty() ? std::string() : joinPath(joinPath(home, ".local"), "share");
}

std::string moduleDirectory() {
    Dl_info info{};
    // The address of this function lies inside the module that was built with it.
    if (::dladdr(reinterpret_cast<void*>(&moduleDirectory), &info) == 0 ||
        info.dli_fname == nullptr) {
        return {};
    }
    char resolved[PATH_MAX];
    const char* path = info.dli_fname;
    if (::realpath(path, resolved) != nullptr) {
        path = resolved;
    }
    return parentPath(path);
}

void* openLibrary(const char* name) {
    return ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void* librarySymbol(void* library, const char* symbol) {
    return library == nullptr ? nullptr : ::dlsym(library, symbol);
}

void closeLibrary(void* library) {
    if (library != nullptr) {
        ::dlclose(library);
    }
}

bool pinOwnModule() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&pinOwnModule), &info) == 0 || info.dli_fname == nullptr) {
        return false;
    }
    // RTLD_NOLOAD finds the loaded module under the name it was opened with, without loading
    // anything; RTLD_NODELETE then keeps it mapped through every later dlclose. The handle is
    // deliberately never closed.
    return ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}

std::string libraryError() {
    const char* e = ::dlerror();
    return e == nullptr ? std::string() : std::string(e);
}

bool openUrl(const std::string& url) {
    // Started directly with an argument vector: the address never meets a shell.
    char opener[] = "xdg-open";
    std::string arg = url;
    char* argv[] = {opener, arg.data(), nullptr};
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return false;
    }
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, opener, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return false;
    }
    // Reap the opener so it never lingers as a zombie; xdg-open returns as soon as it has
    // handed the address to the browser.
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The locale object is made once and kept for the life of the process.
double classicStrtod(const char* text, char** end) {
    static const locale_t classic = ::newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    return classic != static_cast<locale_t>(0) ? ::strtod_l(text, end, classic)
                                               : std::strtod(text, end);
}

}  // namespace vd::platform
