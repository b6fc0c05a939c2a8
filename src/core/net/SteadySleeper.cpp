#include "core/net/SteadySleeper.h"

#include <condition_variable>
#include <mutex>

namespace sayloft {

bool SteadySleeper::sleepFor(std::chrono::nanoseconds duration, std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    // Nothing ever notifies: the wait ends at the time limit or, through the stop token, at once
    // when stop is requested.
    wake.wait_for(lock, stop, duration, [] { return false; });
    return !stop.stop_requested();
}

}  // namespace sayloft
