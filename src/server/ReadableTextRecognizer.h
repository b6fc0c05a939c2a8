#pragma once

#include <memory>
#include <string>

#include "server/SpeechRecognizer.h"

namespace sayloft {

// Wraps the built-in recogniser so that the service answers written sentences (ReadableText)
// instead of its bare lower-case words. Failures pass through unchanged. Not used with
// --upstream, whose text is answered as the upstream gave it, nor with --raw-text.
class ReadableTextRecognizer : public SpeechRecognizer {
public:
    explicit ReadableTextRecognizer(std::unique_ptr<SpeechRecognizer> words);

    Result recognize(std::span<const std::int16_t> samples) override;
    // The wrapped recogniser's stream, whose text is made readable the same way.
    StreamOpening openStream() override;
    // The wrapped recogniser's description: the health answer names what recognises.
    std::string describe() const override;

private:
    std::unique_ptr<SpeechRecognizer> words_;
};

}  // namespace sayloft
