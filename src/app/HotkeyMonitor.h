#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "app/WeakPtrFactory.h"
#include "core/hotkey/HotkeyLatch.h"
#include "platform/KeyEventMonitor.h"
#include "platform/RunLoop.h"
#include "platform/SessionEvents.h"
#include "platform/UserDefaults.h"

namespace sayloft {

// Watches the chosen modifier key system-wide and reports hold-to-talk events. Every change of
// that key goes through a HotkeyLatch; the resulting press, release or abort is delivered through
// the RunLoop after the event has been handled. A hold longer than 90 s, or one that spans a
// wake, is aborted. Everything here runs on the main thread.
class HotkeyMonitor {
public:
    using Callback = std::function<void()>;

    static constexpr double maxHoldSeconds = 90.0;

    HotkeyMonitor(RunLoop& runLoop, KeyEventMonitor& keys, SessionEvents& session,
                  UserDefaults& defaults);
    ~HotkeyMonitor();
    HotkeyMonitor(const HotkeyMonitor&) = delete;
    HotkeyMonitor& operator=(const HotkeyMonitor&) = delete;

    // Set before start(). A callback that is not set is skipped.
    Callback onPress;
    Callback onRelease;
    Callback onAbort;        // a hold ended by the 90 s limit or a wake: discard the recording
    Callback onUnavailable;  // the key monitor could not be installed

    // Observes the wake events (once per monitor) and installs the key monitor unless one is
    // installed; calls onUnavailable when it cannot be.
    void start();
    // Removes the key monitor, if any.
    void stop();
    // Aborts a hold older than 90 s, then reinstalls the key monitor unless a hold is still in
    // progress. Called by the keep-alive timer and when input permission comes back.
    void ensureAlive();

    bool isInstalled() const { return monitor_.has_value(); }

    // The modifier flag a key sets while held: Alt, Super and Ctrl (left and right sharing their
    // flag) and Fn. nullopt for any other key, which then never fires.
    static std::optional<std::uint64_t> flagFor(std::uint16_t keyCode);

private:
    void handle(const ModifierEvent& event);
    void observeWake();
    void handleWake();
    void deliver(HotkeyLatch::Action action);

    RunLoop& runLoop_;
    KeyEventMonitor& keys_;
    SessionEvents& session_;
    UserDefaults& defaults_;
    std::optional<KeyEventMonitor::MonitorId> monitor_;
    HotkeyLatch latch_{maxHoldSeconds};
    bool observing_ = false;
    // Handlers given to the platform hold this weakly and do nothing once the monitor is gone.
    WeakPtrFactory<HotkeyMonitor> weak_{this};  // last: destroyed first
};

}  // namespace sayloft
