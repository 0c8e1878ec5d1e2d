// HTTPS GET on Windows through WinHTTP, a system DLL, so the plug-in still needs nothing
// beyond what every Windows has.
#if !defined(_WIN32)
#error "Https_win32.cpp is for Windows; build Https_posix.cpp elsewhere."
#endif

#include "platform/Platform.h"
#include "platform/Win32Text.h"

// clang-format off
#include <windows.h>
#include <winhttp.h>
// clang-format on

#include <memory>

namespace vd::platform {

namespace {

struct CloseInternet {
    void operator()(void* h) const { ::WinHttpCloseHandle(h); }
};
// Each handle is closed on every path, the request before its connection before its session
// (the reverse of the order they are declared in below).
using Internet = std::unique_ptr<void, CloseInternet>;

// Reads the whole body, refusing one longer than limit. False on any failure.
bool readBody(HINTERNET request, std::size_t limit, std::string& body) {
    for (;;) {
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request, &available)) {
            return false;
        }
        if (available == 0) {
            return true;  // the end of the body
        }
        if (available > limit - body.size()) {
            return false;  // too long: read no further
        }
        const std::size_t start = body.size();
        body.resize(start + available);
        DWORD read = 0;
        if (!::WinHttpReadData(request, body.data() + start, available, &read)) {
            return false;
        }
        body.resize(start + read);
        if (read == 0) {
            return true;
        }
    }
}

}  // namespace

HttpsResponse httpsGet(const HttpsRequest& request) {
    HttpsResponse response;
    if (request.port < 1 || request.port > 65535 || request.path.empty() ||
        request.path.front() != '/') {
        return response;
    }
    const std::optional<std::wstring> agent = win32::widen(request.userAgent);
    const std::optional<std::wstring> host = win32::widen(request.host);
    const std::optional<std::wstring> path = win32::widen(request.path);
    const std::optional<std::wstring> headers = win32::widen(request.headers);
    if (!agent || !host || host->empty() || !path || !headers) {
        return response;
    }
    // request.caFile is not used: WinHTTP verifies the server against the system's
    // certificate store only and has no way to trust a file of certificates instead.
    const Internet session(::WinHttpOpen(agent->c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                         WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session ||
        !::WinHttpSetTimeouts(session.get(), request.resolveTimeoutMs, request.connectTimeoutMs,
                              request.sendTimeoutMs, request.receiveTimeoutMs)) {
        return response;
    }
    const Internet connection(::WinHttpConnect(session.get(), host->c_str(),
                                               static_cast<INTERNET_PORT>(request.port), 0));
    if (!connection) {
        return response;
    }
    const Internet get(::WinHttpOpenRequest(connection.get(), L"GET", path->c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            WINHTTP_FLAG_SECURE));
    if (!get) {
        return response;
    }
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    if (!::WinHttpSetOption(get.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects,
                            sizeof noRedirects)) {
        return response;
    }
    const bool sent =
        headers->empty()
            ? ::WinHttpSendRequest(get.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                   WINHTTP_NO_REQUEST_DATA, 0, 0, 0)
            : ::WinHttpSendRequest(get.get(), headers->c_str(), static_cast<DWORD>(headers->size()),
                                   WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
    if (!sent || !::WinHttpReceiveResponse(get.get(), nullptr)) {
        return response;
    }
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (!::WinHttpQueryHeaders(get.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize,
                               WINHTTP_NO_HEADER_INDEX)) {
        return response;
    }
    std::string body;
    if (!readBody(get.get(), request.maxBodyBytes, body)) {
        return response;
    }
    response.completed = true;
    response.status = static_cast<int>(status);
    response.body = std::move(body);
    return response;
}

}  // namespace vd::platform
