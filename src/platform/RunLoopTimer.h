#pragma once

namespace sayloft {

// A timer scheduled on a RunLoop. The run loop keeps a scheduled timer alive by itself; dropping
// the handle does not stop it, invalidate() does. Main thread only.
class RunLoopTimer {
public:
    virtual ~RunLoopTimer() = default;

    // The timer never fires again; its function is released. Calling it again, or from inside
    // the timer's own function, is fine.
    virtual void invalidate() = 0;
    virtual bool isValid() const = 0;
};

}  // namespace sayloft
