#include "core/audio/WavReader.h"

#include <cstring>

namespace sayloft {
namespace {

constexpr std::uint16_t formatPcm = 0x0001;
constexpr std::uint16_t formatFloat = 0x0003;
constexpr std::uint16_t formatExtensible = 0xFFFE;

std::uint16_t u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

struct Format {
    std::uint16_t code = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bits = 0;
};

std::optional<DecodedWav> fail(std::string* error, std::string reason) {
    if (error != nullptr) {
        *error = std::move(reason);
    }
    return std::nullopt;
}

std::string hex(std::uint16_t value) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 12; shift >= 0; shift -= 4) {
        text += digits[(value >> shift) & 0xF];
    }
    return text;
}

float sampleAt(const std::uint8_t* p, const Format& format) {
    if (format.code == formatFloat) {
        if (format.bits == 32) {
            float value = 0;
            const std::uint32_t raw = u32(p);
            std::memcpy(&value, &raw, sizeof value);
            return value;
        }
        const std::uint64_t raw = u32(p) | static_cast<std::uint64_t>(u32(p + 4)) << 32;
        double value = 0;
        std::memcpy(&value, &raw, sizeof value);
        return static_cast<float>(value);
    }
    switch (format.bits) {
        case 8:
            return (static_cast<float>(p[0]) - 128.0f) / 128.0f;
        case 16:
            return static_cast<float>(static_cast<std::int16_t>(u16(p))) / 32768.0f;
        case 24: {
            const std::uint32_t raw = static_cast<std::uint32_t>(p[0]) << 8 |
                                      static_cast<std::uint32_t>(p[1]) << 16 |
                                      static_cast<std::uint32_t>(p[2]) << 24;
            return static_cast<float>(static_cast<std::int32_t>(raw)) / 2147483648.0f;
        }
        default:
            // A float holds 24 bits: the sample is cut to its top 24 bits first, since rounding
            // all 32 would take the largest ones to 1.0, outside [-1, 1).
            return static_cast<float>(static_cast<std::int32_t>(u32(p)) >> 8) / 8388608.0f;
    }
}

}  // namespace

std::optional<DecodedWav> WavReader::decode(std::span<const std::uint8_t> bytes,
                                            std::string* error) {
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        return fail(error, "not a RIFF/WAVE file");
    }
    std::optional<Format> format;
    std::size_t offset = 12;
    while (offset + 8 <= bytes.size()) {
        const std::uint8_t* chunk = bytes.data() + offset;
        const std::uint32_t size = u32(chunk + 4);
        const std::size_t available = bytes.size() - offset - 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16 || size > available) {
                return fail(error, "fmt chunk is " + std::to_string(size) +
                                       " bytes, which is too short or runs past the end of the "
                                       "file");
            }
            Format parsed{u16(chunk + 8), u16(chunk + 10), u32(chunk + 12), u16(chunk + 20),
                          u16(chunk + 22)};
            if (parsed.code == formatExtensible) {
                if (size < 40) {
                    return fail(error, "extensible fmt chunk is shorter than 40 bytes");
                }
                parsed.code = u16(chunk + 8 + 24);  // first two bytes of the sub-format GUID
            }
            format = parsed;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!format) {
                return fail(error, "data chunk comes before the fmt chunk");
            }
            if (size > available) {
                return fail(error, "data chunk truncated: header says " + std::to_string(size) +
                                       " bytes, file has " + std::to_string(available));
            }
            const Format& f = *format;
            const bool supported = (f.code == formatPcm && (f.bits == 8 || f.bits == 16 ||
                                                            f.bits == 24 || f.bits == 32)) ||
                                   (f.code == formatFloat && (f.bits == 32 || f.bits == 64));
            if (f.code != formatPcm && f.code != formatFloat) {
                return fail(error, "compressed WAV (format " + hex(f.code) + ") is not supported");
            }
            if (!supported) {
                return fail(error, std::to_string(f.bits) + "-bit " +
                                       (f.code == formatFloat ? "float" : "integer") +
                                       " samples are not supported");
            }
            if (f.channels == 0 || f.sampleRate == 0) {
                return fail(error, "the fmt chunk declares no channels or a sample rate of 0");
            }
            const std::size_t frameBytes = static_cast<std::size_t>(f.channels) * (f.bits / 8);
            if (f.blockAlign != frameBytes) {
                return fail(error, "block align " + std::to_string(f.blockAlign) +
                                       " does not match " + std::to_string(f.channels) +
                                       " channels of " + std::to_string(f.bits) + " bits");
            }
            if (size % frameBytes != 0) {
                return fail(error, "data chunk of " + std::to_string(size) +
                                       " bytes is not a whole number of " +
                                       std::to_string(frameBytes) + "-byte frames");
            }
            DecodedWav wav;
            wav.sampleRate = f.sampleRate;
            wav.channels = f.channels;
            wav.bitsPerSample = f.bits;
            wav.isFloat = f.code == formatFloat;
            const std::size_t sampleBytes = f.bits / 8;
            const std::size_t count = size / sampleBytes;
            wav.samples.resize(count);
            const std::uint8_t* data = chunk + 8;
            for (std::size_t i = 0; i < count; ++i) {
                wav.samples[i] = sampleAt(data + i * sampleBytes, f);
            }
            return wav;
        }
        // Chunks are padded to an even size.
        const std::size_t advance = 8 + static_cast<std::size_t>(size) + (size & 1u);
        if (advance > bytes.size() - offset) {
            break;
        }
        offset += advance;
    }
    return fail(error, format ? "no data chunk" : "no fmt chunk");
}

}  // namespace sayloft
