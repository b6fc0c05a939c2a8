#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <QtCore/QString>
#include <QtDBus/QDBusConnection>

#include "platform/KeyEventMonitor.h"

namespace sayloft {

class PortalRequest;

// The hotkey through the desktop's GlobalShortcuts portal (KDE Plasma 5.27+, GNOME 48+): one
// session with one shortcut, "hold to talk", whose preferred trigger is the chosen hotkey. The
// desktop decides the trigger (it may refuse a bare modifier and bind another key, which the user
// then changes in its settings); Activated is the press and Deactivated the release. A repeated
// Activated while held (GNOME sends one per auto-repeat) and a Deactivated without a press are
// ignored. Each press or release reaches the handlers as the modifier event eventFor() gives,
// so the hotkey monitor's latch applies unchanged. Main thread only.
class GlobalShortcutsKeyEventMonitor final : public KeyEventMonitor {
public:
    static constexpr const char* shortcutId = "hold-to-talk";

    enum class State {
        idle,     // start() not called yet
        binding,  // the session is being created and the shortcut bound
        bound,    // the desktop bound the shortcut: presses arrive
        failed,   // no portal, refused, or the desktop closed the session: see failure()
    };

    struct Options {
        std::string description;  // what the desktop shows next to the shortcut
        // The trigger to propose, in the shortcuts notation ("Alt_R"); read at every bind.
        std::function<std::string()> preferredTrigger;
        // The modifier event standing for a press (true) or release of the chosen hotkey.
        std::function<ModifierEvent(bool down)> eventFor;
    };

    GlobalShortcutsKeyEventMonitor(QDBusConnection bus, Options options);
    // Closes the session.
    ~GlobalShortcutsKeyEventMonitor() override;
    GlobalShortcutsKeyEventMonitor(const GlobalShortcutsKeyEventMonitor&) = delete;
    GlobalShortcutsKeyEventMonitor& operator=(const GlobalShortcutsKeyEventMonitor&) = delete;

    // Creates the session and binds the shortcut; the answer comes later (onChange).
    void start();
    // The hotkey choice changed: closes the session (a held key is released) and binds anew
    // with the preferred trigger of now.
    void rebind();

    State state() const { return state_; }
    // Why the state is failed, for the log: one line.
    const std::string& failure() const { return failure_; }
    // The trigger as the desktop describes it, once bound; empty when it bound none.
    const std::string& trigger() const { return trigger_; }
    // The trigger to show the user because the desktop chose it, not Sayloft: nullopt while the
    // bound trigger is the proposed one (or nothing is bound); the desktop's description (empty
    // when it bound no trigger at all) otherwise.
    std::optional<std::string> desktopTrigger() const;

    // Run on the main thread after every change of state() or trigger().
    std::function<void()> onChange;

    // True from start() until a failure: while the desktop binds (its dialog may be open) the
    // hotkey monitor installs its handler, which then hears the first press.
    bool isTrusted() const override { return state_ == State::binding || state_ == State::bound; }
    std::optional<MonitorId> install(Handler handler) override;
    void remove(MonitorId id) override;

    // The shortcuts notation (an xkb keysym name) of a hotkey key code: 61 -> "Alt_R"; empty for
    // a key that is no hotkey.
    static std::string triggerFor(std::uint16_t keyCode);
    // Whether the desktop's description names this trigger: compared without case, spaces,
    // '_', '+' or '-' ("Alt R", "ALT_R" and "alt_r" name Alt_R).
    static bool describes(const std::string& description, const std::string& trigger);

private:
    class Receiver;
    void createSession();
    void bindShortcut();
    void fail(std::string why);
    void closeSession();
    void deliver(bool down);
    void setTrigger(const QVariant& shortcuts);
    void changed();

    QDBusConnection bus_;
    Options options_;
    std::unique_ptr<Receiver> receiver_;
    std::unique_ptr<PortalRequest> request_;
    State state_ = State::idle;
    std::string failure_;
    std::string trigger_;
    std::string proposed_;
    QString session_;
    bool held_ = false;
    std::map<MonitorId, Handler> handlers_;
    MonitorId nextId_ = 1;
};

}  // namespace sayloft
