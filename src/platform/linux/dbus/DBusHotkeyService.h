#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <QtDBus/QDBusConnection>

namespace sayloft {

// Sayloft's own name on the session bus, through which a compositor key binding reports the
// hotkey: `sayloft-cli hotkey press|release` calls HotkeyPressed(s cookie, x sentAt) or
// HotkeyReleased(s cookie, x sentAt) on object /org/sayloft/Sayloft, interface
// org.sayloft.Sayloft, of the well-known name org.sayloft.Sayloft (sentAt: the caller's
// CLOCK_MONOTONIC start time in nanoseconds).
//
// A call is accepted only from a process of the same user (the bus daemon vouches for the
// caller's uid) that passes the per-login cookie (see HotkeyCookie); anything else is answered
// with org.freedesktop.DBus.Error.AccessDenied, and the first refusal is logged to standard
// error. Accepted calls reach `report` on the main thread (the bus connection's thread).
class DBusHotkeyService {
public:
    using Report = std::function<void(bool down, std::int64_t sentAt)>;

    static constexpr const char* serviceName = "org.sayloft.Sayloft";
    static constexpr const char* objectPath = "/org/sayloft/Sayloft";
    static constexpr const char* interfaceName = "org.sayloft.Sayloft";

    DBusHotkeyService(QDBusConnection bus, std::string cookie, Report report);
    // Gives the name up and removes the object.
    ~DBusHotkeyService();

    DBusHotkeyService(const DBusHotkeyService&) = delete;
    DBusHotkeyService& operator=(const DBusHotkeyService&) = delete;

    // Exports the object and takes the name. false when there is no session bus or the name
    // already belongs to another process (a second Sayloft of this login).
    bool start();

    // The rule for a call: from this user, with this login's cookie.
    static bool accepts(std::uint32_t callerUid, std::uint32_t ownUid, std::string_view cookie,
                        std::string_view expected);

private:
    class Adaptor;
    QDBusConnection bus_;
    std::unique_ptr<Adaptor> adaptor_;
    bool started_ = false;
};

}  // namespace sayloft
