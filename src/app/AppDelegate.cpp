#include "app/AppDelegate.h"

#include <exception>
#include <iostream>
#include <utility>

#include "app/FailureReaction.h"
#include "core/audio/RecorderFailure.h"
#include "core/audio/SilenceGate.h"
#include "core/config/Config.h"
#include "core/model/APIFailure.h"
#include "core/text/BlacklistFilter.h"

namespace sayloft {

AppDelegate::AppDelegate(Dependencies deps)
    : deps_(std::move(deps)),
      menuBar_(deps_.runLoop, deps_.statusItem, deps_.defaults, deps_.bundle, deps_.texts),
      hotkey_(deps_.runLoop, deps_.keyEvents, deps_.sessionEvents, deps_.defaults),
      recorder_(deps_.makeAudioEngine),
      streamer_(deps_.runLoop, recorder_, deps_.service, deps_.keychain),
      hud_(deps_.screens, deps_.makePanel),
      media_(deps_.mediaPlayers, deps_.mediaQueue),
      inserter_(deps_.defaults, deps_.pasteboard, deps_.keyboard, deps_.pause),
      onboarding_(Onboarding::Dependencies{
          .runLoop = deps_.runLoop,
          .defaults = deps_.defaults,
          .keychain = deps_.keychain,
          .notifications = deps_.notifications,
          .service = deps_.service,
          .tasks = deps_.tasks,
          .texts = deps_.texts,
          .desktop = deps_.onboarding,
      }),
      crashReports_(CrashReportController::Dependencies{
          .runLoop = deps_.runLoop,
          .defaults = deps_.defaults,
          .alerts = deps_.onboarding.alerts,
          .keychain = deps_.keychain,
          .tasks = deps_.tasks,
          .texts = deps_.texts,
          .desktop = deps_.crashReports,
      }) {
}

AppDelegate::~AppDelegate() {
    if (keepAliveTimer_) {
        keepAliveTimer_->invalidate();
    }
}


void AppDelegate::applicationDidFinishLaunching() {
    installEditMenu();
    menuBar_.onQuit = weak_.bindWeak([](AppDelegate& self) { self.deps_.runLoop.quit(); });
    menuBar_.onRetry = weak_.bindWeak([](AppDelegate& self) { self.retry(); });
    menuBar_.onCopyRecent = weak_.bindWeak(
        [](AppDelegate& self, const std::string& text) { self.deps_.pasteboard.setText(text); });
    menuBar_.onCheckUpdates = weak_.bindWeak([](AppDelegate& self) {
        if (self.deps_.checkForUpdates) {
            self.deps_.checkForUpdates();
        }
    });
    menuBar_.setUpdateCheckShown(static_cast<bool>(deps_.checkForUpdates));
    deps_.notifications.requestAuthorization();
    onboarding_.onAccessibilityGranted = weak_.bindWeak([](AppDelegate& self) {
        self.axWarned_ = false;
        self.hotkey_.ensureAlive();
        self.menuBar_.set(AppState::idle);
    });
    onboarding_.runIfNeeded(weak_.bindWeak([](AppDelegate& self) {
        self.startHotkey();
        self.startKeepAlive();
        self.reportCrashesIfAny();
    }));
}

void AppDelegate::startHotkey() {
    hotkey_.onPress = weak_.bindWeak([](AppDelegate& self) { self.beginRecording(); });
    hotkey_.onRelease = weak_.bindWeak([](AppDelegate& self) { self.endRecordingAndTranscribe(); });
    hotkey_.onAbort = weak_.bindWeak([](AppDelegate& self) { self.abortRecording(); });
    hotkey_.onUnavailable = weak_.bindWeak([](AppDelegate& self) { self.hotkeyUnavailable(); });
    hotkey_.start();
}

void AppDelegate::abortRecording() {
    if (!isRecording_) {
        return;
    }
    isRecording_ = false;
    recorder_.stop();  // a forced end is thrown away, never sent
    streamer_.discard();
    media_.resumeIfPaused();
    menuBar_.set(AppState::idle);
    hud_.hide();
}

void AppDelegate::hotkeyUnavailable() {
    if (axWarned_) {
        return;
    }
    axWarned_ = true;
    menuBar_.set(AppState::error);
    notify(deps_.texts.hotkeyLostTitle, deps_.texts.hotkeyLostBody);
}

void AppDelegate::beginRecording() {
    if (busy_) {
        return;
    }
    media_.pauseIfPlaying();
    std::optional<std::string> failure;
    try {
        recorder_.start();
    } catch (const RecorderFailure& error) {
        failure = std::string(errorDescription(error.error));
    } catch (const std::exception& error) {
        // The audio server's reason is in its own words and language: the log keeps it, the
        // user reads ours.
        std::cerr << "sayloft: the microphone could not be opened: " << error.what() << "\n";
        failure = deps_.texts.microphoneNotOpenedBody;
    }
    if (failure) {
        // Nothing is recorded, so nothing will resume what the pause check just paused: resume it
        // now rather than leave the user's music off until some later recording.
        media_.resumeIfPaused();
        notify(deps_.texts.recordingFailedTitle, *failure);
        menuBar_.set(AppState::error);
        hud_.hide();
        return;
    }
    isRecording_ = true;
    streamer_.holdBegan();
    menuBar_.set(AppState::recording);
    hud_.show(deps_.texts.listening);
}

void AppDelegate::endRecordingAndTranscribe() {
    if (!isRecording_) {
        return;
    }
    isRecording_ = false;
    std::vector<std::int16_t> samples = recorder_.stop();
    if (samples.size() > Recorder::maxSamples) {
        samples.resize(Recorder::maxSamples);
    }
    media_.resumeIfPaused();
    if (SilenceGate::shouldSkip(samples, Config::sampleRate)) {
        streamer_.discard();
        hud_.hide();
        menuBar_.set(AppState::idle);
        return;
    }
    const auto token = deps_.keychain.loadToken();
    if (!token) {
        streamer_.discard();
        notify(deps_.texts.noTokenTitle, deps_.texts.noTokenBody);
        hud_.hide();
        menuBar_.set(AppState::error);
        return;
    }
    auto wav = std::make_shared<const std::vector<std::uint8_t>>(
        Recorder::encodeWav(samples, static_cast<std::int32_t>(Config::sampleRate)));
    const double seconds = static_cast<double>(samples.size()) / Config::sampleRate;
    transcribe(*token, std::move(wav), seconds, streamer_.holdEnded());
}

void AppDelegate::retry() {
    if (busy_ || isRecording_ || !pending_) {
        return;
    }
    const auto token = deps_.keychain.loadToken();
    if (!token) {
        return;
    }
    // The pending recording stays until a transcription of the same bytes succeeds.
    transcribe(*token, pending_->wav, pending_->seconds);
}

void AppDelegate::transcribe(const std::string& token,
                             std::shared_ptr<const std::vector<std::uint8_t>> wav, double seconds,
                             std::shared_ptr<TranscriptionStream> stream) {
    busy_ = true;
    menuBar_.set(AppState::transcribing);
    hud_.show(deps_.texts.transcribing);
    const double startedAt = deps_.runLoop.ticks();

    WeakPtr<AppDelegate> weak = weak_.weakPtr();
    RunLoop& runLoop = deps_.runLoop;
    TranscriptionService& service = deps_.service;
    deps_.tasks.run([weak, &runLoop, &service, token, wav = std::move(wav), seconds, startedAt,
                     stream = std::move(stream),
                     offered = streamer_.offered()](std::stop_token stop) mutable {
        if (weak.expired()) {
            return;
        }
        Outcome outcome;
        try {
            outcome.result = DictationStreamer::transcribe(service, std::move(stream), offered,
                                                           token, *wav, seconds, stop);
        } catch (const APIFailure& failure) {
            outcome.error = failure.error;
        } catch (...) {
            // Not an APIError (a deadline, a cancellation, anything else): told as such.
        }
        outcome.finishedAt = runLoop.ticks();
        runLoop.post([weak, outcome = std::move(outcome), wav, seconds, startedAt] {
            if (AppDelegate* self = weak.get()) {
                self->finishTranscription(outcome, wav, seconds, startedAt);
            }
        });
    });
}

void AppDelegate::finishTranscription(const Outcome& outcome,
                                      const std::shared_ptr<const std::vector<std::uint8_t>>& wav,
                                      double seconds, double startedAt) {
    if (outcome.result) {
        if (pending_ && (pending_->wav == wav || *pending_->wav == *wav)) {
            setPending(std::nullopt);
        }
        const std::string text = BlacklistFilter::clean(outcome.result->text);
        if (!text.empty()) {
            inserter_.insert(text);
            menuBar_.addRecentDictation(text);
        }
        const double elapsedMs = (outcome.finishedAt - startedAt) * 1000.0;
        deps_.logQueue.post([&log = deps_.latencyLog, audioSeconds = outcome.result->duration,
                             totalMs = static_cast<std::int64_t>(elapsedMs > 0 ? elapsedMs : 0.0)] {
            log.record(audioSeconds, totalMs);
        });
        menuBar_.set(AppState::idle);
        hud_.hide();
    } else {
        menuBar_.set(AppState::error);
        hud_.hide();
        const FailureReaction reaction = FailureReaction::to(outcome.error, deps_.texts);
        if (reaction.keepRecording) {
            setPending(PendingRecording{wav, seconds});
        }
        if (outcome.error == APIError::unauthorized) {
            // The service no longer accepts this token: forget it, so that the next launch
            // obtains a new one and "Reopen the app" is true advice.
            deps_.keychain.deleteToken();
        }
        notify(reaction.title, reaction.body);
    }
    busy_ = false;
}

void AppDelegate::setPending(std::optional<PendingRecording> pending) {
    const bool available = pending.has_value();
    pending_ = std::move(pending);
    menuBar_.setRetryAvailable(available);
}

void AppDelegate::notify(const std::string& title, const std::string& body) {
    deps_.notifications.post(title, body);
}

void AppDelegate::activate() {
    notify(deps_.texts.alreadyRunningTitle,
           deps_.texts.alreadyRunningBodyPrefix +
               MenuBarController::currentHotkeyTitle(deps_.defaults, deps_.texts) +
               deps_.texts.alreadyRunningBodySuffix);
}

void AppDelegate::keyMonitorChanged() {
    hotkey_.ensureAlive();
}

void AppDelegate::startKeepAlive() {
    if (keepAliveTimer_) {
        keepAliveTimer_->invalidate();
    }
    keepAliveTimer_ = deps_.runLoop.schedule(
        keepAliveSeconds, true, weak_.bindWeak([](AppDelegate& self) { self.keepAliveTick(); }));
    ping();
}

void AppDelegate::keepAliveTick() {
    hotkey_.ensureAlive();
    if (deps_.keyEvents.isTrusted()) {
        axWarned_ = false;  // a later loss of the hotkey is reported again
    }
    if (!busy_) {
        ping();
    }
}

void AppDelegate::ping() {
    TranscriptionService& service = deps_.service;
    deps_.tasks.run([&service](std::stop_token stop) { service.ping(stop); });
}

}  // namespace sayloft
