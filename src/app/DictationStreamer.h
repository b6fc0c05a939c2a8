#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <stop_token>
#include <string>

#include "app/TranscriptionService.h"
#include "core/audio/Recorder.h"
#include "core/model/TranscribeResult.h"
#include "core/net/TranscriptionStream.h"
#include "core/storage/KeychainStore.h"
#include "platform/RunLoop.h"
#include "platform/RunLoopTimer.h"

namespace sayloft {

// Streams a dictation to the service while the hotkey is still held, where the service takes
// streams, so that the transcript is ready at the release. Main thread only; transcribe() runs
// on a worker.
//
// A hold streams once it has lasted Config::minDuration (a shorter one, such as an AltGr
// keystroke, never sends anything): then the samples of its first moments go out at once and
// every later block as it is captured. Without a token at that moment, or once a service said it
// does not stream, nothing streams and the release goes the usual way. The recorder keeps the
// whole recording either way: a stream that fails for any reason falls back to the one-shot
// request with the finished WAV.
class DictationStreamer {
public:
    // All references must outlive this object.
    DictationStreamer(RunLoop& runLoop, Recorder& recorder, TranscriptionService& service,
                      const KeychainStore& keychain);
    ~DictationStreamer();
    DictationStreamer(const DictationStreamer&) = delete;
    DictationStreamer& operator=(const DictationStreamer&) = delete;

    // Right after the recorder started: the stream opens once the hold has lasted long enough.
    void holdBegan();
    // Right after the recorder stopped and its recording is to be sent: the stream that carries
    // it (to be finished by transcribe()), or nullptr.
    std::shared_ptr<TranscriptionStream> holdEnded();
    // The hold was aborted or its recording is not sent: the stream is cancelled, so that the
    // service discards the audio at once.
    void discard();

    // Whether a service has not yet said that it does not stream.
    bool serviceStreams() const { return offered_->load(); }

    // Worker thread. The transcript of one recording: the stream's, when there is a stream and
    // it delivers; else the one-shot request with the whole WAV, whose failures are the
    // caller's (an APIFailure, ...). A stop request ends it with some failure.
    static TranscribeResult transcribe(TranscriptionService& service,
                                       std::shared_ptr<TranscriptionStream> stream,
                                       const std::shared_ptr<std::atomic<bool>>& offered,
                                       const std::string& token, std::span<const std::uint8_t> wav,
                                       double seconds, std::stop_token stop);
    // What transcribe() needs to remember that the service does not stream.
    const std::shared_ptr<std::atomic<bool>>& offered() const { return offered_; }

private:
    void open();

    RunLoop& runLoop_;
    Recorder& recorder_;
    TranscriptionService& service_;
    const KeychainStore& keychain_;
    std::shared_ptr<RunLoopTimer> timer_;
    std::shared_ptr<TranscriptionStream> stream_;
    std::shared_ptr<std::atomic<bool>> offered_ = std::make_shared<std::atomic<bool>>(true);
};

}  // namespace sayloft
