#include "app/MediaController.h"

#include <algorithm>
#include <utility>

namespace sayloft {

MediaController::MediaController(MediaPlayers& players, SerialQueue& queue)
    : queue_(queue), state_(std::make_shared<State>(State{players, {}})) {
}

void MediaController::pauseIfPlaying() {
    queue_.post([state = state_] {
        const auto playing = state->players.playing(callTimeout);
        for (const auto& player : playing) {
            state->players.pause(player, callTimeout);
            // Remembered whether or not the pause worked, so that the resume asks again.
            if (std::find(state->pausedByUs.begin(), state->pausedByUs.end(), player) ==
                state->pausedByUs.end()) {
                state->pausedByUs.push_back(player);
            }
        }
    });
}

void MediaController::resumeIfPaused() {
    queue_.post([state = state_] {
        const auto paused = std::exchange(state->pausedByUs, {});
        for (const auto& player : paused) {
            state->players.play(player, callTimeout);
        }
    });
}

}  // namespace sayloft
