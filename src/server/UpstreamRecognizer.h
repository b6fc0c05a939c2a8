#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "server/SpeechRecognizer.h"

namespace sayloft {

class CurlSession;

// Forwards each recording, as a 16 kHz mono 16-bit WAV, to an OpenAI-compatible transcription
// endpoint: POST <base>/v1/audio/transcriptions, multipart parts "file" and "model", with
// "Authorization: Bearer <apiKey>" when a key is given, expecting {"text": "..."}. An upstream
// that cannot be reached or times out is a 503; one that answers anything but 200 with that
// JSON is a 502 (its status 429 or 503 stays a 503: it is busy, not broken).
class UpstreamRecognizer : public SpeechRecognizer {
public:
    // baseUrl: http(s)://host[:port][/path-prefix]. nullptr with *error when it does not parse.
    static std::unique_ptr<UpstreamRecognizer> create(const std::string& baseUrl, std::string model,
                                                      std::string apiKey,
                                                      std::chrono::milliseconds timeout,
                                                      std::string* error);

    ~UpstreamRecognizer() override;

    // Thread-safe: requests share one connection pool (CurlSession).
    Result recognize(std::span<const std::int16_t> samples) override;
    std::string describe() const override;

private:
    UpstreamRecognizer(std::string origin, std::string path, std::string model, std::string apiKey,
                       std::chrono::milliseconds timeout);

    std::string origin_;  // scheme://host[:port]
    std::string path_;    // prefix + "/v1/audio/transcriptions"
    std::string model_;
    std::string apiKey_;
    std::chrono::milliseconds timeout_;
    std::unique_ptr<CurlSession> session_;
};

}  // namespace sayloft
