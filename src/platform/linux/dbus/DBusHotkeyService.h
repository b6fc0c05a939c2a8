#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <QtDBus/QDBusConnection>

namespace sayloft {

// Sayloft's own name on the session bus, org.sayloft.Sayloft (object /org/sayloft/Sayloft,
// interface org.sayloft.Sayloft), taken by every start: whoever holds it is the one Sayloft of
// this login. Its methods:
// - Activate(): a second start of Sayloft hands over to this one (see activateRunning()); runs
//   `onActivate`.
// - HotkeyPressed(s cookie, x sentAt), HotkeyReleased(s cookie, x sentAt): a compositor key
//   binding reports the hotkey through `sayloft-cli hotkey press|release` (sentAt: the caller's
//   CLOCK_MONOTONIC start time in nanoseconds). Only once acceptHotkey() was called (the key
//   binding route); before that they are answered with org.freedesktop.DBus.Error.NotSupported.
//
// A call is accepted only from a process of the same user (the bus daemon vouches for the
// caller's uid), and a hotkey call only with the per-login cookie (see HotkeyCookie); anything
// else is answered with org.freedesktop.DBus.Error.AccessDenied, and the first refusal is logged
// to standard error. Accepted calls reach the callbacks on the main thread (the bus
// connection's thread).
class DBusHotkeyService {
public:
    using Report = std::function<void(bool down, std::int64_t sentAt)>;

    static constexpr const char* serviceName = "org.sayloft.Sayloft";
    static constexpr const char* objectPath = "/org/sayloft/Sayloft";
    static constexpr const char* interfaceName = "org.sayloft.Sayloft";
    // How long a second start waits for the first to answer Activate().
    static constexpr int activateTimeoutMs = 2000;

    enum class Start {
        owner,           // the name is ours: this is the one Sayloft of the login
        alreadyRunning,  // another process holds the name
        noBus,           // no session bus, or it refused the object or the name
    };
    enum class Activation {
        answered,    // the running Sayloft took over
        noAnswer,    // it holds the name but did not answer in time (or answered an error)
        notRunning,  // nobody holds the name (any more)
    };

    explicit DBusHotkeyService(QDBusConnection bus);
    // Gives the name up and removes the object.
    ~DBusHotkeyService();

    DBusHotkeyService(const DBusHotkeyService&) = delete;
    DBusHotkeyService& operator=(const DBusHotkeyService&) = delete;

    // Exports the object and takes the name, never queueing for it.
    Start start();

    // Main thread. From now on hotkey calls with this cookie reach `report`.
    void acceptHotkey(std::string cookie, Report report);
    // Main thread. Run at every accepted Activate(); the call is answered either way.
    void setOnActivate(std::function<void()> onActivate);

    // A second start: asks the Sayloft holding the name to take over, waiting at most timeoutMs
    // (the event loop runs meanwhile, so that a holder in this process can answer).
    static Activation activateRunning(QDBusConnection bus, int timeoutMs = activateTimeoutMs);

    // The rule for a hotkey call: from this user, with this login's cookie.
    static bool accepts(std::uint32_t callerUid, std::uint32_t ownUid, std::string_view cookie,
                        std::string_view expected);

private:
    class Adaptor;
    QDBusConnection bus_;
    std::unique_ptr<Adaptor> adaptor_;
    bool started_ = false;
};

}  // namespace sayloft
