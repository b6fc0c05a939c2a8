#pragma once

#include <chrono>
#include <stop_token>

namespace sayloft {

// The clock of HedgedRequest's timers, injectable so that tests run them in virtual or scaled
// time. Must be safe to call from several threads at once.
class Sleeper {
public:
    virtual ~Sleeper() = default;

    // Blocks until the duration has passed or stop is requested, whichever comes first. Returns
    // true when the full duration passed, false when interrupted by the stop request.
    virtual bool sleepFor(std::chrono::nanoseconds duration, std::stop_token stop) = 0;
};

}  // namespace sayloft
