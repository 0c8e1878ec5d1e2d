// The property rules a plug-in meets in the test host: types, indexes, dimensions, resets.
#include <gtest/gtest.h>

#include "PropertySet.h"

namespace vd::testhost {
namespace {

TEST(PropertySet, GetsReturnTheStatusOfARealHostForMissingMistypedAndOutOfRangeReads) {
    PropertySet set;
    set.defineInt("count", {1, 2});
    int i = 0;
    double d = 0;
    char* s = nullptr;
    EXPECT_EQ(set.getInt("count", 1, &i), kOfxStatOK);
    EXPECT_EQ(i, 2);
    EXPECT_EQ(set.getInt("missing", 0, &i), kOfxStatErrUnknown);
    EXPECT_EQ(set.getDouble("count", 0, &d), kOfxStatErrValue);
    EXPECT_EQ(set.getString("count", 0, &s), kOfxStatErrValue);
    EXPECT_EQ(set.getInt("count", 2, &i), kOfxStatErrBadIndex);
    EXPECT_EQ(set.getInt("count", -1, &i), kOfxStatErrBadIndex);
    int two[2] = {};
    EXPECT_EQ(set.getIntN("count", 2, two), kOfxStatOK);
    EXPECT_EQ(two[1], 2);
    int three[3] = {};
    EXPECT_EQ(set.getIntN("count", 3, three), kOfxStatErrBadIndex);
}

TEST(PropertySet, SetsKeepTheTypeAppendOnlyAtTheEndAndRespectFixedDimensions) {
    PropertySet set;
    set.defineDouble("scale", {1.0, 1.0}, 2);
    set.defineString("list", {});
    EXPECT_EQ(set.setInt("scale", 0, 3), kOfxStatErrValue);
    EXPECT_EQ(set.setDouble("scale", 2, 3.0), kOfxStatErrBadIndex);
    EXPECT_EQ(set.setDouble("scale", 1, 0.5), kOfxStatOK);
    EXPECT_EQ(set.real("scale", 1), 0.5);

    EXPECT_EQ(set.setString("list", 1, "b"), kOfxStatErrBadIndex);  // a gap
    EXPECT_EQ(set.setString("list", 0, "a"), kOfxStatOK);
    EXPECT_EQ(set.setString("list", 1, "b"), kOfxStatOK);
    EXPECT_EQ(set.strings("list"), (std::vector<std::string>{"a", "b"}));
    const char* one[] = {"only"};
    EXPECT_EQ(set.setStringN("list", 1, one), kOfxStatOK);
    EXPECT_EQ(set.strings("list"), (std::vector<std::string>{"only"}));

    // Properties the host did not define are accepted with the setter's type.
    EXPECT_EQ(set.setString("OfxSomethingNew", 0, "x"), kOfxStatOK);
    EXPECT_EQ(set.type("OfxSomethingNew"), PropType::string);
    EXPECT_TRUE(set.writtenByPlugin("OfxSomethingNew"));
    EXPECT_FALSE(set.writtenByPlugin("count"));
}

TEST(PropertySet, ResetRestoresTheHostDefaultAndDimensionCountsValues) {
    PropertySet set;
    set.defineString("labels", {"a", "b", "c"});
    const char* two[] = {"x", "y"};
    ASSERT_EQ(set.setStringN("labels", 2, two), kOfxStatOK);
    int count = 0;
    EXPECT_EQ(set.getDimension("labels", &count), kOfxStatOK);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(set.reset("labels"), kOfxStatOK);
    EXPECT_EQ(set.strings("labels"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(set.getDimension("nothing", &count), kOfxStatErrUnknown);
    EXPECT_EQ(set.reset("nothing"), kOfxStatErrUnknown);
}

TEST(PropertySet, ALockedDimensionRefusesANewCountButTakesNewValuesInPlace) {
    PropertySet set;
    set.defineString("options", {"a", "b", "c"});
    set.lockDimension("options");
    const char* five[] = {"1", "2", "3", "4", "5"};
    const char* three[] = {"x", "y", "z"};
    EXPECT_EQ(set.setStringN("options", 5, five), kOfxStatErrValue);
    EXPECT_EQ(set.setStringN("options", 1, three), kOfxStatErrValue);
    EXPECT_EQ(set.setString("options", 3, "d"), kOfxStatErrBadIndex);
    EXPECT_EQ(set.setStringN("options", 3, three), kOfxStatOK);
    EXPECT_EQ(set.setString("options", 0, "first"), kOfxStatOK);
    EXPECT_EQ(set.strings("options"), (std::vector<std::string>{"first", "y", "z"}));
}

TEST(PropertySet, OnlyHandlesOfLiveSetsAreKnown) {
    PropertySet set;
    int notASet = 0;
    EXPECT_EQ(PropertySet::fromHandle(set.handle()), &set);
    EXPECT_EQ(PropertySet::fromHandle(reinterpret_cast<OfxPropertySetHandle>(&notASet)), nullptr);
    EXPECT_EQ(PropertySet::fromHandle(nullptr), nullptr);
}

}  // namespace
}  // namespace vd::testhost
