#include "server/RateLimiter.h"

#include <algorithm>
#include <limits>

namespace sayloft {

RateLimiter::RateLimiter(double perSecond, double burst, Clock clock, std::size_t maxKeys)
    : perSecond_(perSecond),
      burst_(std::max(1.0, burst)),
      clock_(std::move(clock)),
      maxKeys_(maxKeys) {
}

void RateLimiter::refill(Bucket& bucket, std::chrono::steady_clock::time_point now) const {
    const double elapsed = std::chrono::duration<double>(now - bucket.updated).count();
    if (elapsed > 0) {
        bucket.tokens = std::min(burst_, bucket.tokens + elapsed * perSecond_);
        bucket.updated = now;
    }
}

void RateLimiter::evictIdle(std::chrono::steady_clock::time_point now) {
    for (auto it = buckets_.begin(); it != buckets_.end();) {
        refill(it->second, now);
        it = it->second.tokens >= burst_ ? buckets_.erase(it) : std::next(it);
    }
}

RateLimiter::Decision RateLimiter::acquire(const std::string& key) {
    const auto now = clock_();
    std::lock_guard lock(mutex_);
    auto found = buckets_.find(key);
    if (found == buckets_.end()) {
        if (buckets_.size() >= maxKeys_) {
            evictIdle(now);
            if (buckets_.size() >= maxKeys_) {
                return {false, perSecond_ > 0 ? 1.0 / perSecond_ : 3600.0};
            }
        }
        found = buckets_.emplace(key, Bucket{burst_, now}).first;
    }
    Bucket& bucket = found->second;
    refill(bucket, now);
    if (bucket.tokens >= 1.0) {
        bucket.tokens -= 1.0;
        return {true, 0.0};
    }
    const double wait = perSecond_ > 0 ? (1.0 - bucket.tokens) / perSecond_
                                       : std::numeric_limits<double>::infinity();
    return {false, wait};
}

std::size_t RateLimiter::trackedKeys() const {
    std::lock_guard lock(mutex_);
    return buckets_.size();
}

}  // namespace sayloft
