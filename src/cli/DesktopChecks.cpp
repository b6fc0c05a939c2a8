#include "cli/DesktopChecks.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <cstdlib>
#include <string>

#include "cli/QtCliApplication.h"
#include "platform/linux/pulse/PulseConnection.h"
#include "platform/linux/session/BackendChoice.h"
#include "platform/linux/session/SessionProbe.h"

namespace sayloft {
namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

DoctorCheck sessionType(const SessionOffer& offer) {
    if (!offer.waylandSession) {
        const std::string type = env("XDG_SESSION_TYPE");
        return {"session", true, type.empty() ? "X11" : type, ""};
    }
    const std::string desktop = env("XDG_CURRENT_DESKTOP");
    if (!offer.waylandConnected) {
        return {"session", false, "Wayland, but the compositor does not answer",
                "check $WAYLAND_DISPLAY; run doctor from a terminal of the desktop session"};
    }
    return {"session", true, "Wayland" + (desktop.empty() ? "" : " (" + desktop + ")"), ""};
}

void checkX(const SessionOffer& offer, std::vector<DoctorCheck>& checks) {
    const std::string& name = offer.xDisplayName;
    const std::string noDisplayAdvice =
        "run Sayloft inside an X11 desktop session (on Wayland: log in to an X11/Xorg session)";
    if (!offer.xDisplay) {
        checks.push_back(
            name.empty()
                ? DoctorCheck{"X display", false, "$DISPLAY is not set", noDisplayAdvice}
                : DoctorCheck{"X display", false, name + " cannot be opened",
                              "check that the X server runs and that this user may connect "
                              "(xhost, XAUTHORITY); " +
                                  noDisplayAdvice});
        checks.push_back({"XInput 2", false, "no X display", "needs the X display first"});
        checks.push_back({"XTEST", false, "no X display", "needs the X display first"});
        return;
    }
    checks.push_back({"X display", true, name, ""});
    if (!offer.xInputVersion.empty()) {
        checks.push_back({"XInput 2", true, "version " + offer.xInputVersion, ""});
    } else {
        checks.push_back({"XInput 2", false, "not offered by " + name,
                          "the X server must offer XInput 2 (every current Xorg does)"});
    }
    if (!offer.xTestVersion.empty()) {
        checks.push_back({"XTEST", true, "version " + offer.xTestVersion, ""});
    } else {
        checks.push_back({"XTEST", false, "not offered by " + name,
                          "enable the XTEST extension of the X server (Xorg offers it unless "
                          "disabled in xorg.conf)"});
    }
}

void checkBus(const SessionOffer& offer, std::vector<DoctorCheck>& checks) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const bool xembed = offer.xembedTray;
    if (!bus.isConnected()) {
        const std::string advice =
            "start Sayloft from a desktop session, which provides a D-Bus session bus "
            "($DBUS_SESSION_BUS_ADDRESS)";
        if (xembed) {
            checks.push_back({"tray host", true, "an XEmbed system tray", ""});
        } else {
            checks.push_back({"tray host", false, "no session bus and no XEmbed tray", advice});
        }
        checks.push_back({"notifications", false, "no D-Bus session bus", advice});
        return;
    }
    QDBusConnectionInterface* names = bus.interface();
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    bool sniHost = false;
    if (names->isServiceRegistered(watcher)) {
        QDBusInterface proxy(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, bus);
        proxy.setTimeout(3000);
        sniHost = proxy.property("IsStatusNotifierHostRegistered").toBool();
    }
    if (sniHost) {
        checks.push_back({"tray host", true, "StatusNotifierWatcher with a host", ""});
    } else if (xembed) {
        checks.push_back({"tray host", true, "an XEmbed system tray", ""});
    } else {
        checks.push_back(
            {"tray host", false, "no StatusNotifierWatcher host and no XEmbed system tray",
             "Sayloft still dictates, but shows no icon or menu; on GNOME install the "
             "gnome-shell-extension-appindicator package and enable it, elsewhere add a system "
             "tray to the panel"});
    }

    const QString notifications = QStringLiteral("org.freedesktop.Notifications");
    const QDBusReply<QStringList> activatable = names->activatableServiceNames();
    if (names->isServiceRegistered(notifications)) {
        checks.push_back({"notifications", true, "org.freedesktop.Notifications", ""});
    } else if (activatable.isValid() && activatable.value().contains(notifications)) {
        checks.push_back({"notifications", true, "org.freedesktop.Notifications (on demand)", ""});
    } else {
        checks.push_back({"notifications", false, "no org.freedesktop.Notifications service",
                          "failures will not be shown; install a notification daemon (dunst, "
                          "notification-daemon, xfce4-notifyd) or use a desktop that has one"});
    }
}

void checkPulse(std::vector<DoctorCheck>& checks) {
    PulseConnection pulse;
    if (!pulse.connect()) {
        checks.push_back({"audio server", false, "no PulseAudio or PipeWire server answers",
                          "start your sound server (systemctl --user start pipewire-pulse, or "
                          "pulseaudio --start)"});
        checks.push_back({"default source", false, "no audio server", "needs the audio server"});
        return;
    }
    checks.push_back({"audio server", true, "connected", ""});
    const auto source = pulse.defaultSource();
    if (!source) {
        checks.push_back({"default source", false, "none",
                          "plug in or enable a microphone and choose it as the input in the "
                          "sound settings (pactl set-default-source NAME)"});
        return;
    }
    checks.push_back({"default source", true,
                      source->name + " (" +
                          std::to_string(static_cast<long>(source->format.sampleRate)) + " Hz, " +
                          std::to_string(source->format.channels) + " channel(s))",
                      ""});
}

DoctorCheck portalCheck(const SessionOffer& offer) {
    if (offer.globalShortcutsPortal == 0 && offer.remoteDesktopPortal == 0) {
        return {"desktop portal", false, "no GlobalShortcuts or RemoteDesktop portal answers",
                "install xdg-desktop-portal with the desktop's own backend "
                "(xdg-desktop-portal-kde on KDE Plasma, xdg-desktop-portal-gnome on GNOME)"};
    }
    const auto version = [](unsigned number) {
        return number == 0 ? std::string("absent") : "version " + std::to_string(number);
    };
    return {"desktop portal", true,
            "GlobalShortcuts " + version(offer.globalShortcutsPortal) + ", RemoteDesktop " +
                version(offer.remoteDesktopPortal) +
                (offer.globalShortcutsPortal == 0
                     ? " (KDE Plasma 5.27+ and GNOME 48+ have GlobalShortcuts, Debian 12's GNOME "
                       "43 has not: see the hotkey line)"
                     : ""),
            ""};
}

}  // namespace

DesktopChecks::Result DesktopChecks::run() {
    const auto application = QtCliApplication::ensure();
    const SessionOffer offer = SessionProbe::probe();
    const BackendChoice choice = BackendChoice::choose(offer);
    Result result;
    auto& checks = result.checks;
    checks.push_back(sessionType(offer));
    for (const auto& line : choice.describe(offer)) {
        checks.push_back({line.capability, line.works, line.route, line.advice});
    }
    // Where the compositor offers no virtual keyboard (KDE Plasma, GNOME) the desktop portal is
    // the way to type into native windows, and to see the hotkey without the input group.
    if (offer.waylandSession && offer.sessionBus &&
        choice.typing != BackendChoice::Typing::virtualKeyboard) {
        checks.push_back(portalCheck(offer));
    }
    result.keyBinding = choice.hotkey == BackendChoice::Hotkey::compositorBinding;
    result.wayland = offer.waylandSession;
    // On Wayland the X checks matter only where a route goes through Xwayland.
    if (!offer.waylandSession || choice.hotkey == BackendChoice::Hotkey::xinput ||
        choice.typing == BackendChoice::Typing::xtest) {
        checkX(offer, checks);
    }
    checkBus(offer, checks);
    checkPulse(checks);
    return result;
}

}  // namespace sayloft
