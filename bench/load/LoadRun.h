#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace sayloft::bench {

// The figures of one row: `clients` LoadClients for a while against one base URL.
struct LoadFigures {
    int clients = 0;
    double wallSeconds = 0;
    int requests = 0;
    int succeeded = 0;
    int failedFirstTry = 0;
    int failedAfterRetry = 0;
    double p50Ms = 0, p99Ms = 0;
    double audioSecondsPerSecond = 0;  // audio recognised (answered 200) per second of wall time
    double peakRssMiB = 0;             // the largest of the servers' peak resident sizes
    std::string lastFailure{};
};

// Runs the clients, each on its own thread with its own token, all together for `duration`;
// `midway` (if set) runs halfway through (to kill a replica). The servers' resident memory is
// sampled meanwhile, from /proc, for every pid in `servers`.
struct LoadRun {
    std::string baseUrl;
    std::vector<std::string> tokens;  // one per client
    const std::string* body = nullptr;
    std::string contentType;
    double utteranceSeconds = 0;
    std::vector<pid_t> servers;
    std::chrono::milliseconds duration{60'000};
    std::function<void()> midway{};

    LoadFigures run() const;
};

}  // namespace sayloft::bench
