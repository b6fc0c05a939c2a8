#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include <QtCore/QString>
#include <QtDBus/QDBusConnection>

#include "platform/KeyboardEvents.h"
#include "platform/Notifications.h"
#include "platform/Pasteboard.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"

namespace sayloft {

class PortalRequest;

// Typing through the desktop's RemoteDesktop portal (KDE Plasma, GNOME), for compositors that
// offer no virtual keyboard. start() asks for a keyboard-only session: the desktop shows its
// permission dialog, unless a session granted earlier is restored (portal version 2 and later:
// the restore token is kept in the settings; each start receives a new one). Where the portal
// cannot restore, a notification says once, at the first start, that the dialog comes at every
// start.
//
// Once the session runs, a key-down carrying text types it as keysyms, each pressed and
// released; a piece holding a character the keyboard layout cannot produce (the compositor
// drops those) goes on the clipboard and is pasted with Shift+Insert instead. Other keys (the
// paste chord) go as evdev key codes with their modifiers pressed around them. One Shift press
// and release goes first of all: the first key event of a session is otherwise lost.
//
// Without a running session (no portal, the dialog cancelled or refused, the session closed, or
// still waiting for the dialog) nothing is silently lost: typed text is put on the clipboard,
// and after the insertion (the next turn of the run loop) a notification says to paste it with
// Ctrl+V; a paste chord brings the same notification (the text is already on the clipboard).
// Main thread only.
class RemoteDesktopKeyboardEvents final : public KeyboardEvents {
public:
    static constexpr const char* restoreTokenKey = "remoteDesktopRestoreToken";
    static constexpr const char* dialogExplainedKey = "remoteDesktopDialogExplained";

    enum class State {
        idle,         // start() not called yet
        starting,     // the session is being created (the dialog may be open)
        running,      // keys are typed
        unavailable,  // no session: see failure(); text goes to the clipboard
    };

    struct Message {
        std::string title;
        std::string body;
    };
    struct Options {
        Message pasteYourself;     // the text is on the clipboard: paste it with Ctrl+V
        Message dialogEveryStart;  // the desktop asks for permission at every start
        // Whether the session's keyboard layout produces a keysym (LayoutKeysyms).
        std::function<bool(std::uint32_t keysym)> producible;
    };

    RemoteDesktopKeyboardEvents(QDBusConnection bus, RunLoop& runLoop, UserDefaults& defaults,
                                Pasteboard& pasteboard, Notifications& notifications,
                                Options options);
    // Closes the session.
    ~RemoteDesktopKeyboardEvents() override;
    RemoteDesktopKeyboardEvents(const RemoteDesktopKeyboardEvents&) = delete;
    RemoteDesktopKeyboardEvents& operator=(const RemoteDesktopKeyboardEvents&) = delete;

    // portalVersion: the RemoteDesktop interface's version property; 2 and later restore a
    // granted session. The answer comes later (onChange).
    void start(unsigned portalVersion);

    State state() const { return state_; }
    const std::string& failure() const { return failure_; }
    std::function<void()> onChange;

    void post(const KeyStroke& stroke) override;

private:
    class Receiver;
    void selectDevices();
    void startSession();
    void fail(std::string why);
    void closeSession();
    void type(const std::u16string& text);
    void key(std::uint32_t evdevCode, bool down, std::uint64_t flags);
    void notify(const QString& method, std::int32_t value, bool down);
    void warmUp();
    void keepForPasting(const std::u16string& text);
    void changed();

    QDBusConnection bus_;
    RunLoop& runLoop_;
    UserDefaults& defaults_;
    Pasteboard& pasteboard_;
    Notifications& notifications_;
    Options options_;
    std::unique_ptr<Receiver> receiver_;
    std::unique_ptr<PortalRequest> request_;
    State state_ = State::idle;
    std::string failure_;
    QString session_;
    bool persist_ = false;
    bool warmedUp_ = false;
    std::set<std::uint16_t> textKeysDown_;  // virtual keys whose key-down carried text
    std::string unpasted_;                  // text put on the clipboard since the last notification
    bool notificationDue_ = false;
    std::shared_ptr<RemoteDesktopKeyboardEvents*> self_ =
        std::make_shared<RemoteDesktopKeyboardEvents*>(this);
};

}  // namespace sayloft
