#include "server/ReadableTextRecognizer.h"

#include "server/ReadableText.h"
#include "server/RecognitionStream.h"

namespace sayloft {
namespace {

class ReadableTextStream : public RecognitionStream {
public:
    explicit ReadableTextStream(std::unique_ptr<RecognitionStream> words)
        : words_(std::move(words)) {}
    void feed(std::span<const std::int16_t> samples) override { words_->feed(samples); }
    SpeechRecognizer::Result finish() override {
        auto result = words_->finish();
        if (result.ok) {
            result.text = ReadableText::of(result.text);
        }
        return result;
    }

private:
    std::unique_ptr<RecognitionStream> words_;
};

}  // namespace

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

SpeechRecognizer::StreamOpening ReadableTextRecognizer::openStream() {
    auto opening = words_->openStream();
    if (opening.stream) {
        opening.stream = std::make_unique<ReadableTextStream>(std::move(opening.stream));
    }
    return opening;
}

std::string ReadableTextRecognizer::describe() const {
    return words_->describe();
}

}  // namespace sayloft
