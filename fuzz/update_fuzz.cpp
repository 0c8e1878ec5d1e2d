// Feeds arbitrary bytes to the reader of the update service's answers, as the body of a
// 200 answer. What it keeps must be a newer version with an address, no longer than the
// body, and must survive the trip through the state file unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "update/UpdateCheck.h"
#include "update/UpdateState.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vd::platform::HttpsResponse response;
    response.completed = true;
    response.status = 200;
    response.body.assign(reinterpret_cast<const char*>(data), size);
    const vd::UpdateState after =
        vd::stateAfterCheck(vd::UpdateState{"9.9.9", "https://d.test/", 1}, response, 2);
    if (after.lastUpdateCheck != 2 || after.updateVersion.size() >= size + 1 ||
        after.updateUrl.size() >= size + 1) {
        std::abort();
    }
    if (!after.updateVersion.empty() &&
        (after.updateUrl.empty() || !vd::isNewerVersion(after.updateVersion, vd::kPluginVersion))) {
        std::abort();
    }
    const std::optional<vd::UpdateState> back =
        vd::parseUpdateStateText(vd::formatUpdateStateText(after));
    if (!back || back->updateVersion != after.updateVersion || back->updateUrl != after.updateUrl ||
        back->lastUpdateCheck != 2) {
        std::abort();
    }
    return 0;
}
