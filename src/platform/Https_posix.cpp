// HTTPS GET on POSIX through libcurl, loaded at run time so that the plug-in needs no
// library beyond the C/C++ runtime and still loads where libcurl is missing.
#if defined(_WIN32)
#error "Https_posix.cpp is for POSIX systems; the Win32 platform file has its own client."
#endif

#include <mutex>

#include "platform/Platform.h"

namespace vd::platform {

namespace {

// The few parts of libcurl's C interface used here, by their published numbers.
using CurlCode = int;
constexpr CurlCode kCurlOk = 0;
constexpr long kCurlGlobalDefault = 3;  // CURL_GLOBAL_SSL | CURL_GLOBAL_WIN32
constexpr int kOptWriteData = 10001;
constexpr int kOptUrl = 10002;
constexpr int kOptUserAgent = 10018;
constexpr int kOptHttpHeader = 10023;
constexpr int kOptWriteFunction = 20011;
constexpr int kOptNoSignal = 99;
constexpr int kOptTimeoutMs = 155;
constexpr int kOptConnectTimeoutMs = 156;
constexpr int kOptCaInfo = 10065;
constexpr int kOptProtocolsStr = 10318;  // libcurl 7.85 and later
constexpr int kOptProtocols = 181;       // earlier ones (deprecated since)
constexpr long kProtoHttps = 1L << 1;
constexpr int kInfoResponseCode = 0x200000 + 2;  // CURLINFO_LONG + 2

struct CurlSlist;

struct Curl {
    CurlCode (*globalInit)(long) = nullptr;
    void* (*easyInit)() = nullptr;
    CurlCode (*easySetopt)(void*, int, ...) = nullptr;
    CurlCode (*easyPerform)(void*) = nullptr;
    CurlCode (*easyGetinfo)(void*, int, ...) = nullptr;
    void (*easyCleanup)(void*) = nullptr;
    CurlSlist* (*slistAppend)(CurlSlist*, const char*) = nullptr;
    void (*slistFreeAll)(CurlSlist*) = nullptr;
    bool ok = false;
};

template <typename F>
void bind(void* library, const char* name, F& out, bool& ok) {
    void* symbol = librarySymbol(library, name);
    ok = ok && symbol != nullptr;
    out = reinterpret_cast<F>(symbol);
}

// Loaded once per process and never closed: the library keeps threads and global state.
const Curl& curl() {
    static Curl c;
    static std::once_flag once;
    std::call_once(once, [] {
        void* lib = openLibrary("libcurl.so.4");
        if (lib == nullptr) {
            return;
        }
        bool ok = true;
        bind(lib, "curl_global_init", c.globalInit, ok);
        bind(lib, "curl_easy_init", c.easyInit, ok);
        bind(lib, "curl_easy_setopt", c.easySetopt, ok);
        bind(lib, "curl_easy_perform", c.easyPerform, ok);
        bind(lib, "curl_easy_getinfo", c.easyGetinfo, ok);
        bind(lib, "curl_easy_cleanup", c.easyCleanup, ok);
        bind(lib, "curl_slist_append", c.slistAppend, ok);
        bind(lib, "curl_slist_free_all", c.slistFreeAll, ok);
        // Global initialisation is not thread-safe in every libcurl; here it runs once,
        // before any easy handle of ours exists.
        c.ok = ok && c.globalInit(kCurlGlobalDefault) == kCurlOk;
    });
    return c;
}

struct Sink {
    std::string* body;
    std::size_t limit;
};

extern "C" std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const std::size_t n = size * count;
    if (n > sink->limit - sink->body->size()) {
        return 0;  // any other count than n makes libcurl abort the transfer
    }
    try {
        sink->body->append(data, n);
    } catch (...) {
        return 0;  // nothing may unwind through libcurl
    }
    return n;
}

std::string addressOf(const HttpsRequest& r) {
    const bool literal6 = r.host.find(':') != std::string::npos;
    std::string url = "https://";
    url.append(literal6 ? "[" : "").append(r.host).append(literal6 ? "]" : "");
    url.append(":").append(std::to_string(r.port)).append(r.path);
    return url;
}

}  // namespace

HttpsResponse httpsGet(const HttpsRequest& request) {
    HttpsResponse response;
    const Curl& c = curl();
    if (!c.ok || request.port < 1 || request.port > 65535 || request.path.empty() ||
        request.path.front() != '/') {
        return response;
    }
    void* easy = c.easyInit();
    if (easy == nullptr) {
        return response;
    }
    CurlSlist* headers = nullptr;
    for (std::size_t start = 0, end;
         (end = request.headers.find("\r\n", start)) != std::string::npos; start = end + 2) {
        if (end > start) {
            headers = c.slistAppend(headers, request.headers.substr(start, end - start).c_str());
        }
    }
    std::string body;
    Sink sink{&body, request.maxBodyBytes};
    const std::string url = addressOf(request);
    const long connectMs = static_cast<long>(request.resolveTimeoutMs) + request.connectTimeoutMs;
    const long totalMs = connectMs + request.sendTimeoutMs + request.receiveTimeoutMs;
    using WriteFn = std::size_t (*)(char*, std::size_t, std::size_t, void*);
    const WriteFn write = &appendBody;
    bool set = c.easySetopt(easy, kOptUrl, url.c_str()) == kCurlOk;
    // No signals: a time-out in name resolution must not raise SIGALRM in the host.
    set = set && c.easySetopt(easy, kOptNoSignal, 1L) == kCurlOk;
    set = set && (c.easySetopt(easy, kOptProtocolsStr, "https") == kCurlOk ||
                  c.easySetopt(easy, kOptProtocols, kProtoHttps) == kCurlOk);
    set = set && c.easySetopt(easy, kOptUserAgent, request.userAgent.c_str()) == kCurlOk;
    set = set && c.easySetopt(easy, kOptHttpHeader, headers) == kCurlOk;
    set = set && c.easySetopt(easy, kOptConnectTimeoutMs, connectMs) == kCurlOk;
    set = set && c.easySetopt(easy, kOptTimeoutMs, totalMs) == kCurlOk;
    set = set && c.easySetopt(easy, kOptWriteFunction, write) == kCurlOk;
    set = set && c.easySetopt(easy, kOptWriteData, static_cast<void*>(&sink)) == kCurlOk;
    if (!request.caFile.empty()) {
        set = set && c.easySetopt(easy, kOptCaInfo, request.caFile.c_str()) == kCurlOk;
    }
    long status = 0;
    if (set && c.easyPerform(easy) == kCurlOk &&
        c.easyGetinfo(easy, kInfoResponseCode, &status) == kCurlOk) {
        response.completed = true;
        response.status = static_cast<int>(status);
        response.body = std::move(body);
    }
    c.easyCleanup(easy);
    c.slistFreeAll(headers);
    return response;
}

}  // namespace vd::platform
