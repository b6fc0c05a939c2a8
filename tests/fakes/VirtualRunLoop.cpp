#include "VirtualRunLoop.h"

#include <algorithm>
#include <utility>

namespace sayloft::test {

struct VirtualRunLoop::Timer final : RunLoopTimer {
    double due = 0;
    double interval = 0;
    bool repeats = false;
    bool valid = true;
    std::uint64_t sequence = 0;
    Task task;

    void invalidate() override {
        valid = false;
        task = nullptr;
    }
    bool isValid() const override { return valid; }
};

VirtualRunLoop::VirtualRunLoop(double startTime) : wallOffset_(startTime) {
}

VirtualRunLoop::~VirtualRunLoop() = default;

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
    timer->interval = seconds;
    timer->repeats = repeats;
    timer->task = std::move(task);
    timer->sequence = nextSequence_++;
    timers_.push_back(timer);
    return timer;
}

bool VirtualRunLoop::runOnePosted() {
    Task task;
    {
        std::lock_guard lock(mutex_);
        if (tasks_.empty()) {
            return false;
        }
        task = std::move(tasks_.front());
        tasks_.pop_front();
    }
    task();
    return true;
}

void VirtualRunLoop::runUntilIdle() {
    while (runOnePosted()) {
    }
}

void VirtualRunLoop::advance(double seconds) {
    const double target = ticks() + seconds;
    runUntilIdle();
    for (;;) {
        std::erase_if(timers_, [](const auto& timer) { return !timer->valid; });
        auto next =
            std::min_element(timers_.begin(), timers_.end(), [](const auto& a, const auto& b) {
                return a->due != b->due ? a->due < b->due : a->sequence < b->sequence;
            });
        if (next == timers_.end() || (*next)->due > target) {
            break;
        }
        const std::shared_ptr<Timer> timer = *next;
        ticks_ = std::max(ticks(), timer->due);
        Task task = timer->task;  // the timer may be invalidated while its task runs
        if (timer->repeats) {
            timer->due += timer->interval;
            timer->sequence = nextSequence_++;
        } else {
            timer->valid = false;
            timer->task = nullptr;
        }
        if (task) {
            task();
        }
        runUntilIdle();
    }
    ticks_ = target;
    runUntilIdle();
}

bool VirtualRunLoop::waitForPosted(std::chrono::milliseconds timeout) {
    {
        std::unique_lock lock(mutex_);
        if (!posted_.wait_for(lock, timeout, [this] { return !tasks_.empty(); })) {
            return false;
        }
    }
    runUntilIdle();
    return true;
}

std::size_t VirtualRunLoop::activeTimers() const {
    return static_cast<std::size_t>(std::count_if(timers_.begin(), timers_.end(),
                                                  [](const auto& timer) { return timer->valid; }));
}

}  // namespace sayloft::test
