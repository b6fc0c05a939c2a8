#pragma once

#include <list>
#include <memory>
#include <thread>

#include "app/BackgroundTasks.h"

namespace sayloft {

// One std::jthread per task. Finished threads are joined at the next run(); the destructor
// requests stop on the rest and joins them.
class ThreadBackgroundTasks final : public BackgroundTasks {
public:
    ThreadBackgroundTasks();
    ~ThreadBackgroundTasks() override;
    ThreadBackgroundTasks(const ThreadBackgroundTasks&) = delete;
    ThreadBackgroundTasks& operator=(const ThreadBackgroundTasks&) = delete;

    void run(Task task) override;

private:
    struct Worker;
    std::list<std::unique_ptr<Worker>> workers_;
};

}  // namespace sayloft
