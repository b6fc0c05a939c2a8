#pragma once

#include "core/net/Sleeper.h"

namespace sayloft {

// Real time on the monotonic clock; a stop request wakes the sleeper at once.
class SteadySleeper final : public Sleeper {
public:
    bool sleepFor(std::chrono::nanoseconds duration, std::stop_token stop) override;
};

}  // namespace sayloft
