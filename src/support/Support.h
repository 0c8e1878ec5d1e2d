// The per-user support directory, the plain debug log in it, and the careful file writes
// that every file there goes through.
//
// Owns: supportDirectory, supportFilePath, debugLogPath, debugLog and its log-once filter,
// writeFileAtomically, moveFileAside.
// Does not own: what the files hold (mylooks/Store.h, update/UpdateState.h) or how files are
// opened (platform/Platform.h).
// Nothing here keeps state except the log-once filter's last message; the environment is
// read afresh on every call. Every failure is silent.
#pragma once

#include <string>
#include <string_view>

namespace vd {

// VD_SUPPORT_DIR as it is; else APPDATA with "Vandrel" joined on; else, where the platform
// has one, the per-user data directory with "Vandrel" joined on. Empty when none of these
// gives a location.
std::string supportDirectory();

// name in the support directory; empty when there is no support directory.
std::string supportFilePath(std::string_view name);

// VD_DEBUG_LOG when set and not empty, else "debug.log" in the support directory.
std::string debugLogPath();

// Appends the message and a line feed to the debug log, creating missing directories.
// Empty messages and an empty log path write nothing.
void debugLog(std::string_view message);

// debugLog, except that a message equal to the last one that passed this filter is
// dropped (so a mode line is written once per process and again when the mode changes).
void debugLogOnce(std::string_view message);

// Writes text to a ".tmp" sibling, flushes it to disk and renames it over path, then
// flushes the directory: a crash leaves the old file or the new one, never a mix. Creates
// missing parent directories. False when the file could not be written; the previous
// file is then left as it was. Throws std::filesystem::filesystem_error ("remove") only
// when a failed write leaves a temporary file that cannot be deleted.
bool writeFileAtomically(const std::string& path, std::string_view text);

// Renames a damaged file to the first free name of path + ".bak", ".bak2" ... ".bak49"
// (".bak" again when all are taken). True when the file was moved.
bool moveFileAside(const std::string& path);

}  // namespace vd
