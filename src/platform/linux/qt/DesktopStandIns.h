#pragma once

#include <string>
#include <vector>

#include "platform/MediaPlayers.h"
#include "platform/Notifications.h"
#include "platform/SessionEvents.h"

namespace sayloft {

// Placeholders for desktop services this build does not have yet: they do nothing and report
// that nothing is there, so the application starts and says so instead of failing.
struct NoSessionEvents final : SessionEvents {
    void observe(Handler) override {}
};

struct NoNotifications final : Notifications {
    void requestAuthorization() override {}
    void post(const std::string&, const std::string&) override {}
};

struct NoMediaPlayers final : MediaPlayers {
    std::vector<std::string> playing(Timeout) override { return {}; }
    void pause(const std::string&, Timeout) override {}
    void play(const std::string&, Timeout) override {}
};

}  // namespace sayloft
