// The process-wide store of decoded looks: finds the looks directory once per process,
// reads and decodes a look file the first time it is asked for, keeps the eight most
// recently used looks (and failed loads, so a broken file is not re-read every frame), and
// hands renders the decoded look itself, read-only and shared (getSharedLook), or a copy
// of its samples (getLookLut).
//
// Owns: the looks-directory search, the cache and its lock. It is the only reader of look
// files. Does not own: the catalogue (Catalogue.h) or the file format (LookFile.h).
// Every function is safe to call from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "looks/LutCube.h"

namespace vd {

// Runs the looks-directory search if no call has run it yet in this process.
void initLutStore();

// The samples (edge^3 * 3 floats, red fastest) and edge of look (pack, option).
// True with edge 0: no look was asked for (option below 1, pack 0, or an option that no look
// carries). True with edge > 0: the look. False: the look could not be loaded (no looks
// directory, missing, unreadable or rejected file); samples are then empty and edge 0.
// Only std::bad_alloc can escape, after the lock is released. On false, a non-null reason
// receives why, as the store found it when it tried the file: the look's file name, then
// that no looks directory was found, that the file is missing from the directory, or that
// it is unreadable or damaged.
bool getLookLut(int pack, int option, std::vector<float>& samples, std::uint32_t& edge,
                std::string* reason = nullptr);

// A decoded look as renders read it: the cube as decoded and the same entries packed 4
// floats each (the fourth 0) for the CPU engine. Made once per load and never changed; a
// holder keeps it alive after the store has dropped it.
struct SharedLook {
    LutCube cube;
    std::vector<float> packed;
};

// getLookLut without the copy: look is null where getLookLut gives edge 0 (also on false).
bool getSharedLook(int pack, int option, std::shared_ptr<const SharedLook>& look,
                   std::string* reason = nullptr);

// The first of these that holds the probe file "iphone-apple-log-01.vdlk" as a regular
// file: $VD_LOOKS_DIR when set and not empty, then the plug-in module's directory followed
// by "../Resources/looks", then by "Resources/looks". Empty when none does.
std::string resolveLooksDir();
// The same search with the environment value and module directory given (either may be
// empty, leaving its candidates out).
std::string resolveLooksDirFrom(const std::string& envValue, const std::string& moduleDir);

}  // namespace vd
