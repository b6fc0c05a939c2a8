#pragma once

#include <functional>
#include <memory>

#include "platform/RunLoopTimer.h"

class QTimer;

namespace sayloft {

class QtRunLoop;

// One QTimer of a QtRunLoop. The timer calls back into its run loop to be released, so the run
// loop must outlive every timer it hands out that is still valid; QtRunLoop's destructor
// invalidates them all.
class QtRunLoopTimer final : public RunLoopTimer,
                             public std::enable_shared_from_this<QtRunLoopTimer> {
public:
    QtRunLoopTimer(QtRunLoop& runLoop, double seconds, bool repeats, std::function<void()> task);
    ~QtRunLoopTimer() override;
    QtRunLoopTimer(const QtRunLoopTimer&) = delete;
    QtRunLoopTimer& operator=(const QtRunLoopTimer&) = delete;

    void invalidate() override;
    bool isValid() const override;

    void start();

private:
    void fire();

    QtRunLoop* runLoop_;
    bool repeats_;
    std::function<void()> task_;
    std::unique_ptr<QTimer> timer_;
};

}  // namespace sayloft
