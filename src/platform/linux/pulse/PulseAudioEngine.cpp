#include "platform/linux/pulse/PulseAudioEngine.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

#include <pulse/pulseaudio.h>

#include "core/audio/RecorderFailure.h"

namespace sayloft {

PulseAudioEngine::PulseAudioEngine(std::shared_ptr<PulseConnection> connection)
    : connection_(std::move(connection)) {
}

PulseAudioEngine::~PulseAudioEngine() {
    PulseConnection::Lock lock(*connection_);
    tap_.reset();
    closeStream();
}

AudioEngineFactory PulseAudioEngine::factory(std::shared_ptr<PulseConnection> connection) {
    return [connection = std::move(connection)]() -> std::unique_ptr<AudioEngine> {
        return std::make_unique<PulseAudioEngine>(connection);
    };
}

AudioFormat PulseAudioEngine::inputFormat() {
    source_ = connection_->defaultSource();
    return source_ ? source_->format : AudioFormat{};
}

void PulseAudioEngine::installTap(std::size_t bufferFrames, Tap tap) {
    auto shared = std::make_shared<const Tap>(std::move(tap));
    PulseConnection::Lock lock(*connection_);
    bufferFrames_ = std::max<std::size_t>(bufferFrames, 1);
    tap_ = std::move(shared);
}

void PulseAudioEngine::removeTap() {
    std::shared_ptr<const Tap> removed;
    {
        // Off the audio thread, taking the lock waits for a tap call in progress; on it, the
        // running call holds its own reference and finishes with it.
        PulseConnection::Lock lock(*connection_);
        removed = std::exchange(tap_, nullptr);
    }
    // `removed` is released here, outside the lock, in case the tap's captures are heavy.
}

void PulseAudioEngine::start() {
    if (!source_) {
        inputFormat();
    }
    if (!source_ || source_->format.sampleRate <= 0 || source_->format.channels == 0 ||
        source_->format.channels > PA_CHANNELS_MAX) {
        throw RecorderFailure(RecorderError::noInputDevice);
    }
    if (!connection_->connect()) {
        throw RecorderFailure(RecorderError::noInputDevice);
    }

    PulseConnection::Lock lock(*connection_);
    if (running_) {
        return;
    }
    closeStream();
    pa_context* context = connection_->context();
    if (context == nullptr || pa_context_get_state(context) != PA_CONTEXT_READY) {
        throw RecorderFailure(RecorderError::noInputDevice);
    }

    const auto channels = static_cast<std::uint8_t>(source_->format.channels);
    pa_sample_spec sampleSpec{};
    sampleSpec.format = PA_SAMPLE_FLOAT32NE;
    sampleSpec.rate = static_cast<std::uint32_t>(source_->format.sampleRate);
    sampleSpec.channels = channels;
    pa_channel_map map{};
    if (source_->channelPositions.size() == channels) {
        map.channels = channels;
        for (std::uint8_t i = 0; i < channels; ++i) {
            map.map[i] = static_cast<pa_channel_position_t>(source_->channelPositions[i]);
        }
    }
    if (!pa_channel_map_valid(&map)) {
        pa_channel_map_init_extend(&map, channels, PA_CHANNEL_MAP_DEFAULT);
    }

    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "production");
    stream_ = pa_stream_new_with_proplist(context, "Dictation", &sampleSpec, &map, properties);
    pa_proplist_free(properties);
    if (stream_ == nullptr) {
        throw std::runtime_error(std::string("PulseAudio could not create a record stream: ") +
                                 pa_strerror(pa_context_errno(context)));
    }
    pending_.clear();
    framesReceived_ = 0;
    pending_.reserve(2 * bufferFrames_ * channels);
    pa_stream_set_state_callback(stream_, onStateChange, this);
    pa_stream_set_read_callback(stream_, onRead, this);

    const std::size_t frameBytes = pa_frame_size(&sampleSpec);
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize =
        static_cast<std::uint32_t>(fragmentFrames(source_->format.sampleRate) * frameBytes);
    if (pa_stream_connect_record(stream_, source_->name.c_str(), &attributes,
                                 PA_STREAM_ADJUST_LATENCY) < 0) {
        const std::string reason = pa_strerror(pa_context_errno(context));
        closeStream();
        throw std::runtime_error("PulseAudio could not open the microphone: " + reason);
    }

    pa_stream* stream = stream_;
    const bool settled = connection_->waitUntil(
        [stream] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        },
        PulseConnection::requestTimeout);
    if (settled && pa_stream_get_state(stream_) == PA_STREAM_READY) {
        running_ = true;
        return;
    }
    const int error = pa_context_errno(context);
    const bool serverGone = !PA_CONTEXT_IS_GOOD(pa_context_get_state(context));
    closeStream();
    if (!settled) {
        throw std::runtime_error("PulseAudio did not open the microphone in time");
    }
    if (serverGone || error == PA_ERR_NOENTITY) {
        throw RecorderFailure(
            RecorderError::noInputDevice);  // the server or the source went away meanwhile
    }
    throw std::runtime_error(std::string("PulseAudio could not open the microphone: ") +
                             pa_strerror(error));
}

std::size_t PulseAudioEngine::fragmentFrames(double sampleRate) {
    return std::max<std::size_t>(1, static_cast<std::size_t>(sampleRate / 50));
}

void PulseAudioEngine::stop() {
    PulseConnection::Lock lock(*connection_);
    const bool onAudioThread = pa_threaded_mainloop_in_thread(connection_->loop()) != 0;
    if (running_ && stream_ != nullptr && tap_ && !onAudioThread) {
        // The source hands the server what it captured about once a fragment, and the server
        // sends it on at once, possibly in pieces: once one more fragment of audio has arrived,
        // the moment of this call is in.
        const std::uint64_t target =
            framesReceived_ + fragmentFrames(pa_stream_get_sample_spec(stream_)->rate);
        pa_stream* stream = stream_;
        connection_->waitUntil(
            [&] {
                return framesReceived_ >= target || !running_ || stream_ != stream ||
                       !PA_STREAM_IS_GOOD(pa_stream_get_state(stream));
            },
            tailWait);
        readAvailable();
        const std::size_t channels =
            stream_ != nullptr ? pa_stream_get_sample_spec(stream_)->channels : 0;
        const std::size_t whole = channels > 0 ? pending_.size() / channels * channels : 0;
        if (running_ && whole > 0) {
            deliver(std::span<const float>(pending_.data(), whole));
        }
        pending_.clear();
    }
    closeStream();
}

void PulseAudioEngine::deliver(std::span<const float> block) {
    const std::shared_ptr<const Tap> tap = tap_;  // survives removeTap() inside the call
    if (tap && *tap) {
        try {
            (*tap)(block);
        } catch (...) {
            // The block is lost; the capture goes on.
        }
    }
}

void PulseAudioEngine::closeStream() {
    running_ = false;
    const bool onAudioThread = pa_threaded_mainloop_in_thread(connection_->loop()) != 0;
    if (stream_ != nullptr) {
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) {
            pa_stream_disconnect(stream_);
        }
        // Inside a stream callback libpulse may still touch the stream after the callback
        // returns, so the last reference is dropped later, off the audio thread.
        if (onAudioThread) {
            retired_ = stream_;
        } else {
            pa_stream_unref(stream_);
        }
        stream_ = nullptr;
    }
    if (!onAudioThread && retired_ != nullptr) {
        pa_stream_unref(retired_);
        retired_ = nullptr;
    }
}

void PulseAudioEngine::onStateChange(pa_stream*, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseAudioEngine*>(self)->connection_->loop(), 0);
}

void PulseAudioEngine::onRead(pa_stream*, std::size_t, void* self) {
    static_cast<PulseAudioEngine*>(self)->readAvailable();
}

void PulseAudioEngine::readAvailable() {
    // stop() from inside the tap detaches the stream: every step below checks running_ again.
    while (running_ && stream_ != nullptr && pa_stream_readable_size(stream_) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0) {
            return;
        }
        if (data != nullptr) {  // null data with a size is a hole (lost audio): skipped
            const auto* samples = static_cast<const float*>(data);
            pending_.insert(pending_.end(), samples, samples + bytes / sizeof(float));
        }
        pa_stream_drop(stream_);
        framesReceived_ += bytes / pa_frame_size(pa_stream_get_sample_spec(stream_));
        pa_threaded_mainloop_signal(connection_->loop(), 0);  // a stop() may wait for this

        const std::size_t blockSamples =
            bufferFrames_ * static_cast<std::size_t>(pa_stream_get_sample_spec(stream_)->channels);
        std::size_t delivered = 0;
        while (running_ && pending_.size() - delivered >= blockSamples) {
            deliver(std::span<const float>(pending_.data() + delivered, blockSamples));
            delivered += blockSamples;
        }
        if (!running_) {
            pending_.clear();  // stopped from inside the tap: the rest is dropped
            return;
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(delivered));
    }
}

}  // namespace sayloft
