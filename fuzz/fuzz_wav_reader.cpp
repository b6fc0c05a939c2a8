// Fuzzes WavReader::decode over arbitrary bytes. Beyond the sanitizers it checks the decoded
// audio against its header: whole frames of a supported layout, never more samples than the
// bytes could hold, integer samples within [-1, 1).
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "core/audio/WavReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const auto wav = sayloft::WavReader::decode(std::span(data, size), &error);
    if (!wav) {
        if (error.empty()) {
            std::abort();
        }
        return 0;
    }
    const std::size_t sampleBytes = wav->bitsPerSample / 8;
    if (wav->sampleRate == 0 || wav->channels == 0 || sampleBytes == 0 ||
        wav->samples.size() % wav->channels != 0 || wav->samples.size() * sampleBytes > size) {
        std::abort();
    }
    if (!wav->isFloat) {
        for (const float sample : wav->samples) {
            if (!(sample >= -1.0f && sample < 1.0f)) {
                std::abort();
            }
        }
    }
    return 0;
}
