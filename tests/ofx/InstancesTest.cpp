// The instance list and the edit guard, which later handlers build on.
#include <gtest/gtest.h>

#include <thread>

#include "ofx/Plugin.h"

namespace {

OfxImageEffectHandle fakeInstance(int n) {
    static char storage[8];
    return reinterpret_cast<OfxImageEffectHandle>(&storage[n]);
}

TEST(InstanceList, KeepsOneEntryPerHandleAndRemovesOnlyThatHandle) {
    const auto a = fakeInstance(0);
    const auto b = fakeInstance(1);
    vd::addInstance(a);
    vd::addInstance(a);
    vd::addInstance(b);
    vd::addInstance(nullptr);
    EXPECT_EQ(vd::instanceEntries(a), 1U);
    EXPECT_EQ(vd::instanceEntries(nullptr), 0U);
    EXPECT_EQ(vd::lastShownGeneration(a), 0U);

    vd::setLastShownGeneration(b, 7);
    vd::setLastShownGeneration(fakeInstance(2), 9);  // not listed: nothing happens
    EXPECT_EQ(vd::lastShownGeneration(b), 7U);
    EXPECT_FALSE(vd::lastShownGeneration(fakeInstance(2)).has_value());

    vd::removeInstance(a);
    vd::removeInstance(fakeInstance(3));  // unknown handle: no effect
    EXPECT_EQ(vd::instanceEntries(a), 0U);
    EXPECT_EQ(vd::lastShownGeneration(b), 7U);
    vd::removeInstance(b);
    EXPECT_FALSE(vd::lastShownGeneration(b).has_value());
}

TEST(EditGuard, NestedGuardOfTheSameInstanceIsReenteredAndLeavesTheSlotToTheOuterOne) {
    const auto a = fakeInstance(4);
    {
        vd::EditGuard outer(a);
        EXPECT_FALSE(outer.reentered());
        EXPECT_EQ(vd::editedInstance(), a);
        {
            vd::EditGuard inner(a);
            EXPECT_TRUE(inner.reentered());
        }
        EXPECT_EQ(vd::editedInstance(), a);
    }
    EXPECT_EQ(vd::editedInstance(), nullptr);
}

TEST(EditGuard, SlotBelongsToTheThreadAndIsNotClearedWhenTakenOver) {
    const auto a = fakeInstance(5);
    const auto b = fakeInstance(6);
    vd::EditGuard outer(a);
    OfxImageEffectHandle seenElsewhere = a;
    std::thread([&] { seenElsewhere = vd::editedInstance(); }).join();
    EXPECT_EQ(seenElsewhere, nullptr);
    {
        vd::EditGuard other(b);  // an edit of another instance takes the slot over
        EXPECT_FALSE(other.reentered());
        EXPECT_EQ(vd::editedInstance(), b);
    }
    // The inner guard cleared its own claim; the outer one no longer holds the slot and
    // must not clear what is not its own.
    EXPECT_EQ(vd::editedInstance(), nullptr);
}

}  // namespace
