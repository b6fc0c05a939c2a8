#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace sayloft {

// Faults injected into the service's "v1/" requests for tests and benchmarks of clients.
enum class ChaosFault {
    none,
    stall,          // hold the request for stallSeconds, then answer it normally (a stop
                    // lets it go on; when the drain time runs out first it is closed unanswered)
    reset,          // reset the connection without an answer
    unavailable,    // 503
    unauthorized,   // 401
    rateLimited,    // 429
    malformedJson,  // 200 with a body that is not JSON
};

// Which fault each request gets, drawn independently per request with the given probabilities.
// Parsed from a list such as "stall=0.1,stall-seconds=5,reset=0.05,503=0.1,401=0.02,429=0.02,
// json=0.05"; the probabilities must not add up to more than 1. Thread-safe.
class ChaosPlan {
public:
    static std::optional<ChaosPlan> parse(std::string_view faults, std::uint64_t seed,
                                          std::string* error);

    ChaosFault pick();
    double stallSeconds() const { return stallSeconds_; }

    ChaosPlan(const ChaosPlan& other);

private:
    ChaosPlan() = default;

    // Cumulative thresholds, in the order of the enum after `none`.
    double stall_ = 0, reset_ = 0, unavailable_ = 0, unauthorized_ = 0, rateLimited_ = 0,
           malformedJson_ = 0;
    double stallSeconds_ = 5.0;
    std::mutex mutex_;
    std::mt19937_64 random_;
};

}  // namespace sayloft
