#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stop_token>
#include <string>

#include "core/model/TranscribeResult.h"
#include "core/net/TranscriptionStream.h"

namespace sayloft {

// What the dictation session and the first run need of the transcription service. Called on worker
// threads, possibly several at once (a ping beside a transcription): implementations are
// thread-safe.
class TranscriptionService {
public:
    virtual ~TranscriptionService() = default;

    // Sends one recording (WAV bytes, its length in seconds) with the device token and returns
    // the service's answer. Blocks until then. Failures are exceptions: an APIFailure carrying the
    // APIError; anything else (DeadlineExceeded, std::exception, ...) is a failure that
    // is not an APIError. A stop request ends the call early with some failure.
    virtual TranscribeResult transcribe(const std::string& token, std::span<const std::uint8_t> wav,
                                        double audioSeconds, std::stop_token stop) = 0;

    // Main thread. Opens a recognition streamed while the user speaks (TranscriptionStream), or
    // nullptr when this service is not one that streams. Returns at once: the stream connects
    // in the background and any failure shows at its finish().
    virtual std::unique_ptr<TranscriptionStream> openStream(const std::string& token) {
        (void)token;
        return nullptr;
    }

    // Keeps the connection to the service warm. The outcome does not matter; never throws.
    virtual void ping(std::stop_token stop) noexcept = 0;

    // Obtains a new device token from the service (POST v1/register) and returns it, never
    // empty. Blocks until then. Failures as for transcribe, and RegistrationNotOffered when the
    // service gives out no tokens itself.
    virtual std::string registerDevice(std::stop_token stop) = 0;
};

}  // namespace sayloft
