#include "update/UpdateCheck.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

#ifndef VD_UPDATE_SERVICE
#error "VD_UPDATE_SERVICE must be defined by the build"
#endif

namespace vd {

namespace {

constexpr const char* kUserAgent = "Vandrel Huebench";
constexpr const char* kAnswerHeaders = "Content-Type: application/json\r\n";
constexpr int kDefaultTimeScale = 20;

// Set while a check thread runs; keeps the check single per process.
std::atomic<bool> gCheckRunning{false};

std::mutex& serviceMutex() {
    static std::mutex m;
    return m;
}
std::optional<UpdateService>& serviceOverride() {
    static std::optional<UpdateService> service;
    return service;
}

UpdateService currentService() {
    std::lock_guard lock(serviceMutex());
    if (serviceOverride()) {
        return *serviceOverride();
    }
    return UpdateService{VD_UPDATE_SERVICE, kDefaultTimeScale, {}};
}

std::int64_t nowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The check thread runs this module's code after the host may have unloaded the plug-in,
// so the module is pinned first; a process where that fails gets no check at all.
bool keepModuleLoaded() {
    static std::atomic<bool> pinned{false};
    if (!pinned.load(std::memory_order_acquire) && platform::pinOwnModule()) {
        pinned.store(true, std::memory_order_release);
    }
    return pinned.load(std::memory_order_acquire);
}

bool refusedByte(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || u == 0x7f;
}

void runCheck(const UpdateService& service) noexcept {
    try {
        platform::HttpsResponse response;
        if (const std::optional<platform::HttpsRequest> request = updateRequest(service)) {
            response = platform::httpsGet(*request);
        }
        const std::int64_t now = nowSeconds();
        UpdateState stored = loadUpdateState().value_or(UpdateState{});
        // A file that cannot be written stays as it was; nothing is shown to the user.
        (void)saveUpdateState(stateAfterCheck(std::move(stored), response, now));
    } catch (...) {
        // Out of memory or a temporary file that could not be removed: the attempt ends
        // like a failed request, and the flag and generation below still move.
    }
    gCheckRunning.store(false, std::memory_order_release);
    advanceStatusGeneration();
}

}  // namespace

void overrideUpdateService(std::optional<UpdateService> service) {
    std::lock_guard lock(serviceMutex());
    serviceOverride() = std::move(service);
}

void startUpdateCheck(bool forced) {
    UpdateService service = currentService();
    if (service.baseAddress.empty()) {
        return;
    }
    if (!forced) {
        const std::optional<UpdateState> state = loadUpdateState();
        if (state && state->lastUpdateCheck > 0 &&
            nowSeconds() - state->lastUpdateCheck < kUpdateCheckInterval) {
            return;
        }
    }
    bool idle = false;
    if (!gCheckRunning.compare_exchange_strong(idle, true, std::memory_order_acq_rel)) {
        return;
    }
    if (!keepModuleLoaded()) {
        gCheckRunning.store(false, std::memory_order_release);
        return;
    }
    try {
        std::thread([service = std::move(service)] { runCheck(service); }).detach();
    } catch (...) {
        gCheckRunning.store(false, std::memory_order_release);
        throw;
    }
}

std::optional<platform::HttpsRequest> updateRequest(const UpdateService& service) {
    constexpr std::string_view scheme = "https://";
    const std::string address =
        service.baseAddress + "/latest?platform=" + std::string(kUpdatePlatform);
    std::string_view rest = address;
    if (rest.substr(0, scheme.size()) != scheme) {
        return std::nullopt;
    }
    rest.remove_prefix(scheme.size());
    for (char c : rest) {
        if (refusedByte(c) || c == '#') {
            return std::nullopt;
        }
    }
    const std::size_t authorityEnd = std::min(rest.find_first_of("/?"), rest.size());
    std::string_view authority = rest.substr(0, authorityEnd);
    std::string_view path = rest.substr(authorityEnd);
    if (authority.find('@') != std::string_view::npos) {
        return std::nullopt;
    }

    platform::HttpsRequest request;
    std::string_view host = authority;
    std::string_view port;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        host = authority.substr(1, close - 1);
        std::string_view after = authority.substr(close + 1);
        if (!after.empty() && after.front() != ':') {
            return std::nullopt;
        }
        if (!after.empty()) {
            port = after.substr(1);
            if (port.empty()) {
                return std::nullopt;
            }
        }
    } else if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
        if (port.empty()) {
            return std::nullopt;
        }
    }
    if (host.empty() || (authority.front() != '[' && host.find(':') != std::string_view::npos)) {
        return std::nullopt;
    }
    if (!port.empty()) {
        long value = 0;
        for (char c : port) {
            if (c < '0' || c > '9' || value > 65535) {
                return std::nullopt;
            }
            value = value * 10 + (c - '0');
        }
        if (value < 1 || value > 65535) {
            return std::nullopt;
        }
        request.port = static_cast<int>(value);
    }
    request.host = std::string(host);
    if (path.empty() || path.front() != '/') {
        request.path.push_back('/');
    }
    request.path.append(path);
    request.userAgent = kUserAgent;
    request.headers = kAnswerHeaders;
    const int scale = service.timeScale > 0 ? service.timeScale : kDefaultTimeScale;
    request.resolveTimeoutMs = scale * 125;
    request.connectTimeoutMs = scale * 375;
    request.sendTimeoutMs = scale * 125;
    request.receiveTimeoutMs = scale * 375;
    request.maxBodyBytes = kMaxUpdateAnswerBytes;
    request.caFile = service.caFile;
    return request;
}

std::string answerValue(std::string_view body, std::string_view key) {
    std::string quoted = "\"";
    quoted.append(key).append("\"");
    const std::size_t at = body.find(quoted);
    if (at == std::string_view::npos) {
        return {};
    }
    const std::size_t colon = body.find(':', at + quoted.size());
    if (colon == std::string_view::npos) {
        return {};
    }
    const std::size_t open = body.find('"', colon + 1);
    if (open == std::string_view::npos) {
        return {};
    }
    std::string value;
    for (std::size_t i = open + 1; i < body.size(); ++i) {
        if (body[i] == '"') {
            return value;
        }
        if (body[i] == '\\') {
            if (++i == body.size()) {
                break;
            }
        }
        value.push_back(body[i]);
    }
    return {};  // no closing quote
}

UpdateState stateAfterCheck(UpdateState stored, const platform::HttpsResponse& response,
                            std::int64_t now) {
    if (response.completed && response.status >= 200 && response.status <= 299) {
        std::string version = answerValue(response.body, "version");
        std::string url = answerValue(response.body, "download_url");
        if (isNewerVersion(version, kPluginVersion) && !url.empty()) {
            stored.updateVersion = std::move(version);
            stored.updateUrl = std::move(url);
        } else {
            stored.updateVersion.clear();
            stored.updateUrl.clear();
        }
    }
    stored.lastUpdateCheck = now;
    return stored;
}

}  // namespace vd
