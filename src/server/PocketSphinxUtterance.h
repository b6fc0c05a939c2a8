#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "server/SpeechRecognizer.h"

struct ps_decoder_s;

namespace sayloft {

// One utterance on one pocketsphinx decoder, the same way whether its samples come at once or
// in pieces of any size, so that an uploaded recording and the same samples streamed in any
// pieces give the same text.
//
// Normalisation: the decoder subtracts a live cepstral mean, which must be right from the first
// frame (the model's initial mean suits few microphones; a wrong one costs many words on short
// recordings). So the first headSamples (or the whole utterance, when it is shorter) are held
// back, their mean is measured, and decoding starts from that mean with a fresh noise estimate;
// the live mean then follows the speech as usual. The decoder is fed blocks of exactly
// blockSamples (the last one shorter). Every utterance thus depends on its samples alone, never on
// what the decoder heard before. Destroying it unfinished ends the utterance and drops its result:
// the decoder is ready for the next one.
class PocketSphinxUtterance {
public:
    static constexpr std::size_t blockSamples = 1600;  // 100 ms
    static constexpr std::size_t headSamples = 32000;  // 2 s: measured before decoding starts

    // startMean: the mean used when the head yields no frame to measure (the model's initial one).
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
    void feedBlocks(std::span<const std::int16_t> samples);
    // Measures the head's mean, starts the utterance from it and decodes the head.
    void startFromHead();

    ps_decoder_s* decoder_;
    std::vector<float> startMean_;
    std::vector<std::int16_t> head_;  // until the utterance has started
    bool started_ = false;
    std::vector<std::int16_t> pending_;  // fewer than blockSamples, waiting for the rest
    bool failed_ = false;
    bool ended_ = false;
};

}  // namespace sayloft
