#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "server/HttpBodySink.h"
#include "server/RecognitionStream.h"

namespace sayloft {

// The body of POST /v1/stream: 16 kHz mono signed 16-bit big-endian samples (audio/L16), fed
// to a recognition stream as they arrive, in pieces of any size (a sample may be split between
// two). Refuses 413 as soon as more than maxAudioSeconds arrived. At the end of the body it
// answers like v1/transcribe: 200 {"text","duration"} with Server-Timing (here the time from the
// end of the body to the answer), 400 when the body ends inside a sample or holds none.
// Released unfinished, it drops the stream, which discards the audio and frees its recogniser.
class AudioStreamSink : public HttpBodySink {
public:
    static constexpr double samplesPerSecond = 16000.0;

    AudioStreamSink(std::unique_ptr<RecognitionStream> stream, double maxAudioSeconds);

    std::optional<HttpAnswer> write(std::string_view piece) override;
    HttpAnswer finish() override;

    // "audio/L16; rate=16000; channels=1", its parameters in any order, spacing and case
    // (channels may be left out: one is the default).
    static bool acceptsContentType(std::string_view contentType);

private:
    std::unique_ptr<RecognitionStream> stream_;
    const std::uint64_t maxBytes_;
    std::uint64_t bytes_ = 0;
    std::optional<std::uint8_t> carried_;  // a sample's first byte, its second still to come
    std::vector<std::int16_t> samples_;    // the piece's samples, reused
};

}  // namespace sayloft
