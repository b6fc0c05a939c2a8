#include "server/PocketSphinxRecognizer.h"

#include <algorithm>
#include <cstdio>

#include <pocketsphinx.h>
#include <sphinxbase/ckd_alloc.h>
#include <sphinxbase/err.h>

#include "server/PocketSphinxStream.h"
#include "server/PocketSphinxUtterance.h"

namespace sayloft {

std::unique_ptr<PocketSphinxRecognizer> PocketSphinxRecognizer::load(
    const std::filesystem::path& modelDir, std::size_t decoders, std::size_t streamDecoders,
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
    const std::size_t oneShot = std::max<std::size_t>(1, decoders);
    for (std::size_t i = 0; i < oneShot + streamDecoders; ++i) {
        // Live mean normalisation (the model's own is batch, which needs the whole utterance
        // before its first frame): a stream is decoded while it arrives.
        std::vector<std::string> arguments = {
            "-hmm",   acoustic.string(),   "-lm",  language.string(),
            "-dict",  dictionary.string(), "-cmn", "live",
            "-logfn", "/dev/null"};
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
    auto startMean = PocketSphinxUtterance::currentMean(loaded.front());
    std::vector<ps_decoder_t*> streams(loaded.begin() + static_cast<std::ptrdiff_t>(oneShot),
                                       loaded.end());
    loaded.resize(oneShot);
    return std::unique_ptr<PocketSphinxRecognizer>(new PocketSphinxRecognizer(
        std::move(loaded), std::move(streams), queueTimeout, std::move(startMean)));
}

PocketSphinxRecognizer::PocketSphinxRecognizer(std::vector<ps_decoder_t*> decoders,
                                               std::vector<ps_decoder_t*> streamDecoders,
                                               std::chrono::milliseconds queueTimeout,
                                               std::vector<float> startMean)
    : all_(decoders),
      free_(std::move(decoders)),
      streamCount_(streamDecoders.size()),
      streamFree_(std::move(streamDecoders)),
      startMean_(std::move(startMean)),
      queueTimeout_(queueTimeout) {
}

PocketSphinxRecognizer::~PocketSphinxRecognizer() {
    // Streams are gone by now: every stream decoder is back.
    for (auto* decoder : all_) {
        ps_free(decoder);
    }
    for (auto* decoder : streamFree_) {
        ps_free(decoder);
    }
}

SpeechRecognizer::StreamOpening PocketSphinxRecognizer::openStream() {
    if (streamCount_ == 0) {
        return {nullptr, StreamOpening::Refusal::unsupported};
    }
    ps_decoder_t* decoder = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (streamFree_.empty()) {
            return {nullptr, StreamOpening::Refusal::busy};
        }
        decoder = streamFree_.back();
        streamFree_.pop_back();
    }
    return {std::make_unique<PocketSphinxStream>(*this, decoder, startMean_),
            StreamOpening::Refusal::none};
}

void PocketSphinxRecognizer::release(ps_decoder_t* streamDecoder) {
    std::lock_guard lock(mutex_);
    streamFree_.push_back(streamDecoder);
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
    Result result;
    {
        PocketSphinxUtterance utterance(decoder, startMean_);
        utterance.feed(samples);
        result = utterance.finish();
    }
    {
        std::lock_guard lock(mutex_);
        free_.push_back(decoder);
    }
    released_.notify_one();
    return result;
}

std::string PocketSphinxRecognizer::describe() const {
    return "pocketsphinx en-us x" + std::to_string(all_.size()) +
           (streamCount_ > 0 ? " +" + std::to_string(streamCount_) + " streaming" : "");
}

}  // namespace sayloft
