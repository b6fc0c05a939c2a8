#include "platform/linux/session/SessionProbe.h"

#include <QLibraryInfo>
#include <QString>
#include <QStringList>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>

#include "core/storage/UserDefaultsStore.h"
#include "core/storage/XdgDirs.h"
#include "platform/linux/evdev/EvdevKeyEventMonitor.h"
#include "platform/linux/portal/PortalProbe.h"
#include "platform/linux/wayland/WaylandGlobals.h"

namespace sayloft {
namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Where Qt looks for its platform plugins: $QT_QPA_PLATFORM_PLUGIN_PATH alone when set, else
// platforms/ under every $QT_PLUGIN_PATH entry and under Qt's own plugin folder.
bool qtPluginInstalled(const char* fileName) {
    QStringList folders;
    if (const std::string own = env("QT_QPA_PLATFORM_PLUGIN_PATH"); !own.empty()) {
        folders << QString::fromStdString(own);
    } else {
        for (const QString& entry :
             QString::fromStdString(env("QT_PLUGIN_PATH")).split(':', Qt::SkipEmptyParts)) {
            folders << entry + QStringLiteral("/platforms");
        }
        folders << QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms");
    }
    std::error_code error;
    for (const QString& folder : folders) {
        if (std::filesystem::exists(std::filesystem::path(folder.toStdString()) / fileName,
                                    error)) {
            return true;
        }
    }
    return false;
}

std::string version(int major, int minor) {
    return std::to_string(major) + "." + std::to_string(minor);
}

// The only place the X display is opened to see what it offers: the application's choice of
// backends and the doctor's lines both read the result.
void probeX(SessionOffer& offer) {
    offer.xDisplayName = env("DISPLAY");
    if (offer.xDisplayName.empty()) {
        return;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return;
    }
    offer.xDisplay = true;
    int opcode = 0;
    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 0;
    if (XQueryExtension(display, "XInputExtension", &opcode, &event, &error) &&
        XIQueryVersion(display, &major, &minor) == Success && major >= 2) {
        offer.xInputVersion = version(major, minor);
    }
    if (XTestQueryExtension(display, &event, &error, &major, &minor)) {
        offer.xTestVersion = version(major, minor);
    }
    offer.xInputAndXTest = !offer.xInputVersion.empty() && !offer.xTestVersion.empty();
    const std::string tray = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(display));
    const Atom atom = XInternAtom(display, tray.c_str(), True);
    offer.xembedTray = atom != None && XGetSelectionOwner(display, atom) != None;
    XCloseDisplay(display);
}

}  // namespace

SessionOffer SessionProbe::probe() {
    SessionOffer offer;
    offer.waylandSession = !env("WAYLAND_DISPLAY").empty() || env("XDG_SESSION_TYPE") == "wayland";
    if (offer.waylandSession) {
        if (auto globals = WaylandGlobals::probe()) {
            offer.waylandConnected = true;
            offer.waylandGlobals.insert(globals->begin(), globals->end());
        }
    }
    probeX(offer);
    offer.qtWaylandPlugin = qtPluginInstalled("libqwayland-generic.so");
    const std::string runtimeDir = env("XDG_RUNTIME_DIR");
    std::error_code error;
    offer.sessionBus = !env("DBUS_SESSION_BUS_ADDRESS").empty() ||
                       (!runtimeDir.empty() &&
                        std::filesystem::exists(std::filesystem::path(runtimeDir) / "bus", error));
    offer.hotkeyRoute = env("SAYLOFT_HOTKEY_ROUTE");
    if (offer.waylandSession && offer.sessionBus) {
        const PortalOffer portal = PortalProbe::probeSessionBus();
        offer.globalShortcutsPortal = portal.globalShortcuts;
        offer.remoteDesktopPortal = portal.remoteDesktop;
    }
    const auto keyboards = EvdevKeyEventMonitor::survey({});
    offer.keyboardsFound = keyboards.found;
    offer.keyboardsReadable = keyboards.readable;
    const UserDefaultsStore defaults(
        UserDefaultsStore::defaultLocation(XdgDirs::current().configHome),
        UserDefaultsStore::Access::readOnly);
    offer.keyBindingUsed = defaults.boolean(SessionOffer::keyBindingSeenKey).value_or(false);
    return offer;
}

}  // namespace sayloft
