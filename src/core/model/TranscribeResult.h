#pragma once

#include <string>

namespace sayloft {

// One transcription as the service returned it: the recognised text (UTF-8, not yet filtered)
// and the audio duration in seconds that the service measured.
struct TranscribeResult {
    std::string text;
    double duration = 0.0;

    friend bool operator==(const TranscribeResult&, const TranscribeResult&) = default;
};

}  // namespace sayloft
