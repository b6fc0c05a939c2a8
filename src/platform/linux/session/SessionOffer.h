#pragma once

#include <map>
#include <string>

namespace sayloft {

// What the desktop session offers Sayloft, read once at start (SessionProbe) and turned into a
// choice of backends (BackendChoice). Plain data, so that the choice is a pure function.
struct SessionOffer {
    bool waylandSession = false;    // $WAYLAND_DISPLAY set or $XDG_SESSION_TYPE is "wayland"
    bool waylandConnected = false;  // the compositor answered
    std::map<std::string, unsigned> waylandGlobals;  // interface name -> version
    bool xDisplay = false;        // an X display (X11 or Xwayland) could be opened
    bool xInputAndXTest = false;  // ... and it has XInput 2 and XTEST
    // What the one probe of the X display found, for the doctor's lines: $DISPLAY, the versions
    // of XInput (2 or later) and XTEST ("" when absent), and whether an XEmbed tray is there.
    std::string xDisplayName;
    std::string xInputVersion;
    std::string xTestVersion;
    bool xembedTray = false;
    bool qtWaylandPlugin = false;  // Qt's Wayland platform plugin (qt6-wayland) is installed
    bool sessionBus = false;       // a D-Bus session bus answers
    std::string hotkeyRoute;  // $SAYLOFT_HOTKEY_ROUTE: "", "xinput", "evdev", "binding" or "portal"
    // The keyboards under /dev/input: how many there are, and how many this user may read (the
    // evdev route; the `input` group would open the others).
    unsigned keyboardsFound = 0;
    unsigned keyboardsReadable = 0;
    // A compositor key binding has reached Sayloft in an earlier run: the user has set it up.
    bool keyBindingUsed = false;
    // The desktop portal's interfaces, by version (0: absent), probed on Wayland only:
    // GlobalShortcuts (the hotkey) and RemoteDesktop (typing; version 2 keeps a granted session).
    unsigned globalShortcutsPortal = 0;
    unsigned remoteDesktopPortal = 0;

    // The setting (in defaults.json) Sayloft stores at the first call from a key binding, and
    // the probe reads as keyBindingUsed.
    static constexpr const char* keyBindingSeenKey = "keyBindingSeen";

    bool offers(const std::string& waylandInterface) const {
        return waylandGlobals.count(waylandInterface) > 0;
    }
};

}  // namespace sayloft
