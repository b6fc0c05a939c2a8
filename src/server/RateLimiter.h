#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

namespace sayloft {

// A token bucket per key (a device id, a client address): each key may spend `burst` requests at
// once and regains `perSecond` of them every second, up to `burst` again. Thread-safe.
//
// Memory is bounded: when more than maxKeys buckets exist, the buckets that have refilled
// completely (their owners are idle, so forgetting them changes nothing) are dropped; if every
// bucket is still in use, new keys are refused rather than growing without limit.
class RateLimiter {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    RateLimiter(double perSecond, double burst, Clock clock, std::size_t maxKeys = 100000);

    struct Decision {
        bool allowed;
        double retryAfterSeconds;  // when refused: how long until one request is allowed again
    };
    Decision acquire(const std::string& key);

    std::size_t trackedKeys() const;

private:
    struct Bucket {
        double tokens;
        std::chrono::steady_clock::time_point updated;
    };
    void refill(Bucket& bucket, std::chrono::steady_clock::time_point now) const;
    void evictIdle(std::chrono::steady_clock::time_point now);

    double perSecond_;
    double burst_;
    Clock clock_;
    std::size_t maxKeys_;
    mutable std::mutex mutex_;
    std::unordered_map<std::string, Bucket> buckets_;
};

}  // namespace sayloft
