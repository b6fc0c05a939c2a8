#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace sayloft {

// Turns speech into text. Implementations are shared by every request thread and must be
// thread-safe.
class SpeechRecognizer {
public:
    struct Result {
        bool ok = false;
        std::string text;           // when ok
        int status = 0;             // when not ok: the HTTP status the service answers (502, 503)
        std::string error;          // when not ok: a one-line reason, free of audio and text
        int retryAfterSeconds = 0;  // with a 503, when known: when trying again is worthwhile
    };

    virtual ~SpeechRecognizer() = default;

    // samples: 16 kHz mono signed 16-bit, at least one.
    virtual Result recognize(std::span<const std::int16_t> samples) = 0;

    // What recognises, for the health answer and the start-up line ("pocketsphinx en-us x2").
    virtual std::string describe() const = 0;
};

}  // namespace sayloft
