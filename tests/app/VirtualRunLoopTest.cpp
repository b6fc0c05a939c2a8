#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fakes/VirtualRunLoop.h"

namespace sayloft::test {
namespace {

TEST(VirtualRunLoop, FiresTimersInDueOrderWithTheClockAtTheirDueTime) {
    VirtualRunLoop loop(1000.0);
    std::vector<std::string> fired;
    auto every2 =
        loop.schedule(2.0, true, [&] { fired.push_back("r@" + std::to_string(int(loop.now()))); });
    loop.schedule(3.0, false, [&] { fired.push_back("once@" + std::to_string(int(loop.now()))); });
    loop.schedule(4.0, false, [&] { fired.push_back("tie@" + std::to_string(int(loop.now()))); });

    loop.advance(1.9);
    EXPECT_TRUE(fired.empty());
    loop.advance(5.1);  // to 1007
    // At 1004 the tie, scheduled at the start, comes before the repeat, rescheduled at 1002.
    EXPECT_EQ(fired,
              (std::vector<std::string>{"r@1002", "once@1003", "tie@1004", "r@1004", "r@1006"}));
    EXPECT_DOUBLE_EQ(loop.now(), 1007.0);
    every2->invalidate();
    loop.advance(10);
    EXPECT_EQ(fired.size(), 5u);
    EXPECT_EQ(loop.activeTimers(), 0u);
}

TEST(VirtualRunLoop, PostedWorkRunsInOrderBeforeTimersAndAfterEachOne) {
    VirtualRunLoop loop;
    std::vector<int> order;
    loop.schedule(1.0, false, [&] {
        order.push_back(2);
        loop.post([&] { order.push_back(3); });
    });
    loop.post([&] { order.push_back(1); });
    loop.schedule(1.0, false, [&] { order.push_back(4); });
    loop.advance(1.0);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(VirtualRunLoop, ATimerInvalidatedByAnEarlierOneDoesNotFire) {
    VirtualRunLoop loop;
    int fired = 0;
    std::shared_ptr<RunLoopTimer> second;
    loop.schedule(1.0, false, [&] { second->invalidate(); });
    second = loop.schedule(1.0, false, [&] { ++fired; });
    loop.advance(2.0);
    EXPECT_EQ(fired, 0);
}

TEST(VirtualRunLoop, WorkPostedFromAnotherThreadIsPickedUp) {
    VirtualRunLoop loop;
    bool ran = false;
    std::jthread worker([&] { loop.post([&] { ran = true; }); });
    EXPECT_TRUE(loop.waitForPosted(std::chrono::seconds(10)));
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace sayloft::test
