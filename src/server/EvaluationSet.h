#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace sayloft {

// Recordings with the words spoken in them, for measuring a recogniser: every NAME.wav in a
// folder (any layout WavReader reads; converted to 16 kHz mono) with NAME.txt beside it holding
// the reference text. Files are taken in name order.
struct EvaluationSet {
    struct Utterance {
        std::string name;
        std::string reference;
        std::vector<std::int16_t> samples;  // 16 kHz mono
    };

    // nullopt with *error set when the folder cannot be read, holds no WAV file, or a WAV file
    // is unreadable or lacks its text.
    static std::optional<std::vector<Utterance>> load(const std::filesystem::path& folder,
                                                      std::string* error);
};

}  // namespace sayloft
