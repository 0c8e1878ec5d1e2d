// What the plug-in knows about newer versions: the update state file in the support
// directory, and the notice the status panel shows from it.
//
// Owns: `UpdateState`, its file name and JSON layout, updateNoticeState, isNewerVersion, and
// the process-wide status generation that tells instances their notice may be stale.
// Does not own: the background check that asks the maker's service and rewrites the file,
// nor the panel's controls (the plug-in's instance-change handling).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Version.h"

namespace vd {

inline constexpr const char* kPluginVersion = kVersion;
inline constexpr const char* kUpdateStateFileName = "UpdateState.json";

struct UpdateState {
    std::string updateVersion;         // newest version the service reported; empty: none
    std::string updateUrl;             // its download page; empty: none
    std::int64_t lastUpdateCheck = 0;  // seconds since the Unix epoch; 0: never
};

// kUpdateStateFileName in the support directory; empty when there is no location.
std::string updateStatePath();

// The file's text: one object with the three keys above, and its reader. The reader
// takes the keys it knows, skips others, and fails on text that is not JSON.
std::string formatUpdateStateText(const UpdateState& state);
std::optional<UpdateState> parseUpdateStateText(std::string_view text);

// The state as stored; nothing when the file is missing or unreadable.
std::optional<UpdateState> loadUpdateState();
// Replaces the file through a ".tmp" sibling. False when it could not be written.
bool saveUpdateState(const UpdateState& state);

struct UpdateNotice {
    bool newer = false;
    std::string message;  // "Update available: v" and the version, when newer
    std::string url;
};
UpdateNotice updateNoticeState();

// Compares the first three dot-separated numbers of two versions ("v" prefix allowed);
// true when a is the greater.
bool isNewerVersion(std::string_view a, std::string_view b);

// A process-wide counter, 0 at load, moved after every update check so that each instance
// refreshes its notice at its next stale check.
std::uint64_t statusGeneration();
void advanceStatusGeneration();

}  // namespace vd
