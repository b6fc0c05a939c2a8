#include "server/PocketSphinxUtterance.h"

#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/feat.h>

namespace sayloft {

static_assert(sizeof(mfcc_t) == sizeof(float), "pocketsphinx built with floating-point features");

std::vector<float> PocketSphinxUtterance::currentMean(ps_decoder_t* decoder) {
    cmn_t* cmn = ps_get_feat(decoder)->cmn_struct;
    std::vector<float> mean(static_cast<std::size_t>(cmn->veclen));
    cmn_live_get(cmn, reinterpret_cast<mfcc_t*>(mean.data()));
    return mean;
}

PocketSphinxUtterance::PocketSphinxUtterance(ps_decoder_t* decoder,
                                             const std::vector<float>& startMean)
    : decoder_(decoder) {
    // A decoder carries state over from the utterance before: its noise level estimate (reset
    // by a new stream) and its live cepstral mean (put back to the start one).
    failed_ = ps_start_stream(decoder_) != 0;
    cmn_live_set(ps_get_feat(decoder_)->cmn_struct,
                 reinterpret_cast<const mfcc_t*>(startMean.data()));
    failed_ = failed_ || ps_start_utt(decoder_) != 0;
    ended_ = failed_;
    pending_.reserve(blockSamples);
}

PocketSphinxUtterance::~PocketSphinxUtterance() {
    if (!ended_) {
        ps_end_utt(decoder_);
    }
}

void PocketSphinxUtterance::process(const std::int16_t* samples, std::size_t count) {
    if (!failed_ && ps_process_raw(decoder_, samples, count, FALSE, FALSE) < 0) {
        failed_ = true;
    }
}

void PocketSphinxUtterance::feed(std::span<const std::int16_t> samples) {
    while (!samples.empty()) {
        if (pending_.empty() && samples.size() >= blockSamples) {
            process(samples.data(), blockSamples);
            samples = samples.subspan(blockSamples);
            continue;
        }
        const std::size_t take = std::min(blockSamples - pending_.size(), samples.size());
        pending_.insert(pending_.end(), samples.begin(), samples.begin() + take);
        samples = samples.subspan(take);
        if (pending_.size() == blockSamples) {
            process(pending_.data(), pending_.size());
            pending_.clear();
        }
    }
}

SpeechRecognizer::Result PocketSphinxUtterance::finish() {
    if (!pending_.empty()) {
        process(pending_.data(), pending_.size());
        pending_.clear();
    }
    SpeechRecognizer::Result result{false, {}, 503, "the decoder failed"};
    if (ended_) {
        return result;
    }
    ended_ = true;
    if (ps_end_utt(decoder_) == 0 && !failed_) {
        const char* hypothesis = ps_get_hyp(decoder_, nullptr);
        result = {true, hypothesis != nullptr ? hypothesis : "", 0, {}};
    }
    return result;
}

}  // namespace sayloft
