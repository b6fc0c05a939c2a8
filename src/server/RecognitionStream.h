#pragma once

#include <cstdint>
#include <span>

#include "server/SpeechRecognizer.h"

namespace sayloft {

// One utterance recognised while it arrives (SpeechRecognizer::openStream). Used from one
// thread at a time. Destroying it without finish() discards the audio fed so far and frees its
// recogniser at once.
class RecognitionStream {
public:
    virtual ~RecognitionStream() = default;
    // samples: 16 kHz mono, the utterance's next ones (any count, also none).
    virtual void feed(std::span<const std::int16_t> samples) = 0;
    // The utterance ends: its text, as SpeechRecognizer::recognize would answer the whole of it.
    // Called at most once; nothing is fed after it.
    virtual SpeechRecognizer::Result finish() = 0;
};

}  // namespace sayloft
