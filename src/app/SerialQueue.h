#pragma once

#include <functional>

namespace sayloft {

// Runs work items one at a time, in the order they were queued, off the main thread.
class SerialQueue {
public:
    using Task = std::function<void()>;

    virtual ~SerialQueue() = default;

    // Any thread. Queues task and returns at once.
    virtual void post(Task task) = 0;
};

}  // namespace sayloft
