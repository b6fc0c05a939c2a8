#include "server/SpeechRecognizer.h"

#include "server/RecognitionStream.h"

namespace sayloft {

SpeechRecognizer::StreamOpening::StreamOpening() = default;
SpeechRecognizer::StreamOpening::StreamOpening(std::unique_ptr<RecognitionStream> opened,
                                               Refusal why)
    : stream(std::move(opened)), refusal(why) {
}
SpeechRecognizer::StreamOpening::StreamOpening(StreamOpening&&) noexcept = default;
SpeechRecognizer::StreamOpening::~StreamOpening() = default;

SpeechRecognizer::StreamOpening SpeechRecognizer::openStream() {
    return {nullptr, StreamOpening::Refusal::unsupported};
}

}  // namespace sayloft
