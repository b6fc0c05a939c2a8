#include <atomic>
#include <chrono>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/qt/QtRunLoop.h"
#include "qt/QtWait.h"

namespace sayloft {
namespace {

using test::waitUntil;
using Clock = std::chrono::steady_clock;

TEST(QtRunLoop, PostsFromSeveralThreadsRunOnTheMainThreadInEachThreadsOrder) {
    QtRunLoop loop;
    constexpr int threads = 4;
    constexpr int perThread = 500;
    std::vector<std::vector<int>> seen(threads);
    std::atomic<int> offMain{0};
    const auto mainThread = std::this_thread::get_id();
    {
        std::vector<std::jthread> posters;
        for (int t = 0; t < threads; ++t) {
            posters.emplace_back([&, t] {
                for (int i = 0; i < perThread; ++i) {
                    loop.post([&, t, i] {
                        offMain += std::this_thread::get_id() != mainThread ? 1 : 0;
                        seen[t].push_back(i);
                    });
                }
            });
        }
    }
    // Posted after every thread's posts: must run after all of them.
    bool last = false;
    std::vector<std::vector<int>> seenBeforeLast;
    loop.post([&] {
        seenBeforeLast = seen;
        last = true;
    });
    EXPECT_FALSE(last) << "a post ran inside the call";
    ASSERT_TRUE(waitUntil([&] { return last; }));
    std::vector<int> inOrder(perThread);
    std::iota(inOrder.begin(), inOrder.end(), 0);
    EXPECT_EQ(seenBeforeLast, std::vector(threads, inOrder));
    EXPECT_EQ(offMain.load(), 0);
}

TEST(QtRunLoop, TimersFireNotBeforeTheirTimeAndStopWhenInvalidatedOrFired) {
    QtRunLoop loop;
    const auto start = Clock::now();
    std::vector<Clock::duration> oneShot;
    int repeated = 0;
    int cancelled = 0;
    bool sentinel = false;

    // The handle is dropped at once: the run loop keeps the timer alive by itself.
    loop.schedule(0.03, false, [&] { oneShot.push_back(Clock::now() - start); });
    std::shared_ptr<RunLoopTimer> repeating;
    repeating = loop.schedule(0.01, true, [&] {
        if (++repeated == 3) {
            repeating->invalidate();  // from inside its own function
            repeating->invalidate();  // twice is fine
        }
    });
    const auto never = loop.schedule(0.01, false, [&] { ++cancelled; });
    never->invalidate();
    EXPECT_FALSE(never->isValid());
    // A one-shot timer is invalid once it fired, inside its function already.
    bool validInside = true;
    std::shared_ptr<RunLoopTimer> once;
    once = loop.schedule(0.001, false, [&] { validInside = once->isValid(); });
    EXPECT_TRUE(once->isValid());
    // Runs after everything above would have fired (at least 60 ms).
    loop.schedule(0.06, false, [&] { sentinel = true; });

    ASSERT_TRUE(waitUntil([&] { return sentinel; }));
    ASSERT_EQ(oneShot.size(), 1u);
    EXPECT_GE(oneShot[0], std::chrono::milliseconds(30));
    EXPECT_EQ(repeated, 3);
    EXPECT_FALSE(repeating->isValid());
    EXPECT_EQ(cancelled, 0);
    EXPECT_FALSE(validInside);
    EXPECT_FALSE(once->isValid());
    // now() is the wall clock.
    EXPECT_NEAR(
        loop.now(),
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count(),
        5.0);
}

}  // namespace
}  // namespace sayloft
