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

    // Runs the held work in order, and what that work adds meanwhile.
    void runAll() {
        while (!tasks_.empty()) {
            Task task = std::move(tasks_.front());
            tasks_.pop_front();
            task(stop_.get_token());
        }
    }

private:
    std::deque<Task> tasks_;
    std::stop_source stop_;
};

}  // namespace sayloft::test
