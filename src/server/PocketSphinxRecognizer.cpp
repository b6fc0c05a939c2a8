#include "server/PocketSphinxRecognizer.h"

#include <algorithm>
#include <cstdio>

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

namespace sayloft {

std::unique_ptr<PocketSphinxRecognizer> PocketSphinxRecognizer::load(
    const std::filesystem::path& modelDir, std::size_t decoders,
    std::chrono::milliseconds queueTimeout, std::string* error) {
    const auto fail = [&](std::string reason) -> std::unique_ptr<PocketSphinxRecognizer> {
        if (error != nullptr) {
            *error = std::move(reason);
        }
        return nullptr;
    };
    const auto acoustic = modelDir / "en-us";
    const auto language = modelDir / "en-us.lm.bin";
    const auto dictionary = modelDir / "cmudict-en-us.dict";
    for (const auto& needed : {acoustic / "mdef", language, dictionary}) {
        std::error_code ec;
        if (!std::filesystem::exists(needed, ec)) {
            return fail("speech model file " + needed.string() +
                        " is missing (Debian package pocketsphinx-en-us)");
        }
    }
    // pocketsphinx logs every hypothesis; the service never records what was said.
    err_set_logfp(nullptr);

    std::vector<ps_decoder_t*> loaded;
    for (std::size_t i = 0; i < std::max<std::size_t>(1, decoders); ++i) {
        cmd_ln_t* config =
            cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", acoustic.c_str(), "-lm", language.c_str(),
                        "-dict", dictionary.c_str(), "-logfn", "/dev/null", nullptr);
        ps_decoder_t* decoder = config != nullptr ? ps_init(config) : nullptr;
        if (config != nullptr) {
            cmd_ln_free_r(config);  // the decoder keeps its own reference
        }
        if (decoder == nullptr) {
            for (auto* d : loaded) {
                ps_free(d);
            }
            return fail("pocketsphinx could not load the model in " + modelDir.string());
        }
        loaded.push_back(decoder);
    }
    return std::unique_ptr<PocketSphinxRecognizer>(
        new PocketSphinxRecognizer(std::move(loaded), queueTimeout));
}

PocketSphinxRecognizer::PocketSphinxRecognizer(std::vector<ps_decoder_t*> decoders,
                                               std::chrono::milliseconds queueTimeout)
    : all_(decoders), free_(std::move(decoders)), queueTimeout_(queueTimeout) {
}

PocketSphinxRecognizer::~PocketSphinxRecognizer() {
    for (auto* decoder : all_) {
        ps_free(decoder);
    }
}

SpeechRecognizer::Result PocketSphinxRecognizer::recognize(std::span<const std::int16_t> samples) {
    ps_decoder_t* decoder = nullptr;
    {
        std::unique_lock lock(mutex_);
        if (!released_.wait_for(lock, queueTimeout_, [&] { return !free_.empty(); })) {
            return {false, {}, 503, "every decoder stayed busy"};
        }
        decoder = free_.back();
        free_.pop_back();
    }
    Result result{false, {}, 503, "the decoder failed"};
    if (ps_start_utt(decoder) == 0) {
        // The utterance is ended whatever happened, so the decoder is ready for the next one.
        const bool processed =
            ps_process_raw(decoder, samples.data(), samples.size(), FALSE, TRUE) >= 0;
        if (ps_end_utt(decoder) == 0 && processed) {
            const char* hypothesis = ps_get_hyp(decoder, nullptr);
            result = {true, hypothesis != nullptr ? hypothesis : "", 0, {}};
        }
    }
    {
        std::lock_guard lock(mutex_);
        free_.push_back(decoder);
    }
    released_.notify_one();
    return result;
}

std::string PocketSphinxRecognizer::describe() const {
    return "pocketsphinx en-us x" + std::to_string(all_.size());
}

}  // namespace sayloft
