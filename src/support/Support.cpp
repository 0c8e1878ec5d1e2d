#include "support/Support.h"

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "platform/Platform.h"

namespace vd {

namespace {

std::string nonEmptyEnv(const char* name) {
    return platform::getEnv(name).value_or(std::string());
}

}  // namespace

std::string supportDirectory() {
    if (std::string dir = nonEmptyEnv("VD_SUPPORT_DIR"); !dir.empty()) {
        return dir;
    }
    if (const std::string appData = nonEmptyEnv("APPDATA"); !appData.empty()) {
        return platform::joinPath(appData, "Vandrel");
    }
    if (const std::string data = platform::userDataDirectory(); !data.empty()) {
        return platform::joinPath(data, "Vandrel");
    }
    return {};
}

std::string supportFilePath(std::string_view name) {
    const std::string dir = supportDirectory();
    return dir.empty() ? std::string() : platform::joinPath(dir, name);
}

std::string debugLogPath() {
    if (std::string path = nonEmptyEnv("VD_DEBUG_LOG"); !path.empty()) {
        return path;
    }
    return supportFilePath("debug.log");
}

void debugLog(std::string_view message) {
    const std::string path = debugLogPath();
    if (path.empty() || message.empty()) {
        return;
    }
    if (const std::string dir = platform::parentPath(path); !dir.empty()) {
        platform::createDirectories(dir);
    }
    std::string line(message);
    line.push_back('\n');
    // One write in append mode: lines from other processes never split this one.
    platform::appendShared(path, line);
}

void debugLogOnce(std::string_view message) {
    // The filter has a lock of its own so that it can be used while the My Looks file is
    // locked, or not, without any order between the two.
    static std::mutex mutex;
    static std::string* last = new std::string();  // lives until the library is unloaded
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (*last == message) {
            return;
        }
        last->assign(message);
    }
    debugLog(message);
}

bool writeFileAtomically(const std::string& path, std::string_view text) {
    if (path.empty()) {
        return false;
    }
    const std::string dir = platform::parentPath(path);
    if (!dir.empty() && !platform::createDirectories(dir)) {
        return false;
    }
    const std::string tmp = path + ".tmp";
    if (!platform::writeFileDurably(tmp, text)) {
        platform::removeFile(tmp);
        return false;
    }
    // The target is never deleted to clear the way: if both attempts fail, the previous
    // file must still be there.
    if (platform::replaceFile(tmp, path) || platform::replaceFile(tmp, path)) {
        platform::syncDirectory(dir);
        return true;
    }
    if (!platform::removeFile(tmp)) {
        const int error = errno;
        throw std::filesystem::filesystem_error("remove", std::filesystem::path(tmp),
                                                std::error_code(error, std::generic_category()));
    }
    return false;
}

bool moveFileAside(const std::string& path) {
    std::string backup = path + ".bak";
    if (platform::fileStatus(backup).exists) {
        for (int n = 2; n <= 49; ++n) {
            std::string candidate = path + ".bak" + std::to_string(n);
            if (!platform::fileStatus(candidate).exists) {
                backup = std::move(candidate);
                break;
            }
        }
    }
    if (!platform::replaceFile(path, backup)) {
        return false;
    }
    platform::syncDirectory(platform::parentPath(path));
    return true;
}

}  // namespace vd
