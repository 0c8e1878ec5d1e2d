// The compiled-in catalogue of camera packs and their looks.
//
// Owns: the six packs (labels, look-menu parameter names, camera encodings, notes) and
// the 58 looks (ids, menu labels, option numbers, look-file names), plus pure lookups.
// A look is named everywhere by (pack index 0..5, option number; 0 = "None"); these
// numbers are stored in host projects and My Looks, so they never change.
// Does not own: the look files themselves (LookFile.h) or finding them (LutStore.h).
#pragma once

#include <optional>
#include <string>

#include "grade/CameraEncoding.h"

namespace vd {

struct PackEntry {
    int index;
    const char* id;
    const char* label;
    const char* lutParam;
    CameraEncoding encoding;  // of the pack's footage
    const char* note;
    const char* noteParam;
};

struct LookEntry {
    const char* id;
    const char* label;
    int pack;
    int number;
    const char* file;
};

int packCount();  // 6
int lookCount();  // 58

// The pack's row, or null outside 0..5.
const PackEntry* packEntry(int pack);
// The look-table row for index 0..57, or null.
const LookEntry* lookEntry(int index);

// Empty text for a pack outside 0..5.
std::string packLabel(int pack);
std::string packLutParam(int pack);
// Rec.709 for a pack outside 0..5.
CameraEncoding packEncoding(int pack);

// Options of the pack's look menu, "None" included: 1 for pack 0 and unknown packs.
int lookOptionCount(int pack);
// "None" for option 0 and for options that match no look.
std::string lookOptionLabel(int pack, int option);
// Look-table index (0..57) of (pack, option), or nothing.
std::optional<int> findLook(int pack, int option);
// The look file's name for a look-table index, or empty text outside 0..57.
std::string lookFileName(int index);

}  // namespace vd
