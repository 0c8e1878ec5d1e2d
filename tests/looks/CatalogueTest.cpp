// The catalogue's rules. Labels, parameter names and menus are pinned by the describe output
// of the built plug-in, and each menu option's look file by rendering it (LooksThroughPlugin).
#include "looks/Catalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace vd {
namespace {

TEST(CatalogueTest, PacksGradeInTheirCamerasEncodings) {
    using enum CameraEncoding;
    const CameraEncoding encodings[] = {Rec709, AppleLog, Rec709, DLog, DLog, DLog};
    for (int p = 0; p < packCount(); ++p) {
        EXPECT_EQ(packEncoding(p), encodings[p]) << "pack " << p;
    }
}

TEST(CatalogueTest, OutOfRangePacksAndOptionsAreHarmless) {
    EXPECT_EQ(packLabel(6), "");
    EXPECT_EQ(packLabel(-1), "");
    EXPECT_EQ(packLutParam(-1), "");
    EXPECT_EQ(packEncoding(6), CameraEncoding::Rec709);
    EXPECT_EQ(lookOptionCount(7), 1);
    EXPECT_EQ(lookOptionCount(-1), 1);
    EXPECT_EQ(packEntry(6), nullptr);
    EXPECT_EQ(lookOptionLabel(9, 1), "None");
    EXPECT_EQ(lookOptionLabel(1, 19), "None");
    EXPECT_EQ(lookFileName(58), "");
    EXPECT_EQ(lookFileName(-1), "");
    for (int option = -1; option < 3; ++option) {
        EXPECT_EQ(findLook(0, option), std::nullopt);
    }
    EXPECT_EQ(findLook(1, 0), std::nullopt);
}

// Saved projects name a look by (pack, number); rows may stand in any order. (Labels are
// pinned by the describe output, each option's file by rendering it.)
TEST(CatalogueTest, EveryLookHasAUniqueNumberInItsPack) {
    ASSERT_EQ(lookCount(), 58);
    std::set<std::pair<int, int>> seen;
    for (int i = 0; i < lookCount(); ++i) {
        const LookEntry* look = lookEntry(i);
        EXPECT_TRUE(seen.insert({look->pack, look->number}).second) << look->id;
        EXPECT_EQ(findLook(look->pack, look->number), i);
    }
}

}  // namespace
}  // namespace vd
