#include "app/DictationStreamer.h"

#include <utility>

#include "core/config/Config.h"
#include "core/net/RequestCancelled.h"
#include "core/net/StreamFailed.h"

namespace sayloft {

DictationStreamer::DictationStreamer(RunLoop& runLoop, Recorder& recorder,
                                     TranscriptionService& service, const KeychainStore& keychain)
    : runLoop_(runLoop), recorder_(recorder), service_(service), keychain_(keychain) {
}

DictationStreamer::~DictationStreamer() {
    discard();
}

void DictationStreamer::holdBegan() {
    discard();
    if (!serviceStreams()) {
        return;
    }
    // The timer is invalidated before this object goes, so `this` outlives every firing.
    timer_ = runLoop_.schedule(Config::minDuration, false, [this] { open(); });
}

void DictationStreamer::open() {
    timer_.reset();
    const auto token = keychain_.loadToken();
    if (!token || !serviceStreams()) {
        return;
    }
    std::shared_ptr<TranscriptionStream> stream = service_.openStream(*token);
    if (!stream) {
        return;
    }
    stream_ = stream;
    // The recorder hands over what it holds now, then every block as it comes, on the audio
    // thread; append() never waits for the network.
    recorder_.follow([stream](std::span<const std::int16_t> samples) { stream->append(samples); });
}

std::shared_ptr<TranscriptionStream> DictationStreamer::holdEnded() {
    if (timer_) {
        timer_->invalidate();
        timer_.reset();
    }
    return std::exchange(stream_, nullptr);
}

void DictationStreamer::discard() {
    if (auto stream = holdEnded()) {
        stream->cancel();
    }
}

TranscribeResult DictationStreamer::transcribe(TranscriptionService& service,
                                               std::shared_ptr<TranscriptionStream> stream,
                                               const std::shared_ptr<std::atomic<bool>>& offered,
                                               const std::string& token,
                                               std::span<const std::uint8_t> wav, double seconds,
                                               std::stop_token stop) {
    if (stream) {
        try {
            return stream->finish(stop);
        } catch (const RequestCancelled&) {
            throw;
        } catch (const StreamFailed& failure) {
            if (failure.notOffered) {
                offered->store(false);
            }
        } catch (...) {
            // Whatever broke the stream, the whole recording still goes the usual way.
        }
        stream.reset();  // closes its connection before the one-shot request opens one
    }
    return service.transcribe(token, wav, seconds, stop);
}

}  // namespace sayloft
