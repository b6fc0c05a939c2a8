#pragma once

#include <chrono>
#include <stop_token>

namespace sayloft {

// The clock of HedgedRequest's timers, injectable so that tests run them in virtual or scaled
// time. Must be safe to call from several threads at once.
class Sleeper {
public:
    virtual ~Sleeper() = default;

    // The time on this sleeper's monotonic clock, from an arbitrary origin.
    virtual std::chrono::nanoseconds now() const = 0;

    // Blocks until now() reaches `time` or stop is requested, whichever comes first. Returns true
    // when the time was reached, false when interrupted by the stop request. A due time, not a
    // duration, so that several timers measured from one start never drift apart.
    virtual bool sleepUntil(std::chrono::nanoseconds time, std::stop_token stop) = 0;
};

}  // namespace sayloft
