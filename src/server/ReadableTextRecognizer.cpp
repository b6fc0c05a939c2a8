#include "server/ReadableTextRecognizer.h"

#include "server/ReadableText.h"

namespace sayloft {

ReadableTextRecognizer::ReadableTextRecognizer(std::unique_ptr<SpeechRecognizer> words)
    : words_(std::move(words)) {
}

SpeechRecognizer::Result ReadableTextRecognizer::recognize(std::span<const std::int16_t> samples) {
    Result result = words_->recognize(samples);
    if (result.ok) {
        result.text = ReadableText::of(result.text);
    }
    return result;
}

std::string ReadableTextRecognizer::describe() const {
    return words_->describe();
}

}  // namespace sayloft
