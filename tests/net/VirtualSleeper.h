#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "core/net/Sleeper.h"

namespace sayloft::testing {

// Virtual time for HedgedRequest's timers: a sleeper wakes when the test advances the clock past
// its due time, or at once when it is stopped. Nothing waits for real time.
class VirtualSleeper final : public Sleeper {
public:
    bool sleepUntil(std::chrono::nanoseconds time, std::stop_token stop) override {
        std::unique_lock lock(mutex_);
        requested_.push_back(time);
        ++sleeping_;
        changed_.notify_all();
        changed_.wait(lock, stop, [&] { return now_ >= time; });
        --sleeping_;
        changed_.notify_all();
        return !stop.stop_requested();
    }

    // Moves the clock forward to t (never backward) and wakes the sleepers that are due.
    void advanceTo(std::chrono::nanoseconds t) {
        std::lock_guard lock(mutex_);
        now_ = std::max(now_, t);
        changed_.notify_all();
    }

    std::chrono::nanoseconds now() const override {
        std::lock_guard lock(mutex_);
        return now_;
    }

    // Blocks until at least n sleeps have begun since construction.
    void waitForSleeps(std::size_t n) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return requested_.size() >= n; });
    }

    // How many sleepers are asleep now.
    int asleep() const {
        std::lock_guard lock(mutex_);
        return sleeping_;
    }

    // The due times of every sleep begun, in the order they began.
    std::vector<std::chrono::nanoseconds> requested() const {
        std::lock_guard lock(mutex_);
        return requested_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable_any changed_;
    std::chrono::nanoseconds now_{0};
    std::vector<std::chrono::nanoseconds> requested_;
    int sleeping_ = 0;
};

}  // namespace sayloft::testing
