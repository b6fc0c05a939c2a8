#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "app/SerialQueue.h"

namespace sayloft {

// A SerialQueue on one thread of its own. The destructor lets the items already queued finish,
// then joins the thread.
class WorkerQueue final : public SerialQueue {
public:
    WorkerQueue();
    ~WorkerQueue() override;
    WorkerQueue(const WorkerQueue&) = delete;
    WorkerQueue& operator=(const WorkerQueue&) = delete;

    void post(Task task) override;

private:
    void loop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    bool closing_ = false;
    std::jthread thread_;  // last: started once the rest exists
};

}  // namespace sayloft
