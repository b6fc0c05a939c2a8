#pragma once

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/MediaPlayers.h"

namespace sayloft::test {

// Players by id; the test says which play. Every call is logged ("playing", "pause:<id>",
// "play:<id>") with the time-out it carried.
class FakeMediaPlayers final : public MediaPlayers {
public:
    std::set<std::string> nowPlaying;
    std::vector<std::string> calls;
    std::vector<Timeout> timeouts;

    std::vector<std::string> playing(Timeout timeout) override {
        log("playing", timeout);
        return {nowPlaying.begin(), nowPlaying.end()};
    }
    void pause(const std::string& player, Timeout timeout) override {
        log("pause:" + player, timeout);
        nowPlaying.erase(player);
    }
    void play(const std::string& player, Timeout timeout) override {
        log("play:" + player, timeout);
        nowPlaying.insert(player);
    }

private:
    void log(std::string call, Timeout timeout) {
        calls.push_back(std::move(call));
        timeouts.push_back(timeout);
    }
};

}  // namespace sayloft::test
