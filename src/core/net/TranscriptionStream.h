#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <stop_token>

#include "core/model/TranscribeResult.h"

namespace sayloft {

// One recognition streamed to the service while the user still speaks (POST v1/stream): the
// samples go out as they are appended, the service recognises them as they arrive, and finish()
// sends the end and returns the service's transcript.
//
// Threads: append() may be called from any thread (the audio thread), finish() and cancel() from
// another; none of them waits for the network except finish(). Destroying a stream that was not
// finished cancels it, and returns without waiting for the service.
class TranscriptionStream {
public:
    // No progress (no byte of the stream taken by the service, no byte of its answer) for this
    // long once the end was sent: finish() gives up.
    static constexpr std::chrono::milliseconds stallLimit{2000};

    virtual ~TranscriptionStream() = default;

    // Appends 16 kHz mono signed 16-bit samples. Never blocks on the network: what the service
    // has not taken yet waits in memory (a whole hold is at most Recorder::maxSamples).
    // Ignored after finish() or cancel().
    virtual void append(std::span<const std::int16_t> samples) = 0;

    // Sends the end of the audio and waits for the answer. Returns the transcript of a 200 with
    // a valid body. Throws StreamFailed when the stream could not deliver one (refused, not
    // offered, broken, stalled for stallLimit, a malformed answer), RequestCancelled when stop
    // was requested. At most one call.
    virtual TranscribeResult finish(std::stop_token stop) = 0;

    // Abandons the stream: the service is told at once (the connection closes before the end),
    // and discards what it received. Harmless after finish() or a second time.
    virtual void cancel() = 0;
};

}  // namespace sayloft
