#include "platform/linux/qt/QtRunLoop.h"

#include <QCoreApplication>
#include <QObject>
#include <chrono>
#include <utility>
#include <vector>

#include "platform/linux/qt/QtRunLoopTimer.h"

namespace sayloft {

QtRunLoop::QtRunLoop() : context_(std::make_unique<QObject>()) {
}

QtRunLoop::~QtRunLoop() {
    std::vector<std::shared_ptr<QtRunLoopTimer>> left;
    for (auto& [raw, timer] : timers_) {
        left.push_back(timer);
    }
    for (auto& timer : left) {
        timer->invalidate();
    }
}

void QtRunLoop::post(Task task) {
    // A queued invocation is a posted event for context_, which lives on the main thread; its
    // destruction drops whatever is still queued, so nothing runs after the run loop is gone.
    QMetaObject::invokeMethod(
        context_.get(), [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

std::shared_ptr<RunLoopTimer> QtRunLoop::schedule(double seconds, bool repeats, Task task) {
    auto timer = std::make_shared<QtRunLoopTimer>(*this, seconds, repeats, std::move(task));
    timers_.emplace(timer.get(), timer);
    timer->start();
    return timer;
}

void QtRunLoop::release(QtRunLoopTimer* timer) {
    timers_.erase(timer);
}

double QtRunLoop::now() const {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

double QtRunLoop::ticks() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void QtRunLoop::quit() {
    QCoreApplication::quit();
}

}  // namespace sayloft
