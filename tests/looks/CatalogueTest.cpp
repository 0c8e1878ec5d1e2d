#include "looks/Catalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace vd {
namespace {

TEST(CatalogueTest, PacksHaveTheirLabelsParametersAndEncodings) {
    ASSERT_EQ(packCount(), 6);
    const char* labels[] = {"Choose a Pack", "iPhone Apple Log", "iPhone Cinematic",
                            "Osmo D-Log M",  "Osmo D-Log",       "Drone D-Log"};
    const char* params[] = {"lutAuto",  "lutAppleLog", "lutIphoneNormal",
                            "lutDLogM", "lutDLog",     "lutDjiDrone"};
    const int encodings[] = {1, 0, 1, 2, 2, 2};
    const int options[] = {1, 19, 11, 11, 11, 11};
    for (int p = 0; p < 6; ++p) {
        EXPECT_EQ(packLabel(p), labels[p]);
        EXPECT_EQ(packLutParam(p), params[p]);
        EXPECT_EQ(packEncoding(p), encodings[p]);
        EXPECT_EQ(lookOptionCount(p), options[p]);
        EXPECT_EQ(packEntry(p)->index, p);
    }
    EXPECT_STREQ(packEntry(4)->noteParam, "dlog2Note");
    EXPECT_STREQ(packEntry(1)->note, "Also works with Apple Log 2.");
}

TEST(CatalogueTest, OutOfRangePacksAreHarmless) {
    EXPECT_EQ(packLabel(6), "");
    EXPECT_EQ(packLabel(-1), "");
    EXPECT_EQ(packLutParam(-1), "");
    EXPECT_EQ(packEncoding(6), 1);
    EXPECT_EQ(lookOptionCount(7), 1);
    EXPECT_EQ(lookOptionCount(-1), 1);
    EXPECT_EQ(packEntry(6), nullptr);
    EXPECT_EQ(lookOptionLabel(9, 1), "None");
    EXPECT_EQ(lookFileName(58), "");
    EXPECT_EQ(lookFileName(-1), "");
}

TEST(CatalogueTest, LookRowsStandInTheirFixedOrder) {
    ASSERT_EQ(lookCount(), 58);
    EXPECT_STREQ(lookEntry(0)->id, "iphone-apple-log-01");
    EXPECT_STREQ(lookEntry(1)->id, "osmo-d-log-m-01");
    EXPECT_STREQ(lookEntry(2)->id, "iphone-apple-log-02");
    EXPECT_STREQ(lookEntry(18)->id, "iphone-apple-log-18");
    EXPECT_STREQ(lookEntry(19)->id, "osmo-d-log-m-02");
    EXPECT_STREQ(lookEntry(27)->id, "osmo-d-log-m-10");
    EXPECT_STREQ(lookEntry(28)->id, "osmo-d-log-01");
    EXPECT_STREQ(lookEntry(37)->id, "osmo-d-log-10");
    EXPECT_STREQ(lookEntry(38)->id, "iphone-cinematic-01");
    EXPECT_STREQ(lookEntry(47)->id, "iphone-cinematic-10");
    EXPECT_STREQ(lookEntry(48)->id, "dji-drone-01");
    EXPECT_STREQ(lookEntry(57)->id, "dji-drone-10");
    EXPECT_EQ(lookFileName(0), "iphone-apple-log-01.vdlk");
    EXPECT_STREQ(lookEntry(57)->label, "Drone D-Log 10");
    EXPECT_EQ(lookEntry(57)->number, 10);

    // Every (pack, number) pair is unique, and ids, labels and files follow one rule.
    std::set<std::pair<int, int>> seen;
    for (int i = 0; i < lookCount(); ++i) {
        const LookEntry* look = lookEntry(i);
        EXPECT_TRUE(seen.insert({look->pack, look->number}).second) << look->id;
        EXPECT_EQ(std::string(look->file), std::string(look->id) + ".vdlk");
        std::string nn = std::to_string(look->number);
        if (nn.size() < 2) {
            nn.insert(nn.begin(), '0');
        }
        EXPECT_EQ(std::string(look->label), packLabel(look->pack) + " " + nn);
        EXPECT_TRUE(std::string(look->id).ends_with("-" + nn));
    }
}

TEST(CatalogueTest, OptionsMapToLooksByNumberNotByRow) {
    EXPECT_EQ(lookOptionLabel(1, 0), "None");
    EXPECT_EQ(lookOptionLabel(1, 18), "iPhone Apple Log 18");
    EXPECT_EQ(lookOptionLabel(1, 19), "None");
    EXPECT_EQ(lookOptionLabel(2, 11), "None");
    EXPECT_EQ(findLook(3, 1), 1);
    EXPECT_EQ(findLook(1, 2), 2);
    EXPECT_EQ(findLook(5, 10), 57);
    for (int option = -1; option < 3; ++option) {
        EXPECT_EQ(findLook(0, option), std::nullopt);
    }
    EXPECT_EQ(lookOptionLabel(0, 0), "None");
    EXPECT_EQ(findLook(1, 0), std::nullopt);
}

}  // namespace
}  // namespace vd
