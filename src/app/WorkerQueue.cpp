#include "app/WorkerQueue.h"

#include <utility>

namespace sayloft {

WorkerQueue::WorkerQueue() : thread_([this] { loop(); }) {
}

WorkerQueue::~WorkerQueue() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void WorkerQueue::post(Task task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void WorkerQueue::loop() {
    for (;;) {
        Task task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return closing_ || !tasks_.empty(); });
            if (tasks_.empty()) {
                return;  // closing and drained
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

}  // namespace sayloft
