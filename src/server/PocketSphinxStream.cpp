#include "server/PocketSphinxStream.h"

#include "server/PocketSphinxRecognizer.h"

namespace sayloft {

PocketSphinxStream::PocketSphinxStream(PocketSphinxRecognizer& owner, ps_decoder_s* decoder,
                                       const std::vector<float>& startMean)
    : owner_(owner), decoder_(decoder) {
    utterance_.emplace(decoder, startMean);
}

PocketSphinxStream::~PocketSphinxStream() {
    utterance_.reset();  // ends the utterance first: the decoder goes back ready
    owner_.release(decoder_);
}

void PocketSphinxStream::feed(std::span<const std::int16_t> samples) {
    utterance_->feed(samples);
}

SpeechRecognizer::Result PocketSphinxStream::finish() {
    return utterance_->finish();
}

}  // namespace sayloft
