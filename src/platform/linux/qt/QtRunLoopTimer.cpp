#include "platform/linux/qt/QtRunLoopTimer.h"

#include <QTimer>
#include <cmath>
#include <limits>

#include "platform/linux/qt/QtRunLoop.h"

namespace sayloft {
namespace {

// QTimer counts whole milliseconds in an int: round up so that the timer never fires early, and
// keep at least 1 ms (a 0 ms QTimer would fire at every turn of the loop).
int intervalMilliseconds(double seconds) {
    const double ms = std::ceil(seconds * 1000.0);
    if (!(ms >= 1.0)) {
        return 1;
    }
    if (ms >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    return static_cast<int>(ms);
}

}  // namespace

QtRunLoopTimer::QtRunLoopTimer(QtRunLoop& runLoop, double seconds, bool repeats,
                               std::function<void()> task)
    : runLoop_(&runLoop),
      repeats_(repeats),
      task_(std::move(task)),
      timer_(std::make_unique<QTimer>()) {
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setSingleShot(!repeats);
    timer_->setInterval(intervalMilliseconds(seconds));
    QObject::connect(timer_.get(), &QTimer::timeout, [this] { fire(); });
}

QtRunLoopTimer::~QtRunLoopTimer() {
    // The last handle may go inside this timer's own timeout signal: let Qt delete the QTimer
    // once that emission is over.
    timer_->stop();
    timer_->disconnect();
    timer_.release()->deleteLater();
}

void QtRunLoopTimer::start() {
    timer_->start();
}

void QtRunLoopTimer::fire() {
    if (!runLoop_) {
        return;
    }
    // The function may invalidate this timer, or drop the last handle to it: keep both the
    // function and the timer alive until the call returns.
    const std::shared_ptr<QtRunLoopTimer> keep = shared_from_this();
    const std::function<void()> task = task_;
    if (!repeats_) {
        invalidate();
    }
    if (task) {
        task();
    }
}

void QtRunLoopTimer::invalidate() {
    if (!runLoop_) {
        return;
    }
    timer_->stop();
    task_ = nullptr;
    QtRunLoop* runLoop = runLoop_;
    runLoop_ = nullptr;
    runLoop->release(this);  // may destroy this object when no handle is left
}

bool QtRunLoopTimer::isValid() const {
    return runLoop_ != nullptr;
}

}  // namespace sayloft
