#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AppHarness.h"
#include "app/MediaController.h"
#include "core/net/StreamFailed.h"

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
    EXPECT_TRUE(h.app->busy());
    EXPECT_EQ(h.players.calls.back(), "play:music");
    const auto icons = h.item.iconHistory;
    h.press();  // ignored while transcribing, and so are its release and a retry
    h.release();
    h.app->retry();
    EXPECT_EQ(h.mic.enginesMade, 1);
    EXPECT_EQ(h.item.iconHistory.back(), "ellipsis.circle");
    EXPECT_EQ(h.item.iconHistory, icons);
    EXPECT_EQ(h.panel.text, "⏳ Transcribing…");

    h.loop.advance(1.2345);  // the service takes its time; whole milliseconds, truncated
    finishWork();
    ASSERT_EQ(service.calls.size(), 1u);
    const auto& call = service.calls[0];
    EXPECT_EQ(call.token, "device-token");
    EXPECT_NEAR(call.audioSeconds, 1.5, 0.001);
    EXPECT_EQ(call.wav.size(), 44 + 2 * std::size_t(call.audioSeconds * 16000 + 0.5));

    EXPECT_EQ(h.pasteboard.text, "hello world");
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

    h.loop.advance(60.0);  // tick: still untrusted, monitor retried, silent
    EXPECT_EQ(h.notifications.posted.size(), 1u);

    h.keys.trusted = true;
    h.loop.advance(60.0);  // tick: trusted again, re-armed, the monitor is back
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
    EXPECT_EQ(h.keys.installed(), 1u);
    EXPECT_EQ(h.item.icon, "mic");
}

TEST_F(AppDelegateTest, KeepAlivePingsOnlyWhenIdle) {
    h.launch();
    h.dictate();  // busy from here
    h.loop.advance(60.0);
    finishWork();
    EXPECT_EQ(service.pings, 1);  // the launch's
    EXPECT_EQ(service.calls.size(), 1u);
    h.loop.advance(60.0);
    finishWork();
    EXPECT_EQ(service.pings, 2);
}

TEST_F(AppDelegateTest, CommandsActivateQuitAndCheckForUpdates) {
    h.defaults.setInteger("hotkeyKeyCode", 62);
    h.launch();
    h.app->activate();  // asked by another start of Sayloft
    EXPECT_EQ(h.notifications.posted,
              (std::vector<Posted>{{"Sayloft is already running",
                                    "Hold Right Ctrl and speak; the menu is on the mic icon in "
                                    "the system tray."}}));
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

// Streaming a dictation while the key is held, and the one-shot request as its fallback.
struct StreamingApp : FakeApp {
    StreamingApp() {
        service.streams = true;
        h.launch();
        tasks.runAll();  // the launch's ping
    }
};

class DictationStreamingTest : public ::testing::Test, protected StreamingApp {};

TEST_F(DictationStreamingTest, AHoldStreamsOnceItLastsTheMinimumAndItsTranscriptIsInserted) {
    service.scriptStream(TranscribeResult{"streamed words", 1.5});
    service.scriptText("one-shot words");  // must stay unused
    h.hold(1.5);
    ASSERT_EQ(service.opened.size(), 1u);
    const auto& stream = *service.opened[0];
    EXPECT_GT(stream.samples.size(), 20000u);  // the first moments, then block by block
    h.release();
    finishWork();
    EXPECT_TRUE(stream.finished);
    EXPECT_TRUE(service.calls.empty());
    EXPECT_EQ(h.pasteboard.text.value_or(""), "streamed words");
    EXPECT_EQ(stream.samples.size(), 24000u);  // every sample of the recording, once
    EXPECT_NE(h.latencyLogText().find("\taudio=1.5s\t"), std::string::npos);
}

TEST(DictationStreaming, AFailedStreamSendsTheWholeRecordingTheUsualWay) {
    struct Row {
        const char* name;
        std::exception_ptr stream;
        FakeTranscriptionService::Answer oneShot;
        const char* inserted;
        bool kept;          // the recording kept for the menu's retry
        bool streamsAgain;  // the next hold streams again
    };
    const auto failed = [](const char* what, bool notOffered) {
        return std::make_exception_ptr(StreamFailed(what, notOffered));
    };
    const TranscribeResult words{"words", 1.0};
    const Row rows[] = {
        {"refused or broken", failed("busy", false), words, "words", false, true},
        {"not offered", failed("no streams", true), words, "words", false, false},
        {"another failure", std::make_exception_ptr(std::runtime_error("odd")), words, "words",
         false, true},
        {"the fallback fails too", failed("reset", false), APIError::network, "", true, true},
        {"the fallback is unauthorized", failed("401", false), APIError::unauthorized, "", false,
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StreamingApp app;
        auto& [service, tasks, h] = static_cast<FakeApp&>(app);
        service.scriptStream(row.stream);
        service.script(row.oneShot);
        h.hold(1.0);
        h.release();
        app.finishWork();
        ASSERT_EQ(service.calls.size(), 1u);
        ASSERT_EQ(service.opened.size(), 1u);
        const auto& wav = service.calls[0].wav;
        std::vector<std::int16_t> sent((wav.size() - 44) / 2);
        std::memcpy(sent.data(), wav.data() + 44, sent.size() * 2);
        EXPECT_EQ(sent, service.opened[0]->samples);
        EXPECT_EQ(h.pasteboard.text.value_or(""), row.inserted);
        EXPECT_EQ(h.app->pending().has_value(), row.kept);

        h.keychain.saveToken("device-token");  // a 401 forgot it
        h.hold(0.5);
        EXPECT_EQ(service.opened.size(), row.streamsAgain ? 2u : 1u);
    }
}

// Past 60 s the recorder stops itself while the hold goes on (keep-alive ticks pass: the hold is
// short of the stuck-hold limit); the stream and its one-shot fallback carry the same 60 s.
TEST_F(DictationStreamingTest, ALongHoldSendsTheFirstSixtySeconds) {
    service.scriptStream(std::make_exception_ptr(StreamFailed("reset", false)));
    h.hold(75.0);
    EXPECT_FALSE(h.mic.running());
    EXPECT_TRUE(h.app->isRecording());
    EXPECT_EQ(h.panel.text, "🎤 Listening…");
    h.release();
    finishWork();
    ASSERT_EQ(service.calls.size(), 1u);
    EXPECT_EQ(service.calls[0].audioSeconds, 60.0);
    EXPECT_EQ(service.calls[0].wav.size(), 44u + 2 * Recorder::maxSamples);
    EXPECT_EQ(service.opened.at(0)->samples.size(), Recorder::maxSamples);
}

}  // namespace
}  // namespace sayloft::test
