// The product's fixed texts, shared by describe and the parameter set.
#pragma once

#include "Version.h"

namespace vd {

inline constexpr const char* kProductName = "Vandrel Huebench";
inline constexpr const char* kVersionLabel = kVersion;
inline constexpr const char* kGrouping = "Vandrel";
inline constexpr const char* kIconFileName = "com.vandrel.Looks.png";
inline constexpr const char* kDescription =
    "Vandrel Huebench. Pick a pack, then a look. Exposure and white balance run before the "
    "look. Tone, grain, halation, bloom, and vignette run after it. Borders sit on top of that "
    "grade.";

}  // namespace vd
