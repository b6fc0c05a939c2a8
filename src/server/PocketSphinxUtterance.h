#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "server/SpeechRecognizer.h"

struct ps_decoder_s;

namespace sayloft {

// One utterance on one pocketsphinx decoder, the same way whether its samples come at once or
// in pieces of any size: the decoder is fed blocks of exactly blockSamples (the last one
// shorter), and every utterance starts from the same state: a fresh noise estimate and the
// same live cepstral mean (startMean, the model's initial one). So the features, and the words,
// depend on the samples alone: an uploaded recording and the same samples streamed in any pieces
// give the same text. Destroying it unfinished ends the utterance and drops its result: the decoder
// is ready for the next one.
class PocketSphinxUtterance {
public:
    static constexpr std::size_t blockSamples = 1600;  // 100 ms

    PocketSphinxUtterance(ps_decoder_s* decoder, const std::vector<float>& startMean);
    ~PocketSphinxUtterance();
    PocketSphinxUtterance(const PocketSphinxUtterance&) = delete;
    PocketSphinxUtterance& operator=(const PocketSphinxUtterance&) = delete;

    void feed(std::span<const std::int16_t> samples);
    SpeechRecognizer::Result finish();

    // The live cepstral mean a freshly loaded decoder starts from (the model's -cmninit).
    static std::vector<float> currentMean(ps_decoder_s* decoder);

private:
    void process(const std::int16_t* samples, std::size_t count);

    ps_decoder_s* decoder_;
    std::vector<std::int16_t> pending_;  // fewer than blockSamples, waiting for the rest
    bool failed_ = false;
    bool ended_ = false;
};

}  // namespace sayloft
