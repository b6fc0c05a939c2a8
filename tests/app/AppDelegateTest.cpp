#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AppHarness.h"
#include "app/MediaController.h"

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

// Too short, too quiet, nothing at all; a wake while held aborts; no token; no microphone, or
// one that fails to open: no request, any stream cancelled, and the music playing again. A failed
// start is told at once (in the chosen language, never in the audio server's words) and its
// release ignored.
TEST(AppDelegateDrops, RecordingsThatAreNoDictation) {
    enum class Mic { works, missing, failsToStart };
    enum class Token { kept, goneAtPress, goneAtRelease };
    struct Row {
        Mic mic;
        double seconds;
        double amplitude;
        bool abort;
        Token token;
        std::vector<Posted> told;
        std::size_t streams;  // opened, then cancelled
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
        {Mic::works, 0.3, 0.3, false, Token::kept, {}, 0},
        {Mic::works, 2.0, 0.001, false, Token::kept, {}, 1},
        {Mic::works, 0.0, 0.0, false, Token::kept, {}, 0},
        {Mic::works, 2.0, 0.3, true, Token::kept, {}, 1},
        {Mic::works, 1.0, 0.3, false, Token::goneAtRelease, noToken, 1},
        {Mic::works, 1.0, 0.3, false, Token::goneAtPress, noToken, 0},
        {Mic::missing, 0, 0, false, Token::kept, noDevice, 0},
        {Mic::failsToStart, 0, 0, false, Token::kept, noStart, 0, Texts::chinese()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(&row - rows);
        FakeApp app;
        auto& [service, tasks, h] = app;
        service.streams = true;
        h.mic.format = row.mic == Mic::missing ? AudioFormat{0.0, 0} : h.mic.format;
        h.mic.failStart = row.mic == Mic::failsToStart;
        h.players.nowPlaying = {"music"};
        h.launch(row.texts);
        if (row.token == Token::goneAtPress) {
            h.keychain.deleteToken();
        }
        h.hold(row.seconds, row.amplitude);
        if (row.mic != Mic::works) {
            EXPECT_FALSE(h.app->isRecording());
            EXPECT_EQ(h.players.calls, (Strings{"playing", "pause:music", "play:music"}));
        }
        if (row.abort) {
            h.session.wake();
            h.settle();
            EXPECT_FALSE(h.app->isRecording());
            EXPECT_FALSE(h.mic.running());
        }
        if (row.token == Token::goneAtRelease) {
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
        ASSERT_EQ(service.opened.size(), row.streams);
        for (const auto& stream : service.opened) {
            EXPECT_TRUE(stream->cancelled && !stream->finished);
        }
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

// Each answer of the service in turn, on one app: what the user is told, and which recording is
// kept for the menu's retry. Only a retryable failure keeps (or replaces) it; a newer success or
// another failure leaves it alone; a successful retry clears it.
TEST_F(AppDelegateTest, FailuresAreToldAndOnlyRetryableOnesKeepTheRecordingUntilARetrySucceeds) {
    enum Kept { newest, same, none };
    struct Step {
        double dictate;  // 0: retry from the menu instead
        FakeTranscriptionService::Answer answer;
        std::optional<Posted> told;
        Kept kept;
    };
    const std::string saved =
        "Recording saved \u2014 click the mic icon in the system tray "
        "\u2192 \"Retry Last Recording\"";
    const Posted slow{"Network too slow", saved};
    const Posted failed{"Transcription failed", saved};
    const Step steps[] = {
        {1.0, APIError::network, slow, newest},
        {0, APIError::timedOut, slow, same},
        {1.5, TranscribeResult{"fine", 1.0}, std::nullopt, same},
        {1.5, APIError::rateLimited, Posted{"Too many requests", "Try again later"}, same},
        {2.0, APIError::asrFailed, failed, newest},
        {1.0, std::make_exception_ptr(std::runtime_error("deadline exceeded")),
         Posted{"Transcription failed", "Please try again"}, same},
        {1.2, APIError::badResponse, failed, newest},
        {0, TranscribeResult{"retried", 1.0}, std::nullopt, none},
        {1.0, APIError::unauthorized, Posted{"Device not authorized", "Reopen the app"}, none},
    };
    const auto pendingWav = [&] {
        return h.app->pending() ? *h.app->pending()->wav : std::vector<std::uint8_t>{};
    };
    h.launch();
    std::vector<std::uint8_t> kept;
    for (const Step& step : steps) {
        SCOPED_TRACE(&step - steps);
        service.script(step.answer);
        const auto pasted = h.pasteboard.history.size();
        const auto told = h.notifications.posted.size();
        if (step.dictate > 0) {
            h.dictate(step.dictate);
        } else {
            ASSERT_TRUE(h.item.choose(MenuBarController::retryTag));
            EXPECT_TRUE(h.app->busy());
            EXPECT_EQ(pendingWav(), kept);  // not cleared by starting the retry
        }
        finishWork();
        if (step.dictate == 0) {
            EXPECT_EQ(service.calls.back().wav, kept);
        }
        if (step.kept == newest) {
            kept = service.calls.back().wav;
            EXPECT_NEAR(h.app->pending()->seconds, step.dictate, 0.001);
        }
        EXPECT_EQ(pendingWav(), step.kept == none ? std::vector<std::uint8_t>{} : kept);
        EXPECT_EQ(h.retryShown(), step.kept != none);
        EXPECT_EQ(h.pasteboard.history.size(), pasted + (step.told ? 0 : 1));
        EXPECT_EQ(h.notifications.posted.size(), told + (step.told ? 1 : 0));
        if (step.told) {
            EXPECT_EQ(h.notifications.posted.back(), *step.told);
            EXPECT_EQ(h.item.icon, "exclamationmark.triangle");
            EXPECT_FALSE(h.panel.visible);
        }
        h.loop.advance(3.0);
        EXPECT_EQ(h.item.icon, "mic");
    }
    // Only after unauthorized is the token forgotten, so that a reopened app asks anew.
    EXPECT_FALSE(h.keychain.loadToken());
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

// The music paused while the user speaks.
TEST(MediaControllerTest, PausesOnlyWhenSomethingPlaysAndResumesOnlyWhatItPaused) {
    FakeMediaPlayers players;
    ManualSerialQueue queue;
    MediaController media{players, queue};
    // Nothing plays (the user paused the player by hand): nothing is started afterwards.
    media.pauseIfPlaying();
    media.resumeIfPaused();
    queue.runAll();
    EXPECT_EQ(players.calls, (Strings{"playing"}));

    // Two players play; a third one stays paused and is never touched.
    players.calls.clear();
    players.nowPlaying = {"a", "b"};
    media.pauseIfPlaying();
    queue.runAll();
    players.nowPlaying.insert("c");  // started by the user meanwhile: not ours to resume
    media.resumeIfPaused();
    queue.runAll();
    EXPECT_EQ(players.calls, (Strings{"playing", "pause:a", "pause:b", "play:a", "play:b"}));
    for (const auto timeout : players.timeouts) {  // each call gives up soon
        EXPECT_GT(timeout.count(), 0);
        EXPECT_LE(timeout, std::chrono::seconds(5));
    }

    // A resume without a pause that found media runs nothing.
    players.calls.clear();
    media.resumeIfPaused();
    queue.runAll();
    EXPECT_TRUE(players.calls.empty());
}

TEST(MediaControllerTest, QueuedWorkOutlivesTheController) {
    FakeMediaPlayers players;
    ManualSerialQueue queue;
    players.nowPlaying = {"a"};
    {
        MediaController shortLived(players, queue);
        shortLived.pauseIfPlaying();
        shortLived.resumeIfPaused();
    }
    queue.runAll();
    EXPECT_EQ(players.calls, (Strings{"playing", "pause:a", "play:a"}));
}

}  // namespace
}  // namespace sayloft::test
