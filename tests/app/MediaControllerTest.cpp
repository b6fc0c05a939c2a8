#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/MediaController.h"
#include "fakes/FakeDesktop.h"

namespace sayloft::test {
namespace {

using Calls = std::vector<std::string>;

class MediaControllerTest : public ::testing::Test {
protected:
    FakeMediaPlayers players;
    ManualSerialQueue queue;
    MediaController media{players, queue};
};

TEST_F(MediaControllerTest, PausesOnlyWhenSomethingPlaysAndResumesOnlyWhatItPaused) {
    // Nothing plays (the user paused the player by hand): nothing is started afterwards.
    media.pauseIfPlaying();
    media.resumeIfPaused();
    queue.runAll();
    EXPECT_EQ(players.calls, (Calls{"playing"}));

    // Two players play; a third one stays paused and is never touched.
    players.calls.clear();
    players.nowPlaying = {"a", "b"};
    media.pauseIfPlaying();
    queue.runAll();
    players.nowPlaying.insert("c");  // started by the user meanwhile: not ours to resume
    media.resumeIfPaused();
    queue.runAll();
    EXPECT_EQ(players.calls, (Calls{"playing", "pause:a", "pause:b", "play:a", "play:b"}));
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

TEST_F(MediaControllerTest, QueuedWorkOutlivesTheController) {
    players.nowPlaying = {"a"};
    {
        MediaController shortLived(players, queue);
        shortLived.pauseIfPlaying();
        shortLived.resumeIfPaused();
    }
    queue.runAll();
    EXPECT_EQ(players.calls, (Calls{"playing", "pause:a", "play:a"}));
}

}  // namespace
}  // namespace sayloft::test
