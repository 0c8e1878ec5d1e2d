// The operating-system calls the plug-in and its tools need, behind small functions.
//
// Owns: environment lookup, file status and whole-file I/O, directory chains, replacing
// rename, delete, shared append, advisory file locks, the plug-in's own module directory,
// dynamic libraries, keeping the plug-in's own module loaded, opening a web page in the
// default browser, an HTTPS GET.
// Does not own: any policy about which files or libraries are used (that is the callers').
// One POSIX and one Win32 implementation beside this header.
// None of these functions throw except std::bad_alloc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vd::platform {

// The value of an environment variable, or nothing when it is unset.
std::optional<std::string> getEnv(const char* name);

// Path separator of this platform and a join that inserts exactly one (none when dir
// already ends in one; name alone when dir is empty).
char pathSeparator();
std::string joinPath(std::string_view dir, std::string_view name);
// The directory part of a path ("" when there is none).
std::string parentPath(std::string_view path);

struct FileStatus {
    bool exists = false;
    bool isDirectory = false;
    bool isRegular = false;
    std::uint64_t size = 0;
};
FileStatus fileStatus(const std::string& path);

// Creates the directory and every missing parent. True when it exists afterwards.
bool createDirectories(const std::string& path);

enum class ReadResult { ok, missing, tooLarge, failed };
// Reads a whole regular file into out. Files larger than maxBytes are not read. A link is
// followed; anything that is not a regular file in the end (a FIFO, a device, a directory)
// is refused as failed without waiting for it, so a read never blocks.
ReadResult readWholeFile(const std::string& path, std::uint64_t maxBytes, std::string& out);

// Writes bytes to a new file at path and flushes them to the storage device before
// returning. Whatever stands at path first (a leftover file, a FIFO, a link) is removed,
// never what a link points to, and the new file is created exclusively, so the bytes can
// only land in a file made by this call. False on any failure (a directory at path among
// them); a partial file may then remain.
bool writeFileDurably(const std::string& path, std::string_view bytes);

// Renames from over to, replacing an existing target atomically where the platform can.
bool replaceFile(const std::string& from, const std::string& to);

// Flushes a directory's entries (after a rename) to the storage device. POSIX only; true
// on platforms where this is not needed.
bool syncDirectory(const std::string& dir);

// Deletes a file. True when it no longer exists afterwards.
bool removeFile(const std::string& path);

// Appends text to a regular file that other processes may append to at the same time,
// creating it when missing. Refuses at once, without following it and without waiting, a
// link, FIFO, device or directory at path.
bool appendShared(const std::string& path, std::string_view text);

// An exclusive advisory lock on a lock file, shared between processes; released when the
// object is destroyed. A link, FIFO or other non-regular entry at path is removed and a
// regular file made in its place; it is never followed. locked() is false when no lock
// file could be opened or locked.
class FileLock {
  public:
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool locked() const { return handle_ != nullptr; }

  private:
    struct Handle;  // the open lock file, in the platform's own terms
    std::unique_ptr<Handle> handle_;
};

// The per-user data directory of the desktop's conventions, where the platform has one
// besides APPDATA: $XDG_DATA_HOME when absolute, else $HOME/.local/share. Empty when there
// is none.
std::string userDataDirectory();

// Directory of the module (shared library or executable) that contains this code, without
// a trailing separator; empty when it cannot be found.
std::string moduleDirectory();

// Dynamic libraries: open, symbol, close, last error.
void* openLibrary(const char* name);
void* librarySymbol(void* library, const char* symbol);
void closeLibrary(void* library);
std::string libraryError();

// Keeps the module that contains this code mapped until the process ends, even after its
// loader unloads it, so that a thread of ours may outlive the host's unload. Idempotent.
// False when that could not be arranged (the caller must then not start such a thread).
bool pinOwnModule();

// One HTTPS GET, TLS with the peer certificate verified. The caller has already split the
// address; redirects are not followed.
struct HttpsRequest {
    std::string host;  // a name or an address literal (IPv6 without brackets)
    int port = 443;
    std::string path;  // path and query, beginning with "/"
    std::string userAgent;
    std::string headers;  // extra header lines, each ending in "\r\n"
    // Per phase, as the operating system's HTTP client takes them. Where a client has fewer
    // limits, resolution and connection (with the TLS handshake) share one limit and the
    // whole request is bounded by the sum of all four.
    int resolveTimeoutMs = 0;
    int connectTimeoutMs = 0;
    int sendTimeoutMs = 0;
    int receiveTimeoutMs = 0;
    // A longer body fails the request: a hostile server cannot fill memory.
    std::size_t maxBodyBytes = 0;
    // Tests only: a PEM file of certificates trusted instead of the system's store. Never
    // a way to skip verification.
    std::string caFile;
};
struct HttpsResponse {
    bool completed = false;  // false: no client, no connection, TLS failure, time-out, too long
    int status = 0;          // the HTTP status code, when completed
    std::string body;        // the whole body, when completed
};
// On POSIX the client is libcurl, loaded at run time ("libcurl.so.4"); without it every
// request fails. On Windows it is WinHTTP, which trusts only the system's store, so
// caFile is ignored there. Safe to call from any thread.
HttpsResponse httpsGet(const HttpsRequest& request);

// Opens a web address in the user's default browser without going through a shell.
// True when the opener was started.
bool openUrl(const std::string& url);

// strtod with '.' as the decimal point and no digit grouping, whatever locale the process
// (or its host application) has set.
double classicStrtod(const char* text, char** end);

}  // namespace vd::platform
