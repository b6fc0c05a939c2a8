#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusVariant>
#include <gtest/gtest.h>

#include "app/MediaController.h"
#include "app/WorkerQueue.h"
#include "platform/linux/dbus/MprisMediaPlayers.h"
#include "qt/DBusMock.h"

namespace sayloft {
namespace {

using namespace std::chrono_literals;
using test::DBusMock;
using test::waitUntil;

const QString playerPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

// A player that answers Pause and Play by changing its PlaybackStatus, as real ones do.
std::unique_ptr<DBusMock> startPlayer(const std::string& id, const char* status) {
    auto player = DBusMock::plain(DBusMock::Bus::session, QString::fromStdString(id), playerPath,
                                  playerInterface);
    player->mock(QStringLiteral("AddProperty"),
                 {playerInterface, QStringLiteral("PlaybackStatus"),
                  QVariant::fromValue(QDBusVariant(QString::fromLatin1(status)))});
    for (const auto& [method, next] :
         {std::pair{"Pause", "Paused"}, std::pair{"Play", "Playing"}}) {
        player->mock(QStringLiteral("AddMethod"),
                     {playerInterface, QString::fromLatin1(method), QString(), QString(),
                      QStringLiteral("self.UpdateProperties('%1', {'PlaybackStatus': '%2'})")
                          .arg(playerInterface, QString::fromLatin1(next))});
    }
    return player;
}

class MprisMediaPlayersTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DBUS_SYSTEM_BUS_ADDRESS") == nullptr) {
            GTEST_SKIP() << "needs the private buses of scripts/desktop-session";
        }
    }
    MprisMediaPlayers players{QDBusConnection::sessionBus()};
};

TEST_F(MprisMediaPlayersTest, OnlyThePlayingPlayerIsPausedAndLaterResumed) {
    const std::string music = "org.mpris.MediaPlayer2.music";
    std::map<std::string, std::unique_ptr<DBusMock>> mocks;
    // The last is no player, though it has the same object: never touched.
    for (const auto& [id, status] :
         {std::pair{music.c_str(), "Playing"}, std::pair{"org.mpris.MediaPlayer2.video", "Paused"},
          std::pair{"org.mpris.MediaPlayer2.radio", "Stopped"},
          std::pair{"org.example.NotMpris", "Playing"}}) {
        mocks[id] = startPlayer(id, status);
    }

    EXPECT_EQ(players.playing(2s), std::vector{music});

    // The application's own sequence: pause around a recording, from its media worker thread.
    WorkerQueue queue;
    MediaController media(players, queue);
    media.pauseIfPlaying();
    const auto called = [&](const std::string& id, const char* method) {
        return mocks.at(id)->calls(QString::fromLatin1(method)).size();
    };
    ASSERT_TRUE(waitUntil([&] { return called(music, "Pause") == 1; }));
    media.resumeIfPaused();
    ASSERT_TRUE(waitUntil([&] { return called(music, "Play") == 1; }));
    EXPECT_EQ(players.playing(2s), std::vector{music});

    for (const auto& player : mocks) {
        const std::string& id = player.first;
        EXPECT_EQ(called(id, "Pause") + called(id, "Play"), id == music ? 2u : 0u) << id;
    }
    players.play("org.example.NotMpris", 1s);          // not an MPRIS name: ignored
    players.pause("org.mpris.MediaPlayer2.gone", 1s);  // no such player: silent
    EXPECT_EQ(called("org.example.NotMpris", "Play"), 0u);
}

TEST_F(MprisMediaPlayersTest, AWedgedPlayerCostsNoMoreThanTheTimeOut) {
    auto wedged = startPlayer("org.mpris.MediaPlayer2.wedged", "Playing");
    auto healthy = startPlayer("org.mpris.MediaPlayer2.healthy", "Playing");
    wedged->freeze();

    using Clock = std::chrono::steady_clock;
    const auto begin = Clock::now();
    // The healthy player still answers in time: the questions are asked side by side.
    EXPECT_EQ(players.playing(500ms), std::vector<std::string>{"org.mpris.MediaPlayer2.healthy"});
    players.pause("org.mpris.MediaPlayer2.wedged", 500ms);
    players.play("org.mpris.MediaPlayer2.wedged", 500ms);
    const auto elapsed = Clock::now() - begin;
    // Three calls of 500 ms at most; a call without its time-out would take Qt's 25 s.
    EXPECT_LT(elapsed, 5s);
}

}  // namespace
}  // namespace sayloft
