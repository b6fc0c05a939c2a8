#pragma once

#include <memory>
#include <unordered_map>

#include "platform/RunLoop.h"

class QObject;

namespace sayloft {

class QtRunLoopTimer;

// The RunLoop on Qt's event loop of the thread that constructs it (the main thread, after the
// QApplication exists). post() queues a call on a context object living on that thread, so posts
// run in the order they were made whatever thread made them (Qt keeps one ordered queue of posted
// events per thread). Timers are precise QTimers: they never fire before their interval. The run
// loop owns every scheduled timer until it is invalidated or, for a one-shot timer, has fired.
class QtRunLoop final : public RunLoop {
public:
    QtRunLoop();
    ~QtRunLoop() override;
    QtRunLoop(const QtRunLoop&) = delete;
    QtRunLoop& operator=(const QtRunLoop&) = delete;

    void post(Task task) override;
    std::shared_ptr<RunLoopTimer> schedule(double seconds, bool repeats, Task task) override;
    double now() const override;
    double ticks() const override;
    void quit() override;

private:
    friend class QtRunLoopTimer;
    void release(QtRunLoopTimer* timer);

    std::unique_ptr<QObject> context_;
    std::unordered_map<QtRunLoopTimer*, std::shared_ptr<QtRunLoopTimer>> timers_;
};

}  // namespace sayloft
