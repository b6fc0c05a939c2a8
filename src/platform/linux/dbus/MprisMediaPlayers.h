#pragma once

#include <string>
#include <vector>

#include <QtDBus/QDBusConnection>

#include "platform/MediaPlayers.h"

namespace sayloft {

// Media players over MPRIS on the session bus: every bus name starting with
// "org.mpris.MediaPlayer2." is a player, its id is that name. playing() asks all of them for
// their PlaybackStatus at once, so one wedged player costs the time-out once, not per player;
// pause() and play() call the player's Pause and Play. Every D-Bus call carries what is left of
// the caller's time-out, so no call waits longer. Failures are silent.
//
// Any one thread (the media queue's worker); it needs no event loop of its own.
class MprisMediaPlayers final : public MediaPlayers {
public:
    explicit MprisMediaPlayers(QDBusConnection sessionBus);

    std::vector<std::string> playing(Timeout timeout) override;
    void pause(const std::string& player, Timeout timeout) override;
    void play(const std::string& player, Timeout timeout) override;

    static constexpr const char* namePrefix = "org.mpris.MediaPlayer2.";

private:
    void command(const std::string& player, const char* method, Timeout timeout);

    QDBusConnection bus_;
};

}  // namespace sayloft
