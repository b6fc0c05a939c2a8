#pragma once

#include <deque>
#include <stop_token>

#include "app/BackgroundTasks.h"

namespace sayloft::test {

// Holds background tasks until the test runs them, on the test's thread, in order.
class ManualBackgroundTasks final : public BackgroundTasks {
public:
    void run(Task task) override { tasks_.push_back(std::move(task)); }

    std::size_t size() const { return tasks_.size(); }

    bool runNext() {
        if (tasks_.empty()) {
            return false;
        }
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        task(stop_.get_token());
        return true;
    }
    void runAll() {
        while (runNext()) {
        }
    }

private:
    std::deque<Task> tasks_;
    std::stop_source stop_;
};

}  // namespace sayloft::test
