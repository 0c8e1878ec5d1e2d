// Win32 implementation of the platform layer. Paths are UTF-8 everywhere else in the
// program; here they become UTF-16 for the wide Win32 calls, and back.
#if !defined(_WIN32)
#error "Platform_win32.cpp is for Windows; build Platform_posix.cpp elsewhere."
#endif

#include "platform/Platform.h"
#include "platform/Win32Text.h"

// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <locale.h>
#include <cstdlib>
#include <cstring>

namespace vd::platform {

std::optional<std::wstring> win32::widen(std::string_view text) {
    if (text.empty()) {
        return std::wstring();
    }
    const int len = static_cast<int>(text.size());
    const int n =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), len, nullptr, 0);
    if (n <= 0) {
        return std::nullopt;
    }
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), len, out.data(), n);
    return out;
}

namespace {

using win32::widen;

std::string narrow(const wchar_t* text, std::size_t len) {
    if (len == 0) {
        return {};
    }
    const int wlen = static_cast<int>(len);
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, wlen, nullptr, 0, nullptr, nullptr);
    if (n <= 0) {
        return {};
    }
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, wlen, out.data(), n, nullptr, nullptr);
    return out;
}

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

class Handle {
  public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() {
        if (valid()) {
            ::CloseHandle(h_);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE release() {
        HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return h;
    }

  private:
    HANDLE h_;
};

// A file on a disk that is neither a directory nor a link (reparse point): the only kind
// of file this program reads, writes or locks. Pipes, consoles and devices are refused.
bool isRegular(HANDLE h) {
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info)) {
        return false;
    }
    return (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens path itself, never what a link there points to.
HANDLE openNoFollow(const std::wstring& path, DWORD access, DWORD disposition) {
    return ::CreateFileW(path.c_str(), access, kShareAll, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool writeAll(HANDLE h, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk =
            bytes.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!::WriteFile(h, bytes.data(), chunk, &written, nullptr) || written == 0) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

bool isMissingError(DWORD e) {
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
}

// The error of the last failed library call on this thread, for libraryError().
thread_local DWORD lastLibraryError = 0;

}  // namespace

std::optional<std::string> getEnv(const char* name) {
    // The wide environment, so that a value with characters outside the ANSI code page (a
    // user name in APPDATA) reaches the UTF-8 paths intact.
    const std::optional<std::wstring> wname = widen(name);
    if (!wname) {
        return std::nullopt;
    }
    const wchar_t* v = ::_wgetenv(wname->c_str());
    if (v == nullptr) {
        return std::nullopt;
    }
    return narrow(v, std::wcslen(v));
}

char pathSeparator() {
    return '\\';
}

std::string joinPath(std::string_view dir, std::string_view name) {
    std::string out(dir);
    if (out.empty()) {
        return std::string(name);
    }
    while (!name.empty() && isSeparator(name.front())) {
        name.remove_prefix(1);
    }
    if (!isSeparator(out.back())) {
        out.push_back('\\');
    }
    out.append(name);
    return out;
}

std::string parentPath(std::string_view path) {
    const auto pos = path.find_last_of("\\/");
    if (pos == std::string_view::npos) {
        return {};
    }
    // The root keeps its separator: "C:\x" -> "C:\", "\x" -> "\".
    if (pos == 0 || (pos == 2 && path[1] == ':')) {
        return std::string(path.substr(0, pos + 1));
    }
    return std::string(path.substr(0, pos));
}

FileStatus fileStatus(const std::string& path) {
    FileStatus st;
    const std::optional<std::wstring> wpath = widen(path);
    if (path.empty() || !wpath) {
        return st;
    }
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(wpath->c_str(), GetFileExInfoStandard, &data)) {
        return st;
    }
    st.exists = true;
    st.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    st.isRegular = !st.isDirectory && (data.dwFileAttributes &
                                       (FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    st.size = static_cast<std::uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    return st;
}

bool createDirectories(const std::string& path) {
    const std::optional<std::wstring> wpath = widen(path);
    if (path.empty() || !wpath) {
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
    if (::CreateDirectoryW(wpath->c_str(), nullptr)) {
        return true;
    }
    return ::GetLastError() == ERROR_ALREADY_EXISTS && fileStatus(path).isDirectory;
}

ReadResult readWholeFile(const std::string& path, std::uint64_t maxBytes, std::string& out) {
    out.clear();
    const std::optional<std::wstring> wpath = widen(path);
    if (!wpath) {
        return ReadResult::failed;
    }
    // A link is followed; the kind of what was opened is checked on the handle, so a pipe
    // or device is refused before any read could wait on it. A directory does not open.
    Handle h(::CreateFileW(wpath->c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid()) {
        return isMissingError(::GetLastError()) ? ReadResult::missing : ReadResult::failed;
    }
    LARGE_INTEGER size{};
    if (::GetFileType(h.get()) != FILE_TYPE_DISK || !::GetFileSizeEx(h.get(), &size)) {
        return ReadResult::failed;
    }
    if (static_cast<std::uint64_t>(size.QuadPart) > maxBytes) {
        return ReadResult::tooLarge;
    }
    out.reserve(static_cast<std::size_t>(size.QuadPart));
    char buf[65536];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(h.get(), buf, sizeof buf, &n, nullptr)) {
            out.clear();
            return ReadResult::failed;
        }
        if (n == 0) {
            break;
        }
        if (out.size() + n > maxBytes) {
            out.clear();
            return ReadResult::tooLarge;  // the file grew while we read it
        }
        out.append(buf, n);
    }
    return ReadResult::ok;
}

bool writeFileDurably(const std::string& path, std::string_view bytes) {
    const std::optional<std::wstring> wpath = widen(path);
    if (!wpath) {
        return false;
    }
    // Whatever stands there goes first (DeleteFileW removes a link, not its target; a
    // directory stays and makes the create fail); CREATE_NEW then refuses anything that
    // appeared in between, so the bytes land only in a file this call made.
    if (!::DeleteFileW(wpath->c_str()) && !isMissingError(::GetLastError())) {
        return false;
    }
    Handle h(::CreateFileW(wpath->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h.valid() || !isRegular(h.get())) {
        return false;
    }
    if (!writeAll(h.get(), bytes) || !::FlushFileBuffers(h.get())) {
        return false;
    }
    return ::CloseHandle(h.release()) != 0;
}

bool replaceFile(const std::string& from, const std::string& to) {
    const std::optional<std::wstring> wfrom = widen(from);
    const std::optional<std::wstring> wto = widen(to);
    if (!wfrom || !wto) {
        return false;
    }
    return ::MoveFileExW(wfrom->c_str(), wto->c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
}

bool syncDirectory(const std::string&) {
    return true;  // a rename on NTFS is journalled with the directory
}

bool removeFile(const std::string& path) {
    const std::optional<std::wstring> wpath = widen(path);
    if (!wpath) {
        return false;
    }
    return ::DeleteFileW(wpath->c_str()) || isMissingError(::GetLastError());
}

bool appendShared(const std::string& path, std::string_view text) {
    const std::optional<std::wstring> wpath = widen(path);
    if (!wpath) {
        return false;
    }
    // FILE_APPEND_DATA alone makes every write land at the end, whoever else appends. The
    // entry is opened itself, never followed, and refused unless it is a plain file.
    Handle h(openNoFollow(*wpath, FILE_APPEND_DATA, OPEN_ALWAYS));
    if (!h.valid() || !isRegular(h.get())) {
        return false;
    }
    return writeAll(h.get(), text);
}

struct FileLock::Handle {
    HANDLE file = INVALID_HANDLE_VALUE;
};

FileLock::FileLock(const std::string& path) {
    const std::optional<std::wstring> wpath = widen(path);
    if (!wpath) {
        return;
    }
    // A lock file is only ever a plain file of ours: a link or device entry in its place is
    // removed (the link, never its target) and a plain file made.
    const DWORD attributes = ::GetFileAttributesW(wpath->c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0) {
        ::DeleteFileW(wpath->c_str());
    }
    platform::Handle h(openNoFollow(*wpath, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS));
    if (!h.valid() || !isRegular(h.get())) {
        return;
    }
    OVERLAPPED whole{};  // the lock covers the largest range, from offset 0
    if (!::LockFileEx(h.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        return;
    }
    handle_ = std::make_unique<Handle>();
    handle_->file = h.release();
}

FileLock::~FileLock() {
    if (handle_) {
        OVERLAPPED whole{};
        ::UnlockFileEx(handle_->file, 0, MAXDWORD, MAXDWORD, &whole);
        ::CloseHandle(handle_->file);
    }
}

std::string userDataDirectory() {
    return {};  // APPDATA is the per-user data directory here; the caller reads it.
}

std::string moduleDirectory() {
    HMODULE module = nullptr;
    // The address of this function lies inside the module that was built with it; the
    // reference count stays as it is, since nothing here frees the module.
    if (!::GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&moduleDirectory), &module)) {
        return {};
    }
    constexpr DWORD kCapacity = 4096;
    std::wstring name(kCapacity, L'\0');
    const DWORD n = ::GetModuleFileNameW(module, name.data(), kCapacity);
    // A name that fills the buffer may have been cut short, so it is not used.
    if (n == 0 || n >= kCapacity) {
        return {};
    }
    return parentPath(narrow(name.data(), n));
}

bool pinOwnModule() {
    HMODULE module = nullptr;
    // The pin flag keeps the module that holds this function loaded until the process
    // ends, whatever FreeLibrary calls the host makes later; the handle is never released.
    return ::GetModuleHandleExW(
               GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
               reinterpret_cast<LPCWSTR>(&pinOwnModule), &module) != 0;
}

void* openLibrary(const char* name) {
    const std::optional<std::wstring> wname = widen(name == nullptr ? "" : name);
    if (!wname || wname->empty()) {
        lastLibraryError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    HMODULE module = ::LoadLibraryW(wname->c_str());
    if (module == nullptr) {
        lastLibraryError = ::GetLastError();
    }
    return reinterpret_cast<void*>(module);
}

void* librarySymbol(void* library, const char* symbol) {
    if (library == nullptr) {
        return nullptr;
    }
    const FARPROC address = ::GetProcAddress(static_cast<HMODULE>(library), symbol);
    if (address == nullptr) {
        lastLibraryError = ::GetLastError();
        return nullptr;
    }
    void* out = nullptr;
    static_assert(sizeof out == sizeof address);
    std::memcpy(&out, &address, sizeof out);
    return out;
}

void closeLibrary(void* library) {
    if (library != nullptr) {
        ::FreeLibrary(static_cast<HMODULE>(library));
    }
}

std::string libraryError() {
    const DWORD error = lastLibraryError;
    lastLibraryError = 0;
    if (error == 0) {
        return {};
    }
    char text[512] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, error, 0, text, sizeof text, nullptr);
    std::string out = "error " + std::to_string(error);
    if (n > 0) {
        std::string_view message(text, n);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
            message.remove_suffix(1);
        }
        out.append(": ").append(message);
    }
    return out;
}

bool openUrl(const std::string& url) {
    if (url.empty()) {
        return false;
    }
    // The addresses are ASCII: each byte becomes one UTF-16 unit, no decoding.
    std::wstring wide;
    for (const char c : url) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    const HINSTANCE result =
        ::ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    // ShellExecuteW reports success as a value above 32.
    return reinterpret_cast<INT_PTR>(result) > 32;
}

// The locale object is made once and kept for the life of the process.
double classicStrtod(const char* text, char** end) {
    static const _locale_t classic = ::_create_locale(LC_NUMERIC, "C");
    return classic != nullptr ? ::_strtod_l(text, end, classic) : std::strtod(text, end);
}

}  // namespace vd::platform
