#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "core/hotkey/HotkeyLatch.h"

namespace sayloft {
namespace {

using Action = HotkeyLatch::Action;

struct Step {
    bool isDown;
    double now;
    Action expected;
    bool downAfter;
};

TEST(HotkeyLatch, UpdateFollowsTheStateTable) {
    // press, repeated down, release, stray up, press again
    const std::vector<Step> steps = {
        {false, 1.0, Action::none, false}, {true, 2.0, Action::press, true},
        {true, 3.0, Action::none, true},   {false, 4.0, Action::release, false},
        {false, 5.0, Action::none, false}, {true, 6.0, Action::press, true},
    };
    HotkeyLatch latch(90.0);
    for (const auto& step : steps) {
        EXPECT_EQ(latch.update(step.isDown, step.now), step.expected) << "at t=" << step.now;
        EXPECT_EQ(latch.isDown(), step.downAfter) << "at t=" << step.now;
    }
}

TEST(HotkeyLatch, RepeatedDownKeepsTheFirstPressTime) {
    HotkeyLatch latch(90.0);
    latch.update(true, 1000.0);
    latch.update(true, 1050.0);  // must not restart the hold
    EXPECT_EQ(latch.checkTimeout(1090.5), Action::timeout);
}

TEST(HotkeyLatch, TimeoutIsStrictlyLongerThanTheLimit) {
    HotkeyLatch latch(90.0);
    latch.update(true, 1000.0);
    EXPECT_EQ(latch.checkTimeout(1090.0), Action::none);
    EXPECT_TRUE(latch.isDown());
    EXPECT_EQ(latch.checkTimeout(1090.001), Action::timeout);
    EXPECT_FALSE(latch.isDown());
    EXPECT_EQ(latch.update(false, 1091.0), Action::none);  // the late key-up is ignored
    EXPECT_EQ(latch.checkTimeout(5000.0), Action::none);
}

TEST(HotkeyLatch, AClockSetBackNeverTimesOut) {
    HotkeyLatch latch(90.0);
    latch.update(true, 1000.0);
    EXPECT_EQ(latch.checkTimeout(10.0), Action::none);
    EXPECT_EQ(latch.checkTimeout(std::nan("")), Action::none);
    EXPECT_TRUE(latch.isDown());
    EXPECT_EQ(latch.forceRelease(), Action::timeout);
}

TEST(HotkeyLatch, ForceReleaseReportsAnAbortOnlyWhenHeld) {
    HotkeyLatch latch(90.0);
    EXPECT_EQ(latch.forceRelease(), Action::none);
    latch.update(true, 1.0);
    EXPECT_EQ(latch.forceRelease(), Action::timeout);
    EXPECT_FALSE(latch.isDown());
    EXPECT_EQ(latch.update(true, 2.0), Action::press);
}

}  // namespace
}  // namespace sayloft
