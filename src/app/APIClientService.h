#pragma once

#include "app/TranscriptionService.h"
#include "core/net/APIClient.h"

namespace sayloft {

// The dictation session's view of the real service client. APIClient is thread-safe and keeps
// its own failures as the session expects them (an APIError as an APIFailure; a cancellation or
// anything else as a failure that is not an APIError), so this only forwards.
class APIClientService final : public TranscriptionService {
public:
    // client must outlive this object.
    explicit APIClientService(const APIClient& client) : client_(client) {}

    TranscribeResult transcribe(const std::string& token, std::span<const std::uint8_t> wav,
                                double audioSeconds, std::stop_token stop) override {
        return client_.transcribe(token, wav, audioSeconds, stop);
    }

    std::unique_ptr<TranscriptionStream> openStream(const std::string& token) override {
        return client_.openStream(token);
    }

    void ping(std::stop_token stop) noexcept override { client_.ping(stop); }

    std::string registerDevice(std::stop_token stop) override {
        return client_.registerDevice(stop);
    }

private:
    const APIClient& client_;
};

}  // namespace sayloft
