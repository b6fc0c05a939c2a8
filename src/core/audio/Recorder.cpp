#include "core/audio/Recorder.h"

#include <bit>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace sayloft {
namespace {

void putU32(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
    out[2] = static_cast<std::uint8_t>(value >> 16);
    out[3] = static_cast<std::uint8_t>(value >> 24);
}

void putU16(std::uint8_t* out, std::uint16_t value) {
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
}

constexpr bool hostIsLittleEndian() {
    return std::endian::native == std::endian::little;
}

}  // namespace

std::size_t Recorder::encodedWavSize(std::size_t sampleCount) {
    constexpr std::uint64_t maxRiffSize = std::numeric_limits<std::uint32_t>::max();
    // 36 + 2n <= 2^32 - 1, written so that the arithmetic itself cannot overflow.
    if (sampleCount > (maxRiffSize - 36) / 2) {
        throw std::length_error("encodeWav: too many samples for a 32-bit RIFF header");
    }
    return wavHeaderSize + 2 * sampleCount;
}

std::vector<std::uint8_t> Recorder::encodeWav(std::span<const std::int16_t> samples,
                                              std::int32_t sampleRate) {
    if (sampleRate < 0) {
        throw std::invalid_argument("encodeWav: negative sample rate");
    }
    const std::size_t total = encodedWavSize(samples.size());
    const auto dataSize = static_cast<std::uint32_t>(2 * samples.size());
    const auto rate = static_cast<std::uint32_t>(sampleRate);

    std::vector<std::uint8_t> wav(total);
    std::uint8_t* out = wav.data();
    std::memcpy(out + 0, "RIFF", 4);
    putU32(out + 4, 36 + dataSize);
    std::memcpy(out + 8, "WAVE", 4);
    std::memcpy(out + 12, "fmt ", 4);
    putU32(out + 16, 16);
    putU16(out + 20, 1);  // integer PCM
    putU16(out + 22, 1);  // mono
    putU32(out + 24, rate);
    putU32(out + 28, 2 * rate);
    putU16(out + 32, 2);   // block align
    putU16(out + 34, 16);  // bits per sample
    std::memcpy(out + 36, "data", 4);
    putU32(out + 40, dataSize);

    std::uint8_t* data = out + wavHeaderSize;
    if constexpr (hostIsLittleEndian()) {
        if (!samples.empty()) {
            std::memcpy(data, samples.data(), dataSize);
        }
    } else {
        for (std::size_t i = 0; i < samples.size(); ++i) {
            putU16(data + 2 * i, static_cast<std::uint16_t>(samples[i]));
        }
    }
    return wav;
}

}  // namespace sayloft
