#pragma once

#include <functional>
#include <memory>

#include "platform/RunLoopTimer.h"

namespace sayloft {

// The main thread's event loop. Everything the application logic owns (session flags, menus,
// the panel, text insertion) is touched only in work this loop runs, so none of it is locked.
class RunLoop {
public:
    using Task = std::function<void()>;

    virtual ~RunLoop() = default;

    // Any thread. Runs task later on the main thread, after everything posted before it (in the
    // order of the post calls, whatever thread made them). Never runs it inside the call.
    virtual void post(Task task) = 0;

    // Main thread. Calls task on the main thread `seconds` after now (at least), and then every
    // `seconds` again when repeats is set, until the timer is invalidated. seconds > 0.
    virtual std::shared_ptr<RunLoopTimer> schedule(double seconds, bool repeats, Task task) = 0;

    // Any thread. The wall clock: seconds since 1970-01-01 UTC, with a fractional part. For
    // dates only: it jumps when the system time is set.
    virtual double now() const = 0;

    // Any thread. The monotonic clock: seconds from an arbitrary origin, never going back and
    // not moved by setting the system time. Durations (hold lengths, latencies) use this.
    virtual double ticks() const = 0;

    // Main thread. Ends the event loop after the current work item; the process then exits.
    virtual void quit() = 0;
};

}  // namespace sayloft
