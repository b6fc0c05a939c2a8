#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "platform/KeyEventMonitor.h"

struct _XDisplay;
class QSocketNotifier;

namespace sayloft {

// The hotkey's eyes on X11: XInput 2 raw key events (XI_RawKeyPress, XI_RawKeyRelease) of every
// master keyboard, selected on the root window of its own X connection. Nothing is grabbed:
// every application still receives its keys. The connection's socket is watched by the Qt event
// loop, so handlers run on the main thread; a QCoreApplication must exist before construction.
//
// Keys are identified by X keycode, never by keysym (Right Alt is AltGr on many layouts), and
// reported as these virtual key codes: Right Alt 108 -> 61, Left Alt 64 -> 58, Right Super
// 134 -> 54, Left Super 133 -> 55, Right Ctrl 105 -> 62, Left Ctrl 37 -> 59. Other keys are
// not reported. An event's flags are those of the table keys down after the change (Alt =
// option, Super = command, Ctrl = control), so Left Alt held keeps `option` set when Right Alt
// goes up. Key repeat of a key already down is not a change and is not reported.
//
// Keys already down when the first monitor is installed: the server's key state is read right
// after the events are selected, so such keys count in the flags of later events, and their
// release is reported, but their press (which happened before) is not.
class XInputKeyEventMonitor final : public KeyEventMonitor {
public:
    // Opens the connection to displayName (nullptr: $DISPLAY). A display that cannot be opened,
    // or lacks XInput 2 or XTEST, leaves the monitor untrusted.
    explicit XInputKeyEventMonitor(const char* displayName = nullptr);
    ~XInputKeyEventMonitor() override;

    XInputKeyEventMonitor(const XInputKeyEventMonitor&) = delete;
    XInputKeyEventMonitor& operator=(const XInputKeyEventMonitor&) = delete;

    bool isTrusted() const override;
    std::optional<MonitorId> install(Handler handler) override;
    void remove(MonitorId id) override;

    // The virtual key code of an X keycode, nullopt outside the table above.
    static std::optional<std::uint16_t> virtualKeyFor(unsigned keycode);

    // Announces a key event this process is about to synthesise through XTEST (the keyboard
    // lifting a held hotkey around a paste chord and restoring it, or pressing Ctrl for it):
    // the matching raw event from the XTEST keyboard is then neither reported nor counted, so
    // that the user's hold is not seen to end. An announcement that no event matches within two
    // seconds is forgotten. Ignored while no monitor is installed.
    void expectOwnEvent(unsigned keycode, bool press);

private:
    struct OwnEvent {
        unsigned keycode;
        bool press;
        std::chrono::steady_clock::time_point at;
    };

    void readEvents();
    void handleRaw(unsigned keycode, bool press, int sourceId);
    bool consumeOwnEvent(unsigned keycode, bool press, int sourceId);
    void selectEvents(bool on);
    void readKeyState();
    std::uint64_t currentFlags() const;

    _XDisplay* display_ = nullptr;
    int xiOpcode_ = -1;
    int xtestKeyboard_ = -1;  // device id of the XTEST slave keyboard, -1 when not found
    bool trusted_ = false;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::map<MonitorId, Handler> handlers_;
    MonitorId nextId_ = 1;
    std::set<unsigned> down_;  // X keycodes of the table keys now down
    std::deque<OwnEvent> ownEvents_;
};

}  // namespace sayloft
