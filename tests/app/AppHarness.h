#pragma once

#include <memory>
#include <string>

#include "TempHome.h"
#include "app/AppDelegate.h"
#include "core/diagnostics/LatencyLog.h"
#include "core/storage/KeychainStore.h"
#include "fakes/FakeDesktop.h"
#include "fakes/FakeMicrophone.h"
#include "fakes/FakeTranscriptionService.h"
#include "fakes/VirtualRunLoop.h"

namespace sayloft::test {

// The whole fake desktop around one AppDelegate, with the steps of a dictation as one-liners.
// The service is a parameter so that a test can put the real client behind it.
class AppHarness {
public:
    explicit AppHarness(TranscriptionService& service, BackgroundTasks& tasks)
        : service_(service), tasks_(tasks) {
        screens.all = {{{0, 0, 1920, 1080}, {0, 0, 1920, 1050}}};
        screens.main = screens.all.front();
        mic.format = {16000.0, 1};
        defaults.setBoolean(Onboarding::consentKey, true);
        keychain.saveToken("device-token");
    }

    void launch(const Texts& texts = Texts::english()) {
        app = std::make_unique<AppDelegate>(AppDelegate::Dependencies{
            .runLoop = loop,
            .keyEvents = keys,
            .sessionEvents = session,
            .pasteboard = pasteboard,
            .keyboard = keyboard,
            .statusItem = item,
            .screens = screens,
            .makePanel = FakePanel::factory(panel),
            .notifications = notifications,
            .defaults = defaults,
            .bundle = bundle,
            .mediaPlayers = players,
            .mediaQueue = mediaQueue,
            .makeAudioEngine = mic.factory(),
            .service = service_,
            .tasks = tasks_,
            .keychain = keychain,
            .latencyLog = latencyLog,
            .logQueue = logQueue,
            .texts = texts,
            .pause = [](std::chrono::microseconds) {},
            .checkForUpdates =
                hasUpdateFeed ? std::function<void()>([this] { ++updateChecks; }) : nullptr,
            .onboarding = onboardingDesktop(),
            .crashReports = crashDesktop(),
        });
        app->applicationDidFinishLaunching();
        settle();
    }

    // What onboarding sees of the desktop: input is ready while the key monitor is trusted.
    OnboardingDesktop onboardingDesktop() {
        return {
            .alerts = alerts,
            .workspace = workspace,
            .localService = localService,
            .serviceURL = serviceURL,
            .inputReady = [this] { return keys.trusted; },
            .inputRemedy = inputRemedy,
            .hasDefaultInput = [this] { return microphonePresent; },
            .helpUrl = helpUrl,
        };
    }

    // Where the crash reports of earlier runs are looked for, and where they go.
    CrashReportDesktop crashDesktop() {
        return {.directory = home.path() / "DiagnosticReports",
                .osVersion = "TestOS 1",
                .uploader = &crashUploader};
    }

    // Runs the main thread's pending work, the media queue and the log queue.
    void settle() {
        loop.runUntilIdle();
        mediaQueue.runAll();
        logQueue.runAll();
    }

    void press() {
        keys.send(61, ModifierFlag::option);
        settle();
    }
    void release() {
        keys.send(61, 0);
        settle();
    }
    // Audio into the running recorder: a tone loud enough for the gate.
    void speak(double seconds, double amplitude = 0.3) { mic.tone(seconds, 300.0, amplitude); }
    // Press and speak for `seconds` while the clock runs; the key stays down.
    void hold(double seconds, double amplitude = 0.3) {
        press();
        for (double held = 0; held < seconds - 1e-9; held += 0.1) {
            speak(0.1, amplitude);
            loop.advance(0.1);
        }
    }
    // One whole dictation up to the request: press, speak, release.
    void dictate(double seconds = 1.0) {
        press();
        speak(seconds);
        release();
    }

    std::string latencyLogText() const { return readAll(home.path() / "latency.log"); }
    bool retryShown() const {
        const MenuItem* retry = item.item(MenuBarController::retryTag);
        return retry != nullptr && !retry->hidden;
    }

    VirtualRunLoop loop;
    FakeKeyEventMonitor keys;
    FakeSessionEvents session;
    FakePasteboard pasteboard;
    FakeKeyboardEvents keyboard;
    FakeStatusItem item;
    FakeScreens screens;
    PanelRecord panel;
    FakeNotifications notifications;
    FakeUserDefaults defaults;
    FakeBundle bundle;
    FakeMediaPlayers players;
    ManualSerialQueue mediaQueue;
    ManualSerialQueue logQueue;
    FakeMicrophone mic;
    TempHome home;
    KeychainStore keychain{home.path()};
    LatencyLog latencyLog{home.path() / "latency.log"};
    FakeAlerts alerts;
    FakeWorkspace workspace;
    FakeLocalService localService;
    Url serviceURL = *Url::parse("http://127.0.0.1:8177");
    InputRemedy inputRemedy = InputRemedy::keyBinding;
    bool microphonePresent = true;
    std::string helpUrl = "file:///usr/share/sayloft/help/index.html";
    int updateChecks = 0;
    FakeCrashUploader crashUploader;
    bool hasUpdateFeed = true;  // false: a build without an update feed
    std::unique_ptr<AppDelegate> app;

private:
    TranscriptionService& service_;
    BackgroundTasks& tasks_;
};

// An AppHarness with a scripted service and background work run by hand.
struct FakeApp {
    // Runs the background work (a transcription, a ping, a registration) and what it posts back.
    void finishWork() {
        tasks.runAll();
        h.settle();
    }

    FakeTranscriptionService service;
    ManualBackgroundTasks tasks;
    AppHarness h{service, tasks};
};

}  // namespace sayloft::test
