#include "server/PocketSphinxRecognizer.h"

#include <algorithm>
#include <cstdio>

#include <pocketsphinx.h>
#include <sphinxbase/ckd_alloc.h>
#include <sphinxbase/err.h>

namespace sayloft {

std::unique_ptr<PocketSphinxRecognizer> PocketSphinxRecognizer::load(
    const std::filesystem::path& modelDir, std::size_t decoders,
    std::chrono::milliseconds queueTimeout, const RecognizerSettings& settings,
    const std::vector<DictionaryWord>& words, std::string* error,
    std::vector<std::string>* skipped) {
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
        std::vector<std::string> arguments = {
            "-hmm",  acoustic.string(),   "-lm",    language.string(),
            "-dict", dictionary.string(), "-logfn", "/dev/null"};
        for (auto& setting : settings.arguments()) {
            arguments.push_back(std::move(setting));
        }
        std::vector<char*> argv;
        for (auto& argument : arguments) {
            argv.push_back(argument.data());
        }
        cmd_ln_t* config =
            cmd_ln_parse_r(nullptr, ps_args(), static_cast<int32>(argv.size()), argv.data(), FALSE);
        ps_decoder_t* decoder = config != nullptr ? ps_init(config) : nullptr;
        if (config != nullptr) {
            cmd_ln_free_r(config);  // the decoder keeps its own reference
        }
        if (decoder == nullptr) {
            for (auto* d : loaded) {
                ps_free(d);
            }
            return fail("pocketsphinx could not load the model in " + modelDir.string() +
                        " with the search settings " + settings.describe());
        }
        loaded.push_back(decoder);
        // Words the dictionary already holds are left as they are; the search is rebuilt once,
        // with the last new word.
        std::vector<const DictionaryWord*> fresh;
        for (const auto& word : words) {
            char* known = ps_lookup_word(decoder, word.word.c_str());
            if (known != nullptr) {
                ckd_free(known);
            } else {
                fresh.push_back(&word);
            }
        }
        for (std::size_t w = 0; w < fresh.size(); ++w) {
            const bool last = w + 1 == fresh.size();
            if (ps_add_word(decoder, fresh[w]->word.c_str(), fresh[w]->phones.c_str(),
                            last ? TRUE : FALSE) < 0 &&
                i == 0 && skipped != nullptr) {
                skipped->push_back(fresh[w]->word);
            }
        }
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
