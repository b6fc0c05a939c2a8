#include "app/HotkeyRelay.h"

#include <vector>

#include "app/HotkeyMonitor.h"
#include "app/HotkeySetting.h"

namespace sayloft {

HotkeyRelay::HotkeyRelay(const UserDefaults& defaults) : defaults_(defaults) {
}

void HotkeyRelay::press(std::int64_t sentAt) {
    report(true, sentAt);
}

void HotkeyRelay::release(std::int64_t sentAt) {
    report(false, sentAt);
}

void HotkeyRelay::report(bool down, std::int64_t sentAt) {
    if (newest_ && sentAt < *newest_) {
        return;
    }
    newest_ = sentAt;
    const std::uint16_t code = HotkeySetting::read(defaults_);
    const auto flag = HotkeyMonitor::flagFor(code);
    if (!flag) {
        return;
    }
    const ModifierEvent event{code, down ? *flag : 0};
    // A handler may remove itself (or another) while being called.
    std::vector<Handler> handlers;
    for (const auto& [id, handler] : handlers_) {
        handlers.push_back(handler);
    }
    for (const auto& handler : handlers) {
        handler(event);
    }
}

std::optional<KeyEventMonitor::MonitorId> HotkeyRelay::install(Handler handler) {
    if (!available_) {
        return std::nullopt;
    }
    const MonitorId id = nextId_++;
    handlers_.emplace(id, std::move(handler));
    return id;
}

void HotkeyRelay::remove(MonitorId id) {
    handlers_.erase(id);
}

}  // namespace sayloft
