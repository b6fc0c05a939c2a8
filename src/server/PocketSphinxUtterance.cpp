#include "server/PocketSphinxUtterance.h"

#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/fe.h>
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
    : decoder_(decoder), startMean_(startMean) {
    head_.reserve(headSamples);
    pending_.reserve(blockSamples);
}

namespace {

// The mean of the cepstra the decoder's front end makes of these samples, or `fallback` when it
// makes none. The front end is started again by the utterance that follows.
std::vector<float> cepstralMean(ps_decoder_t* decoder, std::span<const std::int16_t> samples,
                                const std::vector<float>& fallback) {
    fe_t* fe = ps_get_fe(decoder);
    mfcc_t** cepstra = nullptr;
    int32 frames = 0;
    std::vector<float> mean = fallback;
    if (fe_start_utt(fe) == 0 &&
        fe_process_utt(fe, samples.data(), samples.size(), &cepstra, &frames) == 0 &&
        cepstra != nullptr && frames > 0) {
        std::vector<double> sum(mean.size(), 0.0);
        for (int32 f = 0; f < frames; ++f) {
            for (std::size_t c = 0; c < sum.size(); ++c) {
                sum[c] += cepstra[f][c];
            }
        }
        for (std::size_t c = 0; c < sum.size(); ++c) {
            mean[c] = static_cast<float>(sum[c] / frames);
        }
    }
    if (cepstra != nullptr) {
        fe_free_2d(cepstra);
    }
    int32 tail = 0;
    std::vector<mfcc_t> last(static_cast<std::size_t>(fe_get_output_size(fe)));
    fe_end_utt(fe, last.data(), &tail);
    return mean;
}

}  // namespace

void PocketSphinxUtterance::startFromHead() {
    started_ = true;
    const std::vector<float> mean = cepstralMean(decoder_, head_, startMean_);
    // A decoder carries state over from the utterance before: its noise level estimate (reset
    // by a new stream, also after the measurement above) and its live cepstral mean (set here).
    failed_ = ps_start_stream(decoder_) != 0;
    cmn_live_set(ps_get_feat(decoder_)->cmn_struct, reinterpret_cast<const mfcc_t*>(mean.data()));
    failed_ = failed_ || ps_start_utt(decoder_) != 0;
    ended_ = failed_;
    feedBlocks(head_);
    head_.clear();
    head_.shrink_to_fit();
}

PocketSphinxUtterance::~PocketSphinxUtterance() {
    if (started_ && !ended_) {
        ps_end_utt(decoder_);
    }
}

void PocketSphinxUtterance::process(const std::int16_t* samples, std::size_t count) {
    if (!failed_ && ps_process_raw(decoder_, samples, count, FALSE, FALSE) < 0) {
        failed_ = true;
    }
}

void PocketSphinxUtterance::feed(std::span<const std::int16_t> samples) {
    if (!started_) {
        const std::size_t take = std::min(headSamples - head_.size(), samples.size());
        head_.insert(head_.end(), samples.begin(), samples.begin() + take);
        samples = samples.subspan(take);
        if (head_.size() < headSamples) {
            return;
        }
        startFromHead();
    }
    feedBlocks(samples);
}

void PocketSphinxUtterance::feedBlocks(std::span<const std::int16_t> samples) {
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
    if (!started_) {
        startFromHead();
    }
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
