#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/BackgroundTasks.h"
#include "app/CrashReportController.h"
#include "app/CrashReportDesktop.h"
#include "app/DictationStreamer.h"
#include "app/HotkeyMonitor.h"
#include "app/MediaController.h"
#include "app/MenuBarController.h"
#include "app/Onboarding.h"
#include "app/OnboardingDesktop.h"
#include "app/SerialQueue.h"
#include "app/StatusHUD.h"
#include "app/TextInserter.h"
#include "app/Texts.h"
#include "app/TranscriptionService.h"
#include "app/WeakPtrFactory.h"
#include "core/audio/AudioEngine.h"
#include "core/audio/Recorder.h"
#include "core/diagnostics/LatencyLog.h"
#include "core/model/APIError.h"
#include "core/model/TranscribeResult.h"
#include "core/storage/KeychainStore.h"
#include "platform/Bundle.h"
#include "platform/KeyEventMonitor.h"
#include "platform/KeyboardEvents.h"
#include "platform/MediaPlayers.h"
#include "platform/Notifications.h"
#include "platform/Pasteboard.h"
#include "platform/RunLoop.h"
#include "platform/Screens.h"
#include "platform/SessionEvents.h"
#include "platform/StatusItem.h"
#include "platform/UserDefaults.h"

namespace sayloft {

// The application controller: owns the long-lived components, wires them at launch and runs the
// hold-to-talk session. A session is a state machine over isRecording and busy (never both set):
// press starts the recorder (and, once the hold is long enough, a stream of it to a service that
// streams: DictationStreamer); release stops it, drops silence, encodes the WAV and sends it on a
// worker thread; the answer comes back through the RunLoop, where the text is filtered and
// inserted or the failure is told as a notification. A recording whose transcription failed in a
// way a retry may cure is kept (one slot, in memory) for the menu's retry.
//
// Everything here runs on the main thread; the only other-thread code is the body of the
// background tasks, which touches nothing of the controller and reports back by posting.
class AppDelegate {
public:
    // What the controller is built from. Everything referenced must outlive the controller; the
    // RunLoop, the TranscriptionService and the KeychainStore must also outlive `tasks`, whose
    // work refers to them.
    struct Dependencies {
        RunLoop& runLoop;
        KeyEventMonitor& keyEvents;
        SessionEvents& sessionEvents;
        Pasteboard& pasteboard;
        KeyboardEvents& keyboard;
        StatusItem& statusItem;
        Screens& screens;
        StatusHUD::PanelFactory makePanel;
        Notifications& notifications;
        UserDefaults& defaults;
        const Bundle& bundle;
        MediaPlayers& mediaPlayers;
        SerialQueue& mediaQueue;
        AudioEngineFactory makeAudioEngine;
        TranscriptionService& service;
        BackgroundTasks& tasks;
        const KeychainStore& keychain;
        const LatencyLog& latencyLog;
        // Where the latency line is written, off the main thread and in order. The latency log
        // must outlive it (its destructor finishes what was posted).
        SerialQueue& logQueue;
        const Texts& texts;
        TextInserter::Pause pause;
        // The update check of the menu (UpdateController::checkForUpdates); absent in a build
        // without an update feed, which hides the menu command.
        std::function<void()> checkForUpdates;
        // What the first run needs of the desktop and the session.
        OnboardingDesktop onboarding;
        // Where crash reports are and how they are sent; by default none are looked for.
        CrashReportDesktop crashReports{};
    };

    // The recording kept for a retry: the WAV bytes that were sent and their length.
    struct PendingRecording {
        std::shared_ptr<const std::vector<std::uint8_t>> wav;
        double seconds = 0.0;
    };

    static constexpr double keepAliveSeconds = 60.0;

    explicit AppDelegate(Dependencies deps);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // The launch sequence: menu callbacks, notification authorisation, onboarding; when onboarding
    // is done, the hotkey and the keep-alive timer start.
    void applicationDidFinishLaunching();

    void startHotkey();
    void startKeepAlive();
    // Once onboarding is done: offers to send the reports of earlier crashes, or sends them.
    void reportCrashesIfAny() { crashReports_.reportCrashesIfAny(); }
    void beginRecording();
    void endRecordingAndTranscribe();
    void retry();
    // stream: the recognition streamed during the hold, when there is one; the WAV goes the
    // usual way when it fails.
    void transcribe(const std::string& token, std::shared_ptr<const std::vector<std::uint8_t>> wav,
                    double seconds, std::shared_ptr<TranscriptionStream> stream = nullptr);
    void setPending(std::optional<PendingRecording> pending);
    void notify(const std::string& title, const std::string& body);
    // Another start of Sayloft in this login asked this one to take over: says that Sayloft is
    // already running and which key to hold.
    void activate();
    // Main thread. The key monitor's availability changed (a desktop that binds the hotkey itself
    // answered): the hotkey monitor is installed again at once, and one that can no longer be is
    // reported as the keep-alive would, without waiting for it.
    void keyMonitorChanged();
    // A tray application has no main menu on the Linux desktop, and the desktop's dialogs bring
    // their own edit shortcuts: there is nothing to install.
    void installEditMenu() {}

    // For tests and diagnostics.
    bool busy() const { return busy_; }
    bool isRecording() const { return isRecording_; }
    const std::optional<PendingRecording>& pending() const { return pending_; }
    bool axWarned() const { return axWarned_; }
    Onboarding& onboarding() { return onboarding_; }
    MenuBarController& menuBar() { return menuBar_; }

private:
    struct Outcome {
        std::optional<TranscribeResult> result;
        std::optional<APIError> error;  // with no result and no error: another failure
        double finishedAt = 0.0;
    };

    void finishTranscription(const Outcome& outcome,
                             const std::shared_ptr<const std::vector<std::uint8_t>>& wav,
                             double seconds, double startedAt);
    void abortRecording();
    void hotkeyUnavailable();
    void keepAliveTick();
    void ping();

    Dependencies deps_;
    MenuBarController menuBar_;
    HotkeyMonitor hotkey_;
    Recorder recorder_;
    DictationStreamer streamer_;
    StatusHUD hud_;
    MediaController media_;
    TextInserter inserter_;
    Onboarding onboarding_;
    CrashReportController crashReports_;
    bool busy_ = false;
    bool isRecording_ = false;
    std::optional<PendingRecording> pending_;
    std::shared_ptr<RunLoopTimer> keepAliveTimer_;
    bool axWarned_ = false;
    WeakPtrFactory<AppDelegate> weak_{this};  // last: destroyed first
};

}  // namespace sayloft
