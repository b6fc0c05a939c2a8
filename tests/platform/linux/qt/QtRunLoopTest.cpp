#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "qt/QtWait.h"
#include "platform/linux/qt/QtRunLoop.h"

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
                        if (std::this_thread::get_id() != mainThread) {
                            ++offMain;
                        }
                        seen[t].push_back(i);
                    });
                }
            });
        }
    }
    // Posted after every thread's posts: must run after all of them.
    bool last = false;
    std::size_t doneBeforeLast = 0;
    loop.post([&] {
        for (const auto& list : seen) {
            doneBeforeLast += list.size();
        }
        last = true;
    });
    ASSERT_TRUE(waitUntil([&] { return last; }));
    EXPECT_EQ(doneBeforeLast, static_cast<std::size_t>(threads * perThread));
    EXPECT_EQ(offMain.load(), 0);
    for (const auto& list : seen) {
        ASSERT_EQ(list.size(), static_cast<std::size_t>(perThread));
        for (int i = 0; i < perThread; ++i) {
            ASSERT_EQ(list[i], i);
        }
    }
}

TEST(QtRunLoop, PostNeverRunsInsideTheCall) {
    QtRunLoop loop;
    bool ran = false;
    loop.post([&] { ran = true; });
    EXPECT_FALSE(ran);
    ASSERT_TRUE(waitUntil([&] { return ran; }));
}

TEST(QtRunLoop, TimersFireNotBeforeTheirTimeAndStopWhenInvalidated) {
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
    // Runs after everything above would have fired (at least 60 ms).
    loop.schedule(0.06, false, [&] { sentinel = true; });

    ASSERT_TRUE(waitUntil([&] { return sentinel; }));
    ASSERT_EQ(oneShot.size(), 1u);
    EXPECT_GE(oneShot[0], std::chrono::milliseconds(30));
    EXPECT_EQ(repeated, 3);
    EXPECT_FALSE(repeating->isValid());
    EXPECT_EQ(cancelled, 0);
}

TEST(QtRunLoop, AOneShotTimerIsInvalidOnceItFired) {
    QtRunLoop loop;
    bool validInside = true;
    bool fired = false;
    std::shared_ptr<RunLoopTimer> timer;
    timer = loop.schedule(0.001, false, [&] {
        validInside = timer->isValid();
        fired = true;
    });
    EXPECT_TRUE(timer->isValid());
    ASSERT_TRUE(waitUntil([&] { return fired; }));
    EXPECT_FALSE(validInside);
    EXPECT_FALSE(timer->isValid());
}

TEST(QtRunLoop, NowIsTheWallClock) {
    QtRunLoop loop;
    const double system =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_NEAR(loop.now(), system, 5.0);
}

}  // namespace
}  // namespace sayloft
