#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace sayloft::bench {

// A client that plays by the rules, on 127.0.0.1, while an attack runs: GET /health on a new
// connection every quarter of a second (answered with 200 within 2 s, or it counts as refused
// service) and one short transcription with its token, a second after the start so that the
// attack is under way (answered with 200 within 10 s).
class WellBehavedClient {
public:
    static constexpr const char* address = "127.0.0.1";
    static constexpr std::chrono::milliseconds healthLimit{2000};
    static constexpr std::chrono::milliseconds transcriptionLimit{10000};
    static constexpr std::chrono::milliseconds transcriptionLead{1000};

    struct Result {
        int healthProbes = 0;
        int healthFailures = 0;  // not 200 within the limit
        double worstHealthMs = 0;
        bool transcribed = false;  // 200 within the limit
        double transcriptionMs = 0;
        std::string transcriptionOutcome{};  // the status, or how the connection ended
    };

    // A new token from POST /v1/register, sent from `source`; nullopt when refused.
    static std::optional<std::string> registerToken(int port, const std::string& source);

    WellBehavedClient(int port, std::string token, std::string transcribeBody,
                      std::string contentType);
    ~WellBehavedClient();
    WellBehavedClient(const WellBehavedClient&) = delete;
    WellBehavedClient& operator=(const WellBehavedClient&) = delete;

    // Starts probing; the transcription goes out after its lead.
    void start();
    // Stops after the probe in progress and the transcription (both bounded by their limits);
    // at least one health probe has been made.
    Result stop();

private:
    void probeHealth();
    void transcribe();

    int port_;
    std::string token_, body_, contentType_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    Result result_{};
    std::thread health_, transcription_;
};

}  // namespace sayloft::bench
