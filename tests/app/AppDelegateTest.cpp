#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AppHarness.h"

namespace sayloft::test {
namespace {

using Posted = FakeNotifications::Posted;
using Strings = std::vector<std::string>;

class AppDelegateTest : public ::testing::Test, protected FakeApp {};

TEST_F(AppDelegateTest, ADictationFromPressToInsertedText) {
    h.players.nowPlaying = {"music"};
    h.launch();
    tasks.runAll();  // the launch ping

    h.press();
    EXPECT_TRUE(h.app->isRecording());
    EXPECT_EQ(h.item.icon, "mic.fill");
    EXPECT_EQ(h.item.tint, StatusItem::Tint::red);
    EXPECT_TRUE(h.panel.visible);
    EXPECT_EQ(h.panel.text, "🎤 Listening…");
    EXPECT_EQ(h.players.calls, (Strings{"playing", "pause:music"}));

    h.speak(1.5);
    service.scriptText("  hello world  ", 1.4);
    h.release();
    EXPECT_FALSE(h.app->isRecording());
    EXPECT_TRUE(h.app->busy());
    EXPECT_EQ(h.item.icon, "ellipsis.circle");
    EXPECT_EQ(h.panel.text, "⏳ Transcribing…");
    EXPECT_EQ(h.players.calls.back(), "play:music");

    h.loop.advance(1.2345);  // the service takes its time; whole milliseconds, truncated
    finishWork();
    ASSERT_EQ(service.calls.size(), 1u);
    const auto& call = service.calls[0];
    EXPECT_EQ(call.token, "device-token");
    EXPECT_NEAR(call.audioSeconds, 1.5, 0.001);
    EXPECT_EQ(call.wav.size(), 44 + 2 * std::size_t(call.audioSeconds * 16000 + 0.5));

    EXPECT_EQ(h.pasteboard.text, "hello world");
    EXPECT_EQ(h.keyboard.strokes.size(), 2u);
    EXPECT_FALSE(h.app->busy());
    EXPECT_EQ(h.item.icon, "mic");
    EXPECT_FALSE(h.panel.visible);
    EXPECT_TRUE(h.notifications.posted.empty());
    EXPECT_NE(h.latencyLogText().find("\taudio=1.4s\ttotal=1234ms\n"), std::string::npos);
}

// Too short, too quiet, nothing at all; a wake while held aborts; no token at the end; no
// microphone, or one that fails to open: no request, and the music playing again. A failed start is
// told at once (in the chosen language, never in the audio server's words) and its release ignored.
TEST(AppDelegateDrops, RecordingsThatAreNoDictation) {
    enum class Mic { works, missing, failsToStart };
    struct Row {
        Mic mic;
        double seconds;
        double amplitude;
        bool abort;
        bool tokenless;
        std::vector<Posted> told;
        const Texts& texts = Texts::english();
    };
    const std::vector<Posted> noToken = {{"Setup not finished", "Reopen the app to finish setup"}};
    const std::vector<Posted> noDevice = {
        {"Recording failed",
         "麦克风不可用(输入设备刚切换或已断开),请稍后再试 / Microphone "
         "unavailable \u2014 input device changed or disconnected"}};
    const std::vector<Posted> noStart = {
        {"录音启动失败", "无法打开麦克风,请检查声音设置,然后再试一次。"}};
    const Row rows[] = {
        {Mic::works, 0.3, 0.3, false, false, {}},
        {Mic::works, 2.0, 0.001, false, false, {}},
        {Mic::works, 0.0, 0.0, false, false, {}},
        {Mic::works, 2.0, 0.3, true, false, {}},
        {Mic::works, 1.0, 0.3, false, true, noToken},
        {Mic::missing, 0, 0, false, false, noDevice},
        {Mic::failsToStart, 0, 0, false, false, noStart, Texts::chinese()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(row.mic) << " " << row.seconds);
        FakeApp app;
        auto& [service, tasks, h] = app;
        h.mic.format = row.mic == Mic::missing ? AudioFormat{0.0, 0} : h.mic.format;
        h.mic.failStart = row.mic == Mic::failsToStart;
        h.players.nowPlaying = {"music"};
        h.launch(row.texts);
        h.press();
        if (row.mic != Mic::works) {
            EXPECT_FALSE(h.app->isRecording());
            EXPECT_EQ(h.players.calls, (Strings{"playing", "pause:music", "play:music"}));
        }
        h.speak(row.seconds, row.amplitude);
        if (row.abort) {
            h.session.wake();
            h.settle();
            EXPECT_FALSE(h.app->isRecording());
            EXPECT_FALSE(h.mic.running());
        }
        if (row.tokenless) {
            h.keychain.deleteToken();
        }
        const auto icons = h.item.iconHistory.size();
        h.release();  // after an abort the key-up finds the latch already up
        if (row.mic != Mic::works) {
            EXPECT_EQ(h.item.iconHistory.size(), icons);
        }
        EXPECT_EQ(h.notifications.posted, row.told);
        EXPECT_EQ(h.item.icon, row.told.empty() ? "mic" : "exclamationmark.triangle");
        EXPECT_FALSE(h.panel.visible);
        EXPECT_FALSE(h.app->busy());
        EXPECT_FALSE(h.app->pending());
        EXPECT_EQ(h.players.calls.back(), "play:music");
        tasks.runAll();
        EXPECT_TRUE(service.calls.empty());
    }
}

TEST_F(AppDelegateTest, APressDuringATranscriptionIsIgnoredAndSoIsItsRelease) {
    h.launch();
    h.dictate();
    const int engines = h.mic.enginesMade;
    const auto icons = h.item.iconHistory;
    h.press();
    h.release();
    h.app->retry();
    EXPECT_EQ(h.mic.enginesMade, engines);
    EXPECT_EQ(h.item.iconHistory, icons);
    EXPECT_EQ(h.panel.text, "⏳ Transcribing…");
    finishWork();
    EXPECT_EQ(service.calls.size(), 1u);
}

// Each failure of the service: what the user is told and whether the recording is kept.
TEST(AppDelegateFailures, EachIsToldAndOnlyRetryableOnesKeepTheRecording) {
    struct Row {
        FakeTranscriptionService::Answer error;
        bool kept;
        Posted told;
    };
    const std::string saved =
        "Recording saved \u2014 click the mic icon in the system tray "
        "\u2192 \"Retry Last Recording\"";
    const Row rows[] = {
        {APIError::network, true, {"Network too slow", saved}},
        {APIError::timedOut, true, {"Network too slow", saved}},
        {APIError::asrFailed, true, {"Transcription failed", saved}},
        {APIError::badResponse, true, {"Transcription failed", saved}},
        {APIError::unauthorized, false, {"Device not authorized", "Reopen the app"}},
        {APIError::rateLimited, false, {"Too many requests", "Try again later"}},
        {std::make_exception_ptr(std::runtime_error("deadline exceeded")),
         false,
         {"Transcription failed", "Please try again"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.told.title);
        FakeApp app;
        auto& [service, tasks, h] = app;
        h.launch();
        service.script(row.error);
        h.dictate();
        app.finishWork();
        EXPECT_EQ(h.notifications.posted, (std::vector<Posted>{row.told}));
        EXPECT_EQ(h.item.icon, "exclamationmark.triangle");
        EXPECT_FALSE(h.panel.visible);
        EXPECT_EQ(h.retryShown(), row.kept);
        EXPECT_EQ(h.app->pending() ? *h.app->pending()->wav : std::vector<std::uint8_t>{},
                  row.kept ? service.calls.back().wav : std::vector<std::uint8_t>{});
        // After unauthorized the token is forgotten, so that a reopened app asks anew.
        const auto* error = std::get_if<APIError>(&row.error);
        EXPECT_EQ(h.keychain.loadToken().has_value(), !error || *error != APIError::unauthorized);
        EXPECT_TRUE(h.pasteboard.history.empty());
        h.loop.advance(3.0);
        EXPECT_EQ(h.item.icon, "mic");
    }
}

// The kept recording is retried from the menu until it succeeds; a newer dictation replaces it
// only when it fails retryably itself.
TEST_F(AppDelegateTest, TheKeptRecordingIsRetriedUntilItSucceedsOrANewerFailureReplacesIt) {
    enum Kept { newest, same, none };
    struct Step {
        double dictate;  // 0: retry from the menu instead
        FakeTranscriptionService::Answer answer;
        Kept kept;
    };
    const Step steps[] = {
        {1.0, APIError::timedOut, newest},
        {0, APIError::network, same},
        {1.5, TranscribeResult{"fine", 1.0}, same},
        {1.5, APIError::rateLimited, same},  // not retryable
        {2.0, APIError::asrFailed, newest},
        {0, TranscribeResult{"retried", 1.0}, none},
    };
    h.launch();
    std::vector<std::uint8_t> kept;
    for (const Step& step : steps) {
        service.script(step.answer);
        if (step.dictate > 0) {
            h.dictate(step.dictate);
        } else {
            ASSERT_TRUE(h.item.choose(MenuBarController::retryTag));
            EXPECT_TRUE(h.app->busy());
            EXPECT_TRUE(h.app->pending());  // not cleared by starting the retry
            EXPECT_EQ(*h.app->pending()->wav, kept);
        }
        finishWork();
        if (step.dictate == 0) {
            EXPECT_EQ(service.calls.back().wav, kept);
        }
        if (step.kept == newest) {
            kept = service.calls.back().wav;
            EXPECT_NEAR(h.app->pending()->seconds, step.dictate, 0.001);
        }
        EXPECT_EQ(h.retryShown(), step.kept != none);
        EXPECT_EQ(h.app->pending() ? *h.app->pending()->wav : std::vector<std::uint8_t>{},
                  step.kept == none ? std::vector<std::uint8_t>{} : kept);
    }
    EXPECT_EQ(h.notifications.posted[1].title, "Network too slow");
    EXPECT_EQ(h.pasteboard.history, (Strings{"fine", "retried"}));
    EXPECT_EQ(h.item.icon, "mic");
}

TEST_F(AppDelegateTest, TheHotkeyMessageIsShownOnceUntilReArmed) {
    const Posted lost{"Hotkey stopped working", Texts::english().hotkeyLostBody};
    h.keys.trusted = false;
    h.launch();
    EXPECT_EQ(h.notifications.posted, (std::vector<Posted>{lost}));
    EXPECT_EQ(h.item.icon, "exclamationmark.triangle");
    EXPECT_TRUE(h.app->axWarned());

    h.loop.advance(60.0);  // tick: still untrusted, monitor retried, silent
    EXPECT_EQ(h.notifications.posted.size(), 1u);

    h.keys.trusted = true;
    h.loop.advance(60.0);  // tick: trusted again, re-armed, the monitor is back
    EXPECT_FALSE(h.app->axWarned());
    EXPECT_EQ(h.keys.installed(), 1u);

    h.keys.trusted = false;
    h.app->startHotkey();  // nothing: a monitor is installed
    h.keys.refuseInstall = true;
    h.loop.advance(60.0);  // tick: lost again, told again
    EXPECT_EQ(std::count(h.notifications.posted.begin(), h.notifications.posted.end(), lost), 2);

    h.keys.trusted = true;
    h.keys.refuseInstall = false;
    h.app->onboarding().onAccessibilityGranted();  // granted: re-armed, monitor up, icon idle
    h.settle();
    EXPECT_FALSE(h.app->axWarned());
    EXPECT_EQ(h.keys.installed(), 1u);
    EXPECT_EQ(h.item.icon, "mic");
}

TEST_F(AppDelegateTest, KeepAlivePingsOnlyWhenIdle) {
    h.launch();
    finishWork();
    h.loop.advance(60.0);
    finishWork();
    EXPECT_EQ(service.pings, 2);
    h.dictate();  // busy from here
    h.loop.advance(60.0);
    finishWork();
    EXPECT_EQ(service.pings, 2);
    EXPECT_EQ(service.calls.size(), 1u);
    h.loop.advance(60.0);
    finishWork();
    EXPECT_EQ(service.pings, 3);
}

TEST_F(AppDelegateTest, MenuCommandsQuitAndCheckForUpdates) {
    h.launch();
    h.item.choose("Check for Updates…");
    EXPECT_EQ(h.updateChecks, 1);
    EXPECT_FALSE(h.loop.quitRequested());
    h.item.choose("Quit");
    EXPECT_TRUE(h.loop.quitRequested());

    FakeApp withoutFeed;  // a build without an update feed hides the command
    withoutFeed.h.hasUpdateFeed = false;
    withoutFeed.h.launch();
    EXPECT_TRUE(withoutFeed.h.item.item(MenuBarController::checkUpdatesTag)->hidden);
}

TEST_F(AppDelegateTest, ActivationSaysSayloftIsAlreadyRunningAndWhichKeyToHold) {
    h.defaults.setInteger("hotkeyKeyCode", 62);
    h.launch();
    h.app->activate();
    EXPECT_EQ(h.notifications.posted,
              (std::vector<Posted>{{"Sayloft is already running",
                                    "Hold Right Ctrl and speak; the menu is on the mic icon in "
                                    "the system tray."}}));
}

TEST_F(AppDelegateTest, RecentDictationsKeepTheLastTenNewestFirstAndCopyTheWholeText) {
    h.launch();
    const auto recentTitles = [&] {
        Strings titles;
        for (const auto& entry : h.item.item(MenuBarController::recentDictationsTag)->submenu) {
            titles.push_back(entry.title);
        }
        return titles;
    };
    EXPECT_FALSE(h.item.item(MenuBarController::recentDictationsTag)->enabled);
    service.scriptText("谢谢观看", 2.5);  // filtered to nothing: not a dictation, but logged
    h.dictate();
    finishWork();
    EXPECT_TRUE(h.pasteboard.history.empty());
    EXPECT_NE(h.latencyLogText().find("\taudio=2.5s\ttotal=0ms\n"), std::string::npos);

    service.scriptText("first line\nsecond line that goes on and on past forty characters");
    h.dictate();
    finishWork();
    EXPECT_EQ(recentTitles(), Strings{"first line second line that goes on and…"});
    Strings expected;
    for (int i = 1; i <= 10; ++i) {
        service.scriptText("note " + std::to_string(i));
        h.dictate();
        finishWork();
        expected.insert(expected.begin(), "note " + std::to_string(i));
    }
    EXPECT_EQ(recentTitles(), expected);  // the first one fell out

    EXPECT_TRUE(h.item.choose(MenuBarController::firstRecentTag + 2));
    ASSERT_EQ(h.pasteboard.history.size(), 12u);
    EXPECT_EQ(h.pasteboard.history.back(), "note 8");
    EXPECT_EQ(h.keyboard.strokes.size(), 2 * 11u);  // copied, not pasted
}

TEST_F(AppDelegateTest, AnAnswerArrivingAfterTheControllerIsGoneIsDropped) {
    h.launch();
    service.scriptText("too late");
    h.dictate();
    h.app.reset();
    finishWork();
    EXPECT_TRUE(h.pasteboard.history.empty());
}

}  // namespace
}  // namespace sayloft::test
