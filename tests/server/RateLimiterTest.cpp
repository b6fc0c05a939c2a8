#include <gtest/gtest.h>

#include "server/RateLimiter.h"

namespace sayloft {
namespace {

using namespace std::chrono_literals;

struct RateLimiterTest : ::testing::Test {
    std::chrono::steady_clock::time_point now{};
    RateLimiter::Clock clock = [this] { return now; };
};

TEST_F(RateLimiterTest, AllowsTheBurstThenRefillsAtTheRate) {
    RateLimiter limiter(0.5, 3, clock);  // one request every two seconds, three at once
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(limiter.acquire("a").allowed) << i;
    }
    const auto refused = limiter.acquire("a");
    EXPECT_FALSE(refused.allowed);
    EXPECT_NEAR(refused.retryAfterSeconds, 2.0, 1e-9);
    now += 1s;
    EXPECT_FALSE(limiter.acquire("a").allowed);
    EXPECT_NEAR(limiter.acquire("a").retryAfterSeconds, 1.0, 1e-9);
    now += 1s;
    EXPECT_TRUE(limiter.acquire("a").allowed);
    EXPECT_FALSE(limiter.acquire("a").allowed);
    // A long pause refills only up to the burst.
    now += 1h;
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(limiter.acquire("a").allowed) << i;
    }
    EXPECT_FALSE(limiter.acquire("a").allowed);
}

TEST_F(RateLimiterTest, ForgetsIdleKeysInsteadOfGrowingWithoutBound) {
    RateLimiter limiter(1, 2, clock, 3);
    for (const char* key : {"a", "b", "c"}) {
        EXPECT_TRUE(limiter.acquire(key).allowed);
    }
    // Every bucket is in use: a fourth key is refused rather than tracked.
    EXPECT_FALSE(limiter.acquire("d").allowed);
    EXPECT_EQ(limiter.trackedKeys(), 3u);
    // Once they have refilled, the idle buckets make room.
    now += 2s;
    EXPECT_TRUE(limiter.acquire("d").allowed);
    EXPECT_EQ(limiter.trackedKeys(), 1u);
}

}  // namespace
}  // namespace sayloft
