#include "looks/Catalogue.h"

#include <array>

namespace vd {
namespace {

constexpr std::array<PackEntry, 6> kPacks{{
    {0, "auto", "Choose a Pack", "lutAuto", CameraEncoding::Rec709, "", ""},
    {1, "apple_log", "iPhone Apple Log", "lutAppleLog", CameraEncoding::AppleLog,
     "Also works with Apple Log 2.", "appleLog2Note"},
    {2, "iphone_standard", "iPhone Cinematic", "lutIphoneNormal", CameraEncoding::Rec709, "", ""},
    {3, "osmo_dlogm", "Osmo D-Log M", "lutDLogM", CameraEncoding::DLog, "", ""},
    {4, "osmo_dlog", "Osmo D-Log", "lutDLog", CameraEncoding::DLog, "Also works with D-Log 2.",
     "dlog2Note"},
    {5, "dji_drone", "Drone D-Log", "lutDjiDrone", CameraEncoding::DLog, "Also works with D-Log 2.",
     "dlog2Note"},
}};

#define VD_LOOK(stem, label, pack, nn) \
    { stem "-" #nn, label " " #nn, pack, 1##nn - 100, stem "-" #nn ".vdlk" }

// Row order is the look-table index used by the LUT store's cache; menus go by number.
constexpr std::array<LookEntry, 58> kLooks{{
    VD_LOOK("iphone-apple-log", "iPhone Apple Log", 1, 01),
    VD_LOOK("osmo-d-log-m", "Osmo D-Log M", 3, 01),
    VD_LOOK("iphone-apple-log", "iPhone Apple Log", 1, 02),
    VD_LOOK("iphone-apple-log", "iPhone Apple Log", 1, 03),
    VD_LOOK("iphone-apple-log", "iPhone Apple Log", 1, 04),
    VD_LOOK("iphone-apple-log", "iPhone Apple Log", 1, 05),
    VD_LOOK("iphone-apple-log", "iPhone Apple Log", 1, 06),
    VD_LOOK("iphone-apple-log", "iPhone Apple Log", 1, 07),
    VD_LOOK("iphone-apple-log", "iPhone Apple Log", 1, 08),
    VD_LOOK("iphone-apple-log", "iPhone Apple Log", 1, 09),
    VD_LOOK("iphone-apple-log", "iPhone Apple Log", 1, 10),
    VD_LOOK("iphone-apple-log", "iPhone Apple Log", 1, 11),
    VD_LOOK("iphone-apple-log", "iPhone Apple Log", 1, 12),
    VD_LOOK("iphone-apple-log", "iPhone Apple Log", 1, 13),
    VD_LOOK("iphone-apple-log", "iPhone Apple Log", 1, 14),
    VD_LOOK("iphone-apple-log", "iPhone Apple Log", 1, 15),
    VD_LOOK("iphone-apple-log", "iPhone Apple Log", 1, 16),
    VD_LOOK("iphone-apple-log", "iPhone Apple Log", 1, 17),
    VD_LOOK("iphone-apple-log", "iPhone Apple Log", 1, 18),
    VD_LOOK("osmo-d-log-m", "Osmo D-Log M", 3, 02),
    VD_LOOK("osmo-d-log-m", "Osmo D-Log M", 3, 03),
    VD_LOOK("osmo-d-log-m", "Osmo D-Log M", 3, 04),
    VD_LOOK("osmo-d-log-m", "Osmo D-Log M", 3, 05),
    VD_LOOK("osmo-d-log-m", "Osmo D-Log M", 3, 06),
    VD_LOOK("osmo-d-log-m", "Osmo D-Log M", 3, 07),
    VD_LOOK("osmo-d-log-m", "Osmo D-Log M", 3, 08),
    VD_LOOK("osmo-d-log-m", "Osmo D-Log M", 3, 09),
    VD_LOOK("osmo-d-log-m", "Osmo D-Log M", 3, 10),
    VD_LOOK("osmo-d-log", "Osmo D-Log", 4, 01),
    VD_LOOK("osmo-d-log", "Osmo D-Log", 4, 02),
    VD_LOOK("osmo-d-log", "Osmo D-Log", 4, 03),
    VD_LOOK("osmo-d-log", "Osmo D-Log", 4, 04),
    VD_LOOK("osmo-d-log", "Osmo D-Log", 4, 05),
    VD_LOOK("osmo-d-log", "Osmo D-Log", 4, 06),
    VD_LOOK("osmo-d-log", "Osmo D-Log", 4, 07),
    VD_LOOK("osmo-d-log", "Osmo D-Log", 4, 08),
    VD_LOOK("osmo-d-log", "Osmo D-Log", 4, 09),
    VD_LOOK("osmo-d-log", "Osmo D-Log", 4, 10),
    VD_LOOK("iphone-cinematic", "iPhone Cinematic", 2, 01),
    VD_LOOK("iphone-cinematic", "iPhone Cinematic", 2, 02),
    VD_LOOK("iphone-cinematic", "iPhone Cinematic", 2, 03),
    VD_LOOK("iphone-cinematic", "iPhone Cinematic", 2, 04),
    VD_LOOK("iphone-cinematic", "iPhone Cinematic", 2, 05),
    VD_LOOK("iphone-cinematic", "iPhone Cinematic", 2, 06),
    VD_LOOK("iphone-cinematic", "iPhone Cinematic", 2, 07),
    VD_LOOK("iphone-cinematic", "iPhone Cinematic", 2, 08),
    VD_LOOK("iphone-cinematic", "iPhone Cinematic", 2, 09),
    VD_LOOK("iphone-cinematic", "iPhone Cinematic", 2, 10),
    VD_LOOK("dji-drone", "Drone D-Log", 5, 01),
    VD_LOOK("dji-drone", "Drone D-Log", 5, 02),
    VD_LOOK("dji-drone", "Drone D-Log", 5, 03),
    VD_LOOK("dji-drone", "Drone D-Log", 5, 04),
    VD_LOOK("dji-drone", "Drone D-Log", 5, 05),
    VD_LOOK("dji-drone", "Drone D-Log", 5, 06),
    VD_LOOK("dji-drone", "Drone D-Log", 5, 07),
    VD_LOOK("dji-drone", "Drone D-Log", 5, 08),
    VD_LOOK("dji-drone", "Drone D-Log", 5, 09),
    VD_LOOK("dji-drone", "Drone D-Log", 5, 10),
}};

#undef VD_LOOK

// Shared by lookOptionLabel and findLook: the first row with this pack and number.
std::optional<int> lookupLook(int pack, int option) {
    if (option < 1 || pack == 0) {
        return std::nullopt;
    }
    for (int i = 0; i < static_cast<int>(kLooks.size()); ++i) {
        if (kLooks[i].pack == pack && kLooks[i].number == option) {
            return i;
        }
    }
    return std::nullopt;
}

}  // namespace

int packCount() {
    return static_cast<int>(kPacks.size());
}
int lookCount() {
    return static_cast<int>(kLooks.size());
}

const PackEntry* packEntry(int pack) {
    return pack >= 0 && pack < packCount() ? &kPacks[pack] : nullptr;
}

const LookEntry* lookEntry(int index) {
    return index >= 0 && index < lookCount() ? &kLooks[index] : nullptr;
}

std::string packLabel(int pack) {
    const PackEntry* p = packEntry(pack);
    return p ? p->label : "";
}

std::string packLutParam(int pack) {
    const PackEntry* p = packEntry(pack);
    return p ? p->lutParam : "";
}

CameraEncoding packEncoding(int pack) {
    const PackEntry* p = packEntry(pack);
    return p ? p->encoding : CameraEncoding::Rec709;
}

int lookOptionCount(int pack) {
    if (pack == 0) {
        return 1;
    }
    // The count follows the highest option number, so a gap leaves "None" options.
    int highest = 0;
    for (const LookEntry& look : kLooks) {
        if (look.pack == pack && look.number > highest) {
            highest = look.number;
        }
    }
    return highest + 1;
}

std::string lookOptionLabel(int pack, int option) {
    const auto index = lookupLook(pack, option);
    return index ? kLooks[*index].label : "None";
}

std::optional<int> findLook(int pack, int option) {
    return lookupLook(pack, option);
}

std::string lookFileName(int index) {
    const LookEntry* look = lookEntry(index);
    return look ? look->file : "";
}

}  // namespace vd
