#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/DictionaryWord.h"
#include "server/RecognizerSettings.h"
#include "server/SpeechRecognizer.h"

struct ps_decoder_s;

namespace sayloft {

// Recognition with CMU pocketsphinx and an acoustic model, language model and dictionary in one
// folder (Debian's pocketsphinx-en-us: <model>/en-us/, en-us.lm.bin, cmudict-en-us.dict).
// A pool of decoders is loaded once; each request takes a free one and gives it back, waiting at
// most queueTimeout for one before it is answered 503. Streams (openStream) take decoders only
// from their own share of streamDecoders, never waiting: so a stream never holds a decoder a
// one-shot request waits for. Every decoder uses live cepstral mean normalisation started
// afresh for each utterance (PocketSphinxUtterance): both paths give the same words for the
// same samples. pocketsphinx's own log (which would hold every transcript) is switched off.
class PocketSphinxRecognizer : public SpeechRecognizer {
public:
    static constexpr const char* defaultModelDir = "/usr/share/pocketsphinx/model/en-us";

    // nullptr with *error set when the model cannot be loaded or a setting is refused. words
    // join the dictionary (and the language model as single words) of every decoder; a word
    // pocketsphinx refuses (already known, a phone the model lacks) is left out and named in
    // *skipped when given.
    static std::unique_ptr<PocketSphinxRecognizer> load(
        const std::filesystem::path& modelDir, std::size_t decoders, std::size_t streamDecoders,
        std::chrono::milliseconds queueTimeout, const RecognizerSettings& settings,
        const std::vector<DictionaryWord>& words, std::string* error,
        std::vector<std::string>* skipped = nullptr);
    ~PocketSphinxRecognizer() override;

    Result recognize(std::span<const std::int16_t> samples) override;
    StreamOpening openStream() override;
    std::string describe() const override;

    // A stream's decoder comes back (PocketSphinxStream).
    void release(ps_decoder_s* streamDecoder);

private:
    PocketSphinxRecognizer(std::vector<ps_decoder_s*> decoders,
                           std::vector<ps_decoder_s*> streamDecoders,
                           std::chrono::milliseconds queueTimeout, std::vector<float> startMean);

    std::vector<ps_decoder_s*> all_;
    std::vector<ps_decoder_s*> free_;
    std::size_t streamCount_;
    std::vector<ps_decoder_s*> streamFree_;
    const std::vector<float> startMean_;
    std::chrono::milliseconds queueTimeout_;
    std::mutex mutex_;
    std::condition_variable released_;
};

}  // namespace sayloft
