#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace sayloft {

class RecognitionStream;

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

    // A stream of one utterance, or why there is none.
    struct StreamOpening {
        enum class Refusal { none, unsupported, busy };
        std::unique_ptr<RecognitionStream> stream{};
        Refusal refusal = Refusal::none;  // unsupported: never; busy: none free now

        StreamOpening();
        StreamOpening(std::unique_ptr<RecognitionStream> opened, Refusal why);
        StreamOpening(StreamOpening&&) noexcept;
        ~StreamOpening();
    };

    virtual ~SpeechRecognizer() = default;

    // samples: 16 kHz mono signed 16-bit, at least one.
    virtual Result recognize(std::span<const std::int16_t> samples) = 0;

    // Opens a stream that recognises samples as they are fed, without waiting: refused busy
    // when no recogniser for streams is free. This default streams nothing.
    virtual StreamOpening openStream();

    // What recognises, for the health answer and the start-up line ("pocketsphinx en-us x2").
    virtual std::string describe() const = 0;
};

}  // namespace sayloft
