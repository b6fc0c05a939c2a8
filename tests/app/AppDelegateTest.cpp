#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AppHarness.h"

namespace sayloft::test {
namespace {

using Posted = FakeNotifications::Posted;

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
    EXPECT_EQ(h.players.calls, (std::vector<std::string>{"playing", "pause:music"}));

    h.speak(1.5);
    service.scriptText("  hello world  ", 1.4);
    h.release();
    EXPECT_FALSE(h.app->isRecording());
    EXPECT_TRUE(h.app->busy());
    EXPECT_EQ(h.item.icon, "ellipsis.circle");
    EXPECT_EQ(h.panel.text, "⏳ Transcribing…");
    EXPECT_TRUE(h.panel.visible);
    EXPECT_EQ(h.players.calls.back(), "play:music");

    h.loop.advance(1.2345);  // the service takes its time; whole milliseconds, truncated
    finishTranscription();
    const auto calls = service.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].token, "device-token");
    EXPECT_NEAR(calls[0].audioSeconds, 1.5, 0.001);
    EXPECT_EQ(calls[0].wav.size(), 44 + 2 * std::size_t(calls[0].audioSeconds * 16000 + 0.5));
    EXPECT_EQ(std::string(calls[0].wav.begin(), calls[0].wav.begin() + 4), "RIFF");

    EXPECT_EQ(h.pasteboard.text, "hello world");
    EXPECT_EQ(h.keyboard.strokes.size(), 2u);
    EXPECT_FALSE(h.app->busy());
    EXPECT_EQ(h.item.icon, "mic");
    EXPECT_FALSE(h.panel.visible);
    EXPECT_TRUE(h.notifications.posted.empty());
    const std::string log = h.latencyLogText();
    EXPECT_NE(log.find("\taudio=1.4s\ttotal=1234ms\n"), std::string::npos) << log;
}

TEST(AppDelegateFailedStart, ReportsResumesTheMediaAndIgnoresTheRelease) {
    struct Row {
        bool failStart;  // false: no input device at all
        const Texts& texts;
        Posted expected;
    };
    const Row rows[] = {
        {false,
         Texts::english(),
         {"Recording failed",
          "麦克风不可用(输入设备刚切换或已断开),请稍后再试 / Microphone "
          "unavailable \u2014 input device changed or disconnected"}},
        // The audio server's own words never reach the user: ours do, in the chosen language.
        {true, Texts::chinese(), {"录音启动失败", "无法打开麦克风,请检查声音设置,然后再试一次。"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected.title);
        FakeApp app;
        AppHarness& h = app.h;
        h.mic.format = row.failStart ? AudioFormat{48000.0, 2} : AudioFormat{0.0, 0};
        h.mic.failStart = row.failStart;
        h.players.nowPlaying = {"music"};
        h.launch(row.texts);

        h.press();
        EXPECT_FALSE(h.app->isRecording());
        EXPECT_EQ(h.notifications.posted, (std::vector<Posted>{row.expected}));
        EXPECT_EQ(h.item.icon, "exclamationmark.triangle");
        EXPECT_FALSE(h.panel.visible);
        // The music paused for the recording plays again at once.
        EXPECT_EQ(h.players.calls,
                  (std::vector<std::string>{"playing", "pause:music", "play:music"}));

        const auto icons = h.item.iconHistory.size();
        h.release();
        EXPECT_EQ(h.item.iconHistory.size(), icons);
        EXPECT_TRUE(app.service.calls().empty());
    }
}

TEST_F(AppDelegateTest, SilenceIsDroppedWithoutRequestOrMessage) {
    h.launch();
    struct Row {
        double seconds;
        double amplitude;
    };
    for (const Row row : {Row{0.3, 0.3}, Row{2.0, 0.001}, Row{0.0, 0.0}}) {
        h.press();
        h.speak(row.seconds, row.amplitude);
        h.release();
        EXPECT_FALSE(h.app->busy());
        EXPECT_EQ(h.item.icon, "mic");
        EXPECT_FALSE(h.panel.visible);
    }
    tasks.runAll();
    EXPECT_TRUE(service.calls().empty());
    EXPECT_TRUE(h.notifications.posted.empty());
}

TEST_F(AppDelegateTest, NoTokenAtTheEndOfARecordingDropsIt) {
    h.launch();
    h.keychain.deleteToken();
    h.dictate();
    EXPECT_EQ(h.notifications.posted,
              (std::vector<Posted>{{"Setup not finished", "Reopen the app to finish setup"}}));
    EXPECT_EQ(h.item.icon, "exclamationmark.triangle");
    EXPECT_FALSE(h.panel.visible);
    EXPECT_FALSE(h.app->pending());
    tasks.runAll();
    EXPECT_TRUE(service.calls().empty());
}

TEST_F(AppDelegateTest, AnAbortDiscardsTheRecording) {
    h.players.nowPlaying = {"music"};
    h.launch();
    h.press();
    h.speak(2.0);
    h.session.wake();  // a wake while held aborts at once
    h.settle();
    EXPECT_FALSE(h.app->isRecording());
    EXPECT_FALSE(h.mic.running());
    EXPECT_EQ(h.item.icon, "mic");
    EXPECT_FALSE(h.panel.visible);
    EXPECT_EQ(h.players.calls.back(), "play:music");
    h.release();  // the key-up finds the latch already up
    tasks.runAll();
    EXPECT_TRUE(service.calls().empty());
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
    finishTranscription();
    EXPECT_EQ(service.calls().size(), 1u);
}

TEST_F(AppDelegateTest, A75SecondHoldSendsTheFirst60Seconds) {
    h.launch();
    h.press();
    for (int second = 0; second < 75; ++second) {
        h.speak(1.0);
        h.loop.advance(1.0);  // keep-alive ticks pass while the key is held (hold < 90 s)
    }
    EXPECT_FALSE(h.mic.running());  // the recorder stopped itself a little after 60 s
    EXPECT_TRUE(h.app->isRecording());
    EXPECT_TRUE(h.panel.visible);
    EXPECT_EQ(h.panel.text, "🎤 Listening…");
    h.release();
    finishTranscription();
    const auto calls = service.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].audioSeconds, 60.0);
    EXPECT_EQ(calls[0].wav.size(), 44u + 1920000u);
}

// Each failure of the service: what the user is told and whether the recording is kept.
TEST(AppDelegateFailures, EachIsToldAndOnlyRetryableOnesKeepTheRecording) {
    struct Row {
        std::optional<APIError> error;  // nullopt: a failure that is not an APIError
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
        {std::nullopt, false, {"Transcription failed", "Please try again"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error ? toString(*row.error) : "other");
        FakeApp app;
        auto& [service, tasks, h] = app;
        h.launch();
        if (row.error) {
            service.script(*row.error);
        } else {
            service.script(std::make_exception_ptr(std::runtime_error("deadline exceeded")));
        }
        h.dictate();
        app.finishTranscription();
        EXPECT_EQ(h.notifications.posted, (std::vector<Posted>{row.told}));
        EXPECT_EQ(h.item.icon, "exclamationmark.triangle");
        EXPECT_FALSE(h.panel.visible);
        EXPECT_EQ(h.app->pending().has_value(), row.kept);
        EXPECT_EQ(h.retryShown(), row.kept);
        if (row.kept) {
            EXPECT_EQ(*h.app->pending()->wav, service.calls().back().wav);
        }
        // After unauthorized the token is forgotten, so that a reopened app asks anew.
        EXPECT_EQ(h.keychain.loadToken().has_value(), row.error != APIError::unauthorized);
        EXPECT_TRUE(h.pasteboard.history.empty());
        h.loop.advance(3.0);
        EXPECT_EQ(h.item.icon, "mic");
    }
}

TEST_F(AppDelegateTest, RetryKeepsTheSameRecordingUntilItSucceeds) {
    h.launch();
    service.script(APIError::timedOut);
    h.dictate();
    finishTranscription();
    ASSERT_TRUE(h.retryShown());
    const auto kept = *h.app->pending()->wav;

    service.script(APIError::network);
    h.app->retry();
    finishTranscription();
    EXPECT_EQ(*h.app->pending()->wav, kept);
    EXPECT_TRUE(h.retryShown());
    ASSERT_EQ(h.notifications.posted.size(), 2u);
    EXPECT_EQ(h.notifications.posted[1].title, "Network too slow");

    service.scriptText("retried text");
    EXPECT_TRUE(h.item.choose(MenuBarController::retryTag));
    EXPECT_TRUE(h.app->busy());
    EXPECT_TRUE(h.app->pending());  // not cleared by starting the retry
    finishTranscription();
    EXPECT_EQ(service.calls().back().wav, kept);
    EXPECT_EQ(h.pasteboard.text, "retried text");
    EXPECT_FALSE(h.app->pending());
    EXPECT_FALSE(h.retryShown());
    EXPECT_EQ(h.item.icon, "mic");
}

TEST_F(AppDelegateTest, PendingRecordingIsReplacedOnlyByANewerRetryableFailure) {
    h.launch();
    service.script(APIError::network);
    h.dictate(1.0);
    finishTranscription();
    const auto first = *h.app->pending()->wav;

    service.scriptText("fine");  // a new dictation that succeeds leaves the older one alone
    h.dictate(1.5);
    finishTranscription();
    EXPECT_EQ(*h.app->pending()->wav, first);
    EXPECT_TRUE(h.retryShown());

    service.script(APIError::rateLimited);  // not retryable: leaves it alone too
    h.dictate(1.5);
    finishTranscription();
    EXPECT_EQ(*h.app->pending()->wav, first);

    service.script(APIError::asrFailed);  // retryable: replaces it
    h.dictate(2.0);
    finishTranscription();
    EXPECT_NE(*h.app->pending()->wav, first);
    EXPECT_EQ(*h.app->pending()->wav, service.calls().back().wav);
    EXPECT_NEAR(h.app->pending()->seconds, 2.0, 0.001);
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
    tasks.runAll();
    EXPECT_EQ(service.pings(), 1);
    h.loop.advance(60.0);
    tasks.runAll();
    EXPECT_EQ(service.pings(), 2);
    h.dictate();  // busy from here
    h.loop.advance(60.0);
    tasks.runAll();
    h.settle();
    EXPECT_EQ(service.pings(), 2);
    EXPECT_EQ(service.calls().size(), 1u);
    h.loop.advance(60.0);
    tasks.runAll();
    EXPECT_EQ(service.pings(), 3);
}

TEST_F(AppDelegateTest, MenuCommandsQuitAndCheckForUpdates) {
    h.launch();
    h.item.chooseTitled("Check for Updates…");
    EXPECT_EQ(h.updateChecks, 1);
    EXPECT_FALSE(h.loop.quitRequested());
    h.item.chooseTitled("Quit");
    EXPECT_TRUE(h.loop.quitRequested());

    FakeApp withoutFeed;  // a build without an update feed hides the command
    withoutFeed.h.hasUpdateFeed = false;
    withoutFeed.h.launch();
    EXPECT_TRUE(withoutFeed.h.item.item(MenuBarController::checkUpdatesTag)->hidden);
}

TEST_F(AppDelegateTest, ActivationSaysSayloftIsAlreadyRunningInTheChosenLanguage) {
    struct Row {
        const Texts& texts;
        std::optional<std::int64_t> hotkey;
        Posted expected;
    };
    const Row rows[] = {
        {Texts::english(),
         std::nullopt,
         {"Sayloft is already running",
          "Hold Right Alt and speak; the menu is on the mic icon in the system tray."}},
        {Texts::chinese(),
         62,
         {"言泉已在运行", "按住右 Ctrl 说话即可,菜单在系统托盘的话筒图标里。"}},
    };
    for (const auto& row : rows) {
        FakeApp app;
        if (row.hotkey) {
            app.h.defaults.setInteger("hotkeyKeyCode", *row.hotkey);
        }
        app.h.launch(row.texts);
        app.h.app->activate();
        EXPECT_EQ(app.h.notifications.posted, (std::vector<Posted>{row.expected}));
    }
}

TEST_F(AppDelegateTest, RecentDictationsKeepTheLastTenNewestFirstAndCopyTheWholeText) {
    h.launch();
    const auto recentTitles = [&] {
        std::vector<std::string> titles;
        for (const auto& entry : h.item.item(MenuBarController::recentDictationsTag)->submenu) {
            titles.push_back(entry.title);
        }
        return titles;
    };
    EXPECT_FALSE(h.item.item(MenuBarController::recentDictationsTag)->enabled);
    const std::string first = "first line\nsecond line that goes on and on past forty characters";
    std::vector<std::string> said = {first};
    for (int i = 1; i <= 10; ++i) {
        said.push_back("note " + std::to_string(i));
    }
    service.scriptText("谢谢观看", 2.5);  // filtered to nothing: not a dictation, but logged
    h.dictate();
    finishTranscription();
    EXPECT_TRUE(h.pasteboard.history.empty());
    EXPECT_NE(h.latencyLogText().find("\taudio=2.5s\ttotal=0ms\n"), std::string::npos);
    for (const auto& text : said) {
        service.scriptText(text);
        h.dictate();
        finishTranscription();
        if (text == first) {
            EXPECT_EQ(recentTitles(),
                      (std::vector<std::string>{"first line second line that goes on and…"}));
        }
    }
    std::vector<std::string> expected;
    for (int i = 10; i >= 1; --i) {
        expected.push_back("note " + std::to_string(i));
    }
    EXPECT_EQ(recentTitles(), expected);  // the first one fell out

    const auto inserted = h.pasteboard.history.size();
    EXPECT_TRUE(h.item.choose(MenuBarController::firstRecentTag + 2));
    ASSERT_EQ(h.pasteboard.history.size(), inserted + 1);
    EXPECT_EQ(h.pasteboard.history.back(), "note 8");
    EXPECT_EQ(h.keyboard.strokes.size(), 2 * said.size());  // copied, not pasted
}

TEST_F(AppDelegateTest, AnAnswerArrivingAfterTheControllerIsGoneIsDropped) {
    h.launch();
    service.scriptText("too late");
    h.dictate();
    h.app.reset();
    tasks.runAll();
    h.settle();
    EXPECT_TRUE(h.pasteboard.history.empty());
}

}  // namespace
}  // namespace sayloft::test
