#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/SerialQueue.h"
#include "platform/MediaPlayers.h"

namespace sayloft {

// Pauses the media that plays while a dictation is recorded and resumes afterwards exactly the
// players it paused: a player the user had paused is never started. Both calls return at once;
// the work runs in order on a serial queue, so each resume runs after the pause check of the same
// recording, however slow a player is to answer. Every player call carries callTimeout, so a
// wedged player holds the queue for seconds, never for good. Nothing is ever reported.
class MediaController {
public:
    static constexpr std::chrono::milliseconds callTimeout{3000};

    MediaController(MediaPlayers& players, SerialQueue& queue);

    // Main thread (or any). Queues: pause every player that is playing, and remember them.
    void pauseIfPlaying();
    // Main thread (or any). Queues: play the players the last pause check paused.
    void resumeIfPaused();

private:
    struct State {
        MediaPlayers& players;
        std::vector<std::string> pausedByUs;  // touched only by work on the queue
    };

    SerialQueue& queue_;
    std::shared_ptr<State> state_;  // shared with queued work that may outlive this object
};

}  // namespace sayloft
