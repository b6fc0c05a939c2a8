#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/RunLoop.h"

namespace sayloft::test {

// A RunLoop whose clock stands still until the test moves it. Posted work runs when the test
// says so (runUntilIdle, advance). post() and now() may be called from any thread; everything
// else from the test's thread, which plays the main thread.
class VirtualRunLoop final : public RunLoop {
public:
    explicit VirtualRunLoop(double startTime = 1'750'000'000.0) : wallOffset_(startTime) {}

    void post(Task task) override;
    std::shared_ptr<RunLoopTimer> schedule(double seconds, bool repeats, Task task) override;
    double now() const override { return ticks_.load() + wallOffset_.load(); }
    double ticks() const override { return ticks_.load(); }
    void quit() override { quitRequested_ = true; }
    bool quitRequested() const { return quitRequested_; }

    // Runs posted work, including work posted meanwhile, until none is left.
    void runUntilIdle();
    // Moves the clock forward by seconds: posted work runs first, then every timer due within
    // the span in due order (ties in the order they were scheduled), with the clock at its due
    // time, each followed by the work it posted.
    void advance(double seconds);
    // Moves the wall clock alone (back when negative), as a user or a time server may.
    void shiftWallClock(double seconds) { wallOffset_ = wallOffset_.load() + seconds; }
    // For tests with real worker threads: waits (in real time, at most `timeout`) until work has
    // been posted, then runs everything posted. False when nothing came in time.
    bool waitForPosted(std::chrono::milliseconds timeout);
    // Timers that are scheduled and still valid.
    std::size_t activeTimers() const;

private:
    struct Timer;

    std::atomic<double> ticks_{0.0};
    std::atomic<double> wallOffset_;
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<Task> tasks_;
    std::vector<std::shared_ptr<Timer>> timers_;
    std::uint64_t nextSequence_ = 0;
    bool quitRequested_ = false;
};

}  // namespace sayloft::test
