#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "platform/KeyEventMonitor.h"
#include "platform/UserDefaults.h"

namespace sayloft {

// A KeyEventMonitor fed by something that reports the hotkey's press and release itself rather
// than every modifier change: a compositor key binding running `sayloft-cli hotkey
// press|release`. Each report becomes the modifier event of the hotkey chosen now (read from the
// settings at every report), so the hotkey monitor's latch, its stuck-hold rule and the menu's
// choice apply unchanged. Main thread only.
//
// The two reports come from two separate processes that the binding starts one after the other
// and that may reach Sayloft in the wrong order after a very short tap. Each carries the
// monotonic time its process started; a report older than the newest one handled is dropped, so
// a late press cannot begin a hold that was already released.
class HotkeyRelay final : public KeyEventMonitor {
public:
    explicit HotkeyRelay(const UserDefaults& defaults);

    // Whether reports can arrive at all (the bus name is ours); isTrusted() answers this.
    void setAvailable(bool available) { available_ = available; }

    // Whether any report has come in: the compositor's key binding is in place and reaches
    // Sayloft. Any report counts, even one dropped as late or for a key that is no hotkey.
    bool hasReported() const { return newest_.has_value(); }

    // sentAt: the reporting process's monotonic clock reading, in nanoseconds.
    void press(std::int64_t sentAt);
    void release(std::int64_t sentAt);

    bool isTrusted() const override { return available_; }
    std::optional<MonitorId> install(Handler handler) override;
    void remove(MonitorId id) override;

private:
    void report(bool down, std::int64_t sentAt);

    const UserDefaults& defaults_;
    bool available_ = false;
    std::optional<std::int64_t> newest_;
    std::map<MonitorId, Handler> handlers_;
    MonitorId nextId_ = 1;
};

}  // namespace sayloft
