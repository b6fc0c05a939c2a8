#pragma once

#include <deque>

#include "app/SerialQueue.h"

namespace sayloft::test {

// Holds queued work until the test runs it, on the test's thread, in order.
class ManualSerialQueue final : public SerialQueue {
public:
    void post(Task task) override { tasks_.push_back(std::move(task)); }

    std::size_t size() const { return tasks_.size(); }

    // Runs the held work in order, and what that work adds meanwhile.
    void runAll() {
        while (!tasks_.empty()) {
            Task task = std::move(tasks_.front());
            tasks_.pop_front();
            task();
        }
    }

private:
    std::deque<Task> tasks_;
};

}  // namespace sayloft::test
