#include "core/audio/PcmConverter.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include <soxr.h>

namespace sayloft {

PcmConverter::PcmConverter(double inputRate, unsigned channels, double outputRate)
    : channels_(channels),
      passThrough_(inputRate == outputRate),
      outPerIn_(outputRate / inputRate) {
    if (!(inputRate > 0) || !std::isfinite(inputRate) || !(outputRate > 0) ||
        !std::isfinite(outputRate) || channels == 0) {
        throw std::invalid_argument("PcmConverter: the input needs a positive rate and channels");
    }
    if (passThrough_) {
        return;
    }
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    resampler_ = soxr_create(inputRate, outputRate, 1, &error, &io, &quality, nullptr);
    if (error != nullptr || resampler_ == nullptr) {
        throw std::runtime_error(std::string("PcmConverter: libsoxr refused: ") +
                                 (error != nullptr ? error : "unknown error"));
    }
}

PcmConverter::~PcmConverter() {
    if (resampler_ != nullptr) {
        soxr_delete(resampler_);
    }
}

std::int16_t PcmConverter::toInt16(float sample) {
    if (std::isnan(sample)) {
        return 0;
    }
    const float scaled = std::nearbyint(sample * 32768.0f);
    return static_cast<std::int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}

void PcmConverter::process(std::span<const float> interleaved, std::vector<std::int16_t>& out) {
    const std::size_t frames = interleaved.size() / channels_;
    const float* mono = interleaved.data();
    if (channels_ > 1) {
        mono_.resize(frames);
        const float scale = 1.0f / static_cast<float>(channels_);
        for (std::size_t frame = 0; frame < frames; ++frame) {
            const float* first = interleaved.data() + frame * channels_;
            float sum = 0.0f;
            for (unsigned channel = 0; channel < channels_; ++channel) {
                sum += first[channel];
            }
            mono_[frame] = sum * scale;
        }
        mono = mono_.data();
    }
    resample(mono, frames, out);
}

void PcmConverter::resample(const float* mono, std::size_t frames, std::vector<std::int16_t>& out) {
    if (passThrough_) {
        out.reserve(out.size() + frames);
        for (std::size_t i = 0; i < frames; ++i) {
            out.push_back(toInt16(mono[i]));
        }
        return;
    }
    // A null input asks soxr to drain what it holds.
    std::size_t remaining = frames;
    const float* input = mono;
    for (;;) {
        const auto room =
            static_cast<std::size_t>(static_cast<double>(remaining) * outPerIn_) + 256;
        resampled_.resize(room);
        std::size_t consumed = 0;
        std::size_t produced = 0;
        const soxr_error_t error =
            soxr_process(resampler_, input, input ? remaining : 0, input ? &consumed : nullptr,
                         resampled_.data(), room, &produced);
        if (error != nullptr) {
            throw std::runtime_error(std::string("PcmConverter: libsoxr failed: ") + error);
        }
        out.reserve(out.size() + produced);
        for (std::size_t i = 0; i < produced; ++i) {
            out.push_back(toInt16(resampled_[i]));
        }
        if (input != nullptr) {
            input += consumed;
            remaining -= consumed;
            if (remaining == 0 && produced < room) {
                return;
            }
        } else if (produced == 0) {
            return;
        }
    }
}

void PcmConverter::flush(std::vector<std::int16_t>& out) {
    if (!passThrough_) {
        resample(nullptr, 0, out);
    }
}

std::vector<std::int16_t> PcmConverter::toSpeechSamples(const DecodedWav& wav) {
    std::vector<std::int16_t> out;
    PcmConverter converter(wav.sampleRate, wav.channels);
    converter.process(wav.samples, out);
    converter.flush(out);
    return out;
}

}  // namespace sayloft
