// The weekly background check that asks the maker's update service for the newest version.
//
// Owns: startUpdateCheck with its seven-day rule and its single detached thread, the
// service's request (address, headers, time-outs), reading its answer, the test hook that
// points the check elsewhere.
// Does not own: the HTTPS client (platform::httpsGet), the state file and the notice shown
// from it (UpdateState.h), the panel refresh that the moved status generation drives.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Platform.h"
#include "update/UpdateState.h"

namespace vd {

inline constexpr std::int64_t kUpdateCheckInterval = 7 * 24 * 60 * 60;  // seconds
inline constexpr const char* kUpdatePlatform = "win";
// Real answers are a few hundred bytes.
inline constexpr std::size_t kMaxUpdateAnswerBytes = 1 << 20;

// Unless forced, does nothing when the last check is less than seven days old. Otherwise
// starts one detached thread that asks the service, rewrites the state file and then moves
// the status generation; does nothing when a check is already running, or when the module
// could not be kept loaded for the thread. Throws std::system_error when no thread starts.
void startUpdateCheck(bool forced);

// Where the service is asked and how patiently: the base address (built in, see
// VD_UPDATE_SERVICE), the time scale (20: the per-phase time-outs below), and a PEM file of
// certificates trusted instead of the system's (tests only).
struct UpdateService {
    std::string baseAddress;
    int timeScale = 20;
    std::string caFile;
};

// Test hook: replaces the built-in service for this process (nothing: back to the built-in
// one). An empty base address turns the check off. The plug-in sets it only from a host
// property in its own namespace that no real host defines ("VandrelHuebenchTestUpdateService",
// set by the project's test host), so a user cannot reach it by accident: neither a setting,
// nor an environment variable, nor a file.
void overrideUpdateService(std::optional<UpdateService> service);

// The request for base + "/latest?platform=" + kUpdatePlatform: nothing unless the address
// is "https://" with a host, an optional port (443 when none) and a path; credentials,
// fragments, spaces and control bytes are refused. Time-outs are the scale (not above 0:
// 20) times 125, 375, 125 and 375 ms for resolution, connection, sending and receiving.
std::optional<platform::HttpsRequest> updateRequest(const UpdateService& service);

// The string value of "key" in an answer, read as the service's simple clients read it:
// after the first quoted key, the first ":", then the first '"'; the value runs to the next
// unescaped '"', a backslash standing for the byte after it. Empty when any part is missing.
std::string answerValue(std::string_view body, std::string_view key);

// The state after one attempt: a 2xx answer replaces the stored version and address (or
// clears both when the answer names no newer version with an address); any other outcome
// keeps them. The check time becomes now in every case.
UpdateState stateAfterCheck(UpdateState stored, const platform::HttpsResponse& response,
                            std::int64_t now);

}  // namespace vd
