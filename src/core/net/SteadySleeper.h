#pragma once

#include "core/net/Sleeper.h"

namespace sayloft {

// Real time on the monotonic clock; a stop request wakes the sleeper at once.
class SteadySleeper final : public Sleeper {
public:
    std::chrono::nanoseconds now() const override;
    bool sleepUntil(std::chrono::nanoseconds time, std::stop_token stop) override;
};

}  // namespace sayloft
