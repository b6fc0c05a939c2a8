#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace sayloft {

// The desktop's media players (MPRIS on Linux). Every call blocks its caller until the player
// answers or `timeout` has passed, whichever comes first, and never longer: a wedged player can
// delay the caller by at most the time-out. Failures are silent. Called from one worker thread,
// never the main thread; the calls need not be thread-safe against each other.
class MediaPlayers {
public:
    using Timeout = std::chrono::milliseconds;

    virtual ~MediaPlayers() = default;

    // The players whose playback status is Playing, by stable id (their bus name); empty when
    // none plays or the question could not be answered in time.
    virtual std::vector<std::string> playing(Timeout timeout) = 0;

    // Asks one player to pause or to play. An unknown or vanished player is ignored.
    virtual void pause(const std::string& player, Timeout timeout) = 0;
    virtual void play(const std::string& player, Timeout timeout) = 0;
};

}  // namespace sayloft
