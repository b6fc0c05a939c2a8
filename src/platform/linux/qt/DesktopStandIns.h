#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/KeyEventMonitor.h"
#include "platform/KeyboardEvents.h"
#include "platform/MediaPlayers.h"
#include "platform/ModifierEvent.h"
#include "platform/Notifications.h"
#include "platform/Pasteboard.h"
#include "platform/SessionEvents.h"

namespace sayloft {

// Placeholders for desktop services this build does not have yet: they do nothing and report
// that nothing is there, so the application starts and says so instead of failing.
struct NoKeyEventMonitor final : KeyEventMonitor {
    bool isTrusted() const override { return false; }
    std::optional<MonitorId> install(Handler) override { return std::nullopt; }
    void remove(MonitorId) override {}
};

struct NoKeyboardEvents final : KeyboardEvents {
    void post(const KeyStroke&) override {}
    std::uint64_t pasteModifiers() const override { return ModifierFlag::control; }
};

struct NoPasteboard final : Pasteboard {
    void setText(std::string_view) override {}
};

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
