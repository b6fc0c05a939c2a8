#pragma once

#include <functional>

namespace sayloft {

// The moments after which a held key's release may have been lost and an input monitor may have
// gone stale: the machine woke from sleep, the screen woke, the session became active again or
// the screen was unlocked. Main thread only.
class SessionEvents {
public:
    using Handler = std::function<void()>;

    virtual ~SessionEvents() = default;

    // Registers handler for all four events, for the life of the process; it runs on the main
    // thread. One real event may be reported more than once: handlers must be idempotent.
    virtual void observe(Handler handler) = 0;
};

}  // namespace sayloft
