#include "core/net/SteadySleeper.h"

#include <condition_variable>
#include <mutex>

namespace sayloft {

std::chrono::nanoseconds SteadySleeper::now() const {
    return std::chrono::steady_clock::now().time_since_epoch();
}

bool SteadySleeper::sleepUntil(std::chrono::nanoseconds time, std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    // Nothing ever notifies: the wait ends at the due time or, through the stop token, at once
    // when stop is requested.
    const std::chrono::steady_clock::time_point due(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(time));
    wake.wait_until(lock, stop, due, [] { return false; });
    return !stop.stop_requested();
}

}  // namespace sayloft
