#include "app/HotkeyMonitor.h"

#include "app/HotkeySetting.h"

namespace sayloft {
namespace {

using Action = HotkeyLatch::Action;

}  // namespace

HotkeyMonitor::HotkeyMonitor(RunLoop& runLoop, KeyEventMonitor& keys, SessionEvents& session,
                             UserDefaults& defaults)
    : runLoop_(runLoop), keys_(keys), session_(session), defaults_(defaults) {
}

HotkeyMonitor::~HotkeyMonitor() {
    stop();
}

std::optional<std::uint64_t> HotkeyMonitor::flagFor(std::uint16_t keyCode) {
    switch (keyCode) {
        case 61:  // Right Alt
        case 58:  // Left Alt
            return ModifierFlag::option;
        case 54:  // Right Super
        case 55:  // Left Super
            return ModifierFlag::command;
        case 62:  // Right Ctrl
        case 59:  // Left Ctrl
            return ModifierFlag::control;
        case 63:  // Fn, where a keyboard reports it
            return ModifierFlag::function;
        default:
            return std::nullopt;
    }
}

void HotkeyMonitor::start() {
    observeWake();
    if (monitor_) {
        return;
    }
    if (keys_.isTrusted()) {
        monitor_ = keys_.install(weak_.bindWeak(
            [](HotkeyMonitor& self, const ModifierEvent& event) { self.handle(event); }));
        if (monitor_) {
            return;
        }
    }
    if (onUnavailable) {
        onUnavailable();
    }
}

void HotkeyMonitor::stop() {
    if (monitor_) {
        keys_.remove(*monitor_);
        monitor_.reset();
    }
}

void HotkeyMonitor::ensureAlive() {
    if (latch_.isDown()) {
        if (latch_.checkTimeout(runLoop_.ticks()) == Action::none) {
            return;  // a genuine hold: leave the monitor alone while the key is held
        }
        if (onAbort) {
            onAbort();
        }
        if (latch_.isDown()) {
            return;
        }
    }
    stop();
    start();
}

void HotkeyMonitor::handle(const ModifierEvent& event) {
    const std::uint16_t code = HotkeySetting::read(defaults_);
    if (event.keyCode != code) {
        return;
    }
    const auto flag = flagFor(code);
    if (!flag) {
        return;
    }
    // The device-independent flag: while the twin key on the other side is held, this key still
    // reads as down.
    const bool isDown = (event.flags & *flag) != 0;
    deliver(latch_.update(isDown, runLoop_.ticks()));
}

void HotkeyMonitor::deliver(Action action) {
    if (action == Action::none) {
        return;
    }
    // Posted, not called: the user's reaction to the key must not run inside the key monitor's
    // own event handling.
    runLoop_.post(weak_.bindWeak([action](HotkeyMonitor& monitor) {
        const Callback& callback = action == Action::press     ? monitor.onPress
                                   : action == Action::release ? monitor.onRelease
                                                               : monitor.onAbort;
        if (callback) {
            callback();
        }
    }));
}

void HotkeyMonitor::observeWake() {
    if (observing_) {
        return;
    }
    observing_ = true;
    session_.observe(weak_.bindWeak([](HotkeyMonitor& self) { self.handleWake(); }));
}

void HotkeyMonitor::handleWake() {
    if (latch_.isDown()) {
        latch_.forceRelease();
        if (onAbort) {
            onAbort();
        }
    }
    stop();
    start();
}

}  // namespace sayloft
