#include "VirtualRunLoop.h"

#include <algorithm>
#include <utility>

namespace sayloft::test {

struct VirtualRunLoop::Timer final : RunLoopTimer {
    double due = 0;
    double interval = 0;  // 0: fires once
    std::uint64_t sequence = 0;
    Task task;  // empty once invalid

    void invalidate() override { task = nullptr; }
    bool isValid() const override { return static_cast<bool>(task); }
};

void VirtualRunLoop::post(Task task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    posted_.notify_all();
}

std::shared_ptr<RunLoopTimer> VirtualRunLoop::schedule(double seconds, bool repeats, Task task) {
    auto timer = std::make_shared<Timer>();
    timer->due = ticks() + seconds;
    timer->interval = repeats ? seconds : 0;
    timer->sequence = nextSequence_++;
    timer->task = std::move(task);
    timers_.push_back(timer);
    return timer;
}

void VirtualRunLoop::runUntilIdle() {
    for (;;) {
        std::unique_lock lock(mutex_);
        if (tasks_.empty()) {
            return;
        }
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
    }
}

void VirtualRunLoop::advance(double seconds) {
    const double target = ticks() + seconds;
    runUntilIdle();
    for (;;) {
        std::erase_if(timers_, [](const auto& timer) { return !timer->isValid(); });
        const auto next = std::min_element(timers_.begin(), timers_.end(), [](auto& a, auto& b) {
            return std::pair(a->due, a->sequence) < std::pair(b->due, b->sequence);
        });
        if (next == timers_.end() || (*next)->due > target) {
            break;
        }
        const std::shared_ptr<Timer> timer = *next;
        ticks_ = std::max(ticks(), timer->due);
        Task task = timer->task;  // the timer may be invalidated while its task runs
        timer->due += timer->interval;
        timer->sequence = nextSequence_++;
        if (timer->interval == 0) {
            timer->invalidate();
        }
        task();
        runUntilIdle();
    }
    ticks_ = target;
    runUntilIdle();
}

bool VirtualRunLoop::waitForPosted(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!posted_.wait_for(lock, timeout, [this] { return !tasks_.empty(); })) {
        return false;
    }
    lock.unlock();
    runUntilIdle();
    return true;
}

std::size_t VirtualRunLoop::activeTimers() const {
    return static_cast<std::size_t>(std::count_if(
        timers_.begin(), timers_.end(), [](const auto& timer) { return timer->isValid(); }));
}

}  // namespace sayloft::test
