#pragma once

#include <string>

#include <QtCore/QString>
#include <QtDBus/QDBusConnection>

namespace sayloft {

// What the desktop portal on the session bus offers: the version of each interface Sayloft
// uses, 0 where the portal lacks it (or no portal answers).
struct PortalOffer {
    unsigned globalShortcuts = 0;
    unsigned remoteDesktop = 0;
};

struct PortalProbe {
    static constexpr int timeoutMs = 3000;

    // Reads the interfaces' version properties; the bus may start the portal for this (D-Bus
    // activation), so each call waits at most timeoutMs.
    static PortalOffer probe(QDBusConnection bus);
    // The same on a connection of its own, closed afterwards: usable before the application
    // object exists.
    static PortalOffer probeSessionBus();

    // Registers this connection's application id (the base name of the desktop entry) with the
    // portal's host registry (xdg-desktop-portal 1.19+), so that what the user grants is kept
    // under Sayloft's entry; must come before any other portal call on the connection. True when
    // registered; false, with why, when the portal has no registry or refused.
    static bool registerApp(QDBusConnection bus, const QString& appId, std::string& why);
};

}  // namespace sayloft
