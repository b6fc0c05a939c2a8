#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace sayloft::bench {

// One dictating client under load: its own token and its own keep-alive connection pool (the
// project's CurlSession), sending the same utterance to POST /v1/transcribe back to back until
// the deadline. A request that ends in a connection error or a 502/503 is sent once more, as the
// Sayloft client does, and both outcomes are counted.
class LoadClient {
public:
    using Clock = std::chrono::steady_clock;

    struct Result {
        int requests = 0;
        int succeeded = 0;                // 200, with the retry if one was needed
        int failedFirstTry = 0;           // not 200 on the first attempt
        int failedAfterRetry = 0;         // not 200 even after the one retry (or not retriable)
        std::vector<double> latenciesMs;  // of each request that succeeded, retry included
        std::string
            lastFailure{};  // the status or transport error of the first try, last time one failed
    };

    LoadClient(std::string baseUrl, std::string token, const std::string& body,
               const std::string& contentType);

    // Runs until `deadline` (the request in flight then is finished and counted).
    Result run(Clock::time_point deadline) const;

private:
    std::string url_, token_;
    const std::string& body_;
    std::string contentType_;
};

}  // namespace sayloft::bench
