#include "core/audio/Recorder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "core/audio/PcmConverter.h"
#include "core/audio/RecorderFailure.h"
#include "core/config/Config.h"

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

static_assert(Recorder::maxSamples ==
              static_cast<std::size_t>(Config::maxRecordSeconds * Config::sampleRate));

// What the tap shares with the recorder. A new one is made at every start(), so a late block from
// an earlier engine can never reach a later capture.
struct Recorder::Capture {
    std::mutex mutex;
    bool open = true;                         // the tap may still append
    std::unique_ptr<PcmConverter> converter;  // absent: the capture collects nothing
    std::vector<std::int16_t> samples;
    Recorder::SampleListener listener;  // told of samples [told, samples.size())
    std::size_t told = 0;

    // Caller holds the mutex.
    void tellListener() {
        const std::size_t end = std::min(samples.size(), maxSamples);
        if (listener && told < end) {
            listener(std::span(samples).subspan(told, end - told));
        }
        told = std::max(told, end);
    }
};

Recorder::Recorder(AudioEngineFactory makeEngine) : makeEngine_(std::move(makeEngine)) {
}

Recorder::~Recorder() {
    if (capture_) {
        std::lock_guard lock(capture_->mutex);
        capture_->open = false;
    }
    retireEngine();
}

void Recorder::validateInput(double sampleRate, std::uint32_t channels) {
    if (!(sampleRate > 0) || channels == 0) {
        throw RecorderFailure(RecorderError::noInputDevice);
    }
}

void Recorder::retireEngine() {
    if (engine_) {
        engine_->removeTap();
        engine_->stop();
    }
}

void Recorder::start() {
    if (capture_) {
        std::lock_guard lock(capture_->mutex);
        capture_->open = false;
    }
    capture_.reset();
    retireEngine();
    engine_.reset();

    engine_ = makeEngine_ ? makeEngine_() : nullptr;
    if (!engine_) {
        throw RecorderFailure(RecorderError::noInputDevice);
    }
    const AudioFormat format = engine_->inputFormat();
    validateInput(format.sampleRate, format.channels);

    auto capture = std::make_shared<Capture>();
    try {
        capture->converter =
            std::make_unique<PcmConverter>(format.sampleRate, format.channels, Config::sampleRate);
    } catch (const std::exception&) {
        // No converter: the capture runs but collects nothing, and the silence gate drops it.
    }
    // The whole capture fits without growing on the audio thread (two blocks of headroom).
    capture->samples.reserve(maxSamples + 2 * tapBufferFrames);

    // The engine outlives every call of its tap: it is only destroyed after removeTap().
    AudioEngine* engine = engine_.get();
    engine_->installTap(tapBufferFrames, [capture, engine](std::span<const float> block) {
        bool limitReached = false;
        {
            std::lock_guard lock(capture->mutex);
            if (!capture->open || !capture->converter) {
                return;
            }
            try {
                capture->converter->process(block, capture->samples);
            } catch (const std::exception&) {
                return;  // this block is lost; the capture goes on
            }
            capture->tellListener();
            if (capture->samples.size() > maxSamples) {
                capture->open = false;
                limitReached = true;
            }
        }
        if (limitReached) {
            engine->removeTap();
            engine->stop();
        }
    });
    capture_ = capture;
    try {
        engine_->start();
    } catch (...) {
        std::lock_guard lock(capture->mutex);
        capture->open = false;
        capture_.reset();
        throw;
    }
}

void Recorder::follow(SampleListener listener) {
    if (!capture_) {
        return;
    }
    std::lock_guard lock(capture_->mutex);
    capture_->listener = std::move(listener);
    capture_->told = 0;
    capture_->tellListener();
}

std::vector<std::int16_t> Recorder::stop() {
    if (engine_) {
        // Stopped with its tap in place, the engine hands on what it still held; only then is
        // the tap removed and the converter flushed.
        engine_->stop();
        engine_->removeTap();
    }
    const auto capture = std::exchange(capture_, nullptr);
    if (!capture) {
        return {};
    }
    std::lock_guard lock(capture->mutex);
    capture->open = false;
    if (capture->converter) {
        try {
            capture->converter->flush(capture->samples);
        } catch (const std::exception&) {
            // The held-back tail is lost; everything before it is kept.
        }
        capture->tellListener();
    }
    capture->listener = nullptr;
    return std::move(capture->samples);
}

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
