#include "update/UpdateState.h"

#include <atomic>

#include "json/Json.h"
#include "platform/Platform.h"
#include "support/Support.h"

namespace vd {

namespace {

// The state file is a few hundred bytes; anything much larger is not ours.
constexpr std::uint64_t kMaxStateBytes = 65536;

std::atomic<std::uint64_t> gStatusGeneration{0};

std::int64_t toSeconds(double x) {
    if (!(x > -9.2e18 && x < 9.2e18)) {
        return 0;
    }
    return static_cast<std::int64_t>(x);
}

// Reads the decimal digits at pos; saturates instead of overflowing on absurd lengths.
std::int32_t readComponent(std::string_view text, std::size_t& pos) {
    std::int64_t value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + (text[pos] - '0');
        if (value > INT32_MAX) {
            value = INT32_MAX;
        }
        ++pos;
    }
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace

std::string updateStatePath() {
    return supportFilePath(kUpdateStateFileName);
}

std::string formatUpdateStateText(const UpdateState& state) {
    std::string out = "{\n  \"updateVersion\": ";
    appendJsonString(out, state.updateVersion);
    out += ",\n  \"updateUrl\": ";
    appendJsonString(out, state.updateUrl);
    out += ",\n  \"lastUpdateCheck\": ";
    out += std::to_string(state.lastUpdateCheck);
    out += "\n}\n";
    return out;
}

std::optional<UpdateState> parseUpdateStateText(std::string_view text) {
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    UpdateState state;
    JsonReader r{text};
    readJsonObject(r, [&](const std::string& key) {
        if (key == "updateVersion") {
            readJsonString(r, state.updateVersion);
        } else if (key == "updateUrl") {
            readJsonString(r, state.updateUrl);
        } else if (key == "lastUpdateCheck") {
            state.lastUpdateCheck = toSeconds(readJsonNumber(r));
        } else {
            skipJsonValue(r);
        }
    });
    if (!finishJsonText(r)) {
        return std::nullopt;
    }
    return state;
}

std::optional<UpdateState> loadUpdateState() {
    const std::string path = updateStatePath();
    if (path.empty()) {
        return std::nullopt;
    }
    std::string text;
    if (platform::readWholeFile(path, kMaxStateBytes, text) != platform::ReadResult::ok) {
        return std::nullopt;
    }
    return parseUpdateStateText(text);
}

bool saveUpdateState(const UpdateState& state) {
    return writeFileAtomically(updateStatePath(), formatUpdateStateText(state));
}

UpdateNotice updateNoticeState() {
    UpdateNotice notice;
    const std::optional<UpdateState> state = loadUpdateState();
    if (state && !state->updateVersion.empty() && !state->updateUrl.empty() &&
        isNewerVersion(state->updateVersion, kPluginVersion)) {
        notice.newer = true;
        notice.message = "Update available: v" + state->updateVersion;
        notice.url = state->updateUrl;
    }
    return notice;
}

std::uint64_t statusGeneration() {
    return gStatusGeneration.load(std::memory_order_acquire);
}

void advanceStatusGeneration() {
    gStatusGeneration.fetch_add(1, std::memory_order_acq_rel);
}

bool isNewerVersion(std::string_view a, std::string_view b) {
    std::size_t pa = (!a.empty() && (a[0] == 'v' || a[0] == 'V')) ? 1 : 0;
    std::size_t pb = (!b.empty() && (b[0] == 'v' || b[0] == 'V')) ? 1 : 0;
    for (int i = 0; i < 3; ++i) {
        const std::int32_t ca = readComponent(a, pa);
        const std::int32_t cb = readComponent(b, pb);
        if (ca != cb) {
            return ca > cb;
        }
    }
    return false;
}

}  // namespace vd
