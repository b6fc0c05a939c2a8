#include "server/EvaluationSet.h"

#include <algorithm>
#include <span>

#include "core/audio/PcmConverter.h"
#include "core/audio/WavReader.h"
#include "core/storage/FileIo.h"

namespace sayloft {

std::optional<std::vector<EvaluationSet::Utterance>> EvaluationSet::load(
    const std::filesystem::path& folder, std::string* error) {
    const auto fail = [&](std::string reason) -> std::optional<std::vector<Utterance>> {
        if (error != nullptr) {
            *error = std::move(reason);
        }
        return std::nullopt;
    };
    std::vector<std::filesystem::path> wavs;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().extension() == ".wav") {
            wavs.push_back(it->path());
        }
    }
    if (ec) {
        return fail("cannot read the folder " + folder.string() + ": " + ec.message());
    }
    if (wavs.empty()) {
        return fail("the folder " + folder.string() + " holds no .wav file");
    }
    std::sort(wavs.begin(), wavs.end());
    std::vector<Utterance> out;
    for (const auto& wav : wavs) {
        auto textFile = wav;
        textFile.replace_extension(".txt");
        const auto reference = FileIo::read(textFile);
        if (!reference) {
            return fail(wav.filename().string() + " has no reference text " +
                        textFile.filename().string());
        }
        const auto bytes = FileIo::read(wav);
        std::string reason = "unreadable";
        const auto decoded =
            bytes
                ? WavReader::decode(std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()),
                                              bytes->size()),
                                    &reason)
                : std::nullopt;
        auto samples =
            decoded ? PcmConverter::toSpeechSamples(*decoded) : std::vector<std::int16_t>();
        if (samples.empty()) {
            return fail(wav.filename().string() + " is not a usable WAV file: " + reason);
        }
        out.push_back({wav.stem().string(), *reference, std::move(samples)});
    }
    return out;
}

}  // namespace sayloft
