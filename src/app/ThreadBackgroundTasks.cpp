#include "app/ThreadBackgroundTasks.h"

#include <atomic>
#include <utility>

namespace sayloft {

struct ThreadBackgroundTasks::Worker {
    std::atomic<bool> finished{false};
    std::jthread thread;  // last: joined before `finished` goes away
};

ThreadBackgroundTasks::ThreadBackgroundTasks() = default;

ThreadBackgroundTasks::~ThreadBackgroundTasks() {
    for (auto& worker : workers_) {
        worker->thread.request_stop();
    }
    workers_.clear();  // joins
}

void ThreadBackgroundTasks::run(Task task) {
    workers_.remove_if([](const std::unique_ptr<Worker>& worker) {
        return worker->finished.load(std::memory_order_acquire);
    });
    auto worker = std::make_unique<Worker>();
    Worker* raw = worker.get();
    worker->thread = std::jthread([raw, task = std::move(task)](std::stop_token stop) {
        task(stop);
        raw->finished.store(true, std::memory_order_release);
    });
    workers_.push_back(std::move(worker));
}

}  // namespace sayloft
