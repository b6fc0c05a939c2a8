#pragma once

#include <optional>
#include <vector>

#include "server/PocketSphinxUtterance.h"
#include "server/RecognitionStream.h"

namespace sayloft {

class PocketSphinxRecognizer;

// A stream on one of PocketSphinxRecognizer's stream decoders, which it gives back when
// destroyed (finished or not).
class PocketSphinxStream : public RecognitionStream {
public:
    PocketSphinxStream(PocketSphinxRecognizer& owner, ps_decoder_s* decoder,
                       const std::vector<float>& startMean);
    ~PocketSphinxStream() override;

    void feed(std::span<const std::int16_t> samples) override;
    SpeechRecognizer::Result finish() override;

private:
    PocketSphinxRecognizer& owner_;
    ps_decoder_s* decoder_;
    std::optional<PocketSphinxUtterance> utterance_;
};

}  // namespace sayloft
