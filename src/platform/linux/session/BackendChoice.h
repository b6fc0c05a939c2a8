#pragma once

#include <string>
#include <vector>

#include "platform/linux/session/SessionOffer.h"

namespace sayloft {

// Which mechanism serves each capability in this session, chosen once at start from what the
// session offers. The best route available wins:
//   Qt platform  xcb when an X display (X11 or Xwayland) is there, else Wayland when Qt's plugin
//                is installed, else offscreen (no tray or panel, but Sayloft still runs);
//   hotkey       XInput 2 on an X11 session; else a compositor key binding calling
//                `sayloft-cli hotkey` once one has reached Sayloft (the user set it up); else
//                the desktop portal's GlobalShortcuts on Wayland (KDE Plasma 5.27+, GNOME 48+);
//                else the keyboards under /dev/input (evdev) where one is readable; else, on
//                Wayland, the key binding still to be set up (XInput would see keys there only
//                while an X11 window has the focus); $SAYLOFT_HOTKEY_ROUTE=xinput|evdev|binding|
//                portal overrides;
//   typing       the Wayland virtual keyboard where the compositor offers it, else the desktop
//                portal's RemoteDesktop on Wayland (every native window, after a permission
//                dialog), else XTEST (on Wayland: X11 windows only); with none, text is left on
//                the clipboard with a notification;
//   clipboard    Wayland data-control where offered, else the X clipboard through Qt on xcb
//                (on GNOME through Xwayland: Mutter bridges it to Wayland applications), else
//                none, and the text is typed instead of pasted;
//   panel        a layer-shell overlay where a Wayland compositor offers zwlr_layer_shell_v1,
//                also when Xwayland is there (an Xwayland window can take the focus and does not
//                stay on top on sway); else a Qt window on xcb (override-redirect through
//                Xwayland on GNOME, on the primary screen); else none (a Qt tool window on
//                Qt's Wayland plugin would take the focus), and the tray icon's states carry the
//                information.
struct BackendChoice {
    enum class QtPlatform { xcb, wayland, offscreen };
    enum class Hotkey { xinput, evdev, compositorBinding, portal, none };
    enum class Typing { xtest, virtualKeyboard, remoteDesktop, none };
    enum class Clipboard { x11, dataControl, none };
    enum class Panel { qtWindow, layerShell, none };

    QtPlatform qtPlatform = QtPlatform::offscreen;
    Hotkey hotkey = Hotkey::none;
    Typing typing = Typing::none;
    Clipboard clipboard = Clipboard::none;
    Panel panel = Panel::none;

    static BackendChoice choose(const SessionOffer& offer);

    // One line per capability for the start-up log and `sayloft-cli doctor`.
    struct Line {
        std::string capability;  // "hotkey"
        std::string route;       // "compositor key binding (sayloft-cli hotkey press|release)"
        bool works = false;      // false: the capability is missing in this session
        std::string advice;      // how to get it, or a better route; may be empty
    };
    std::vector<Line> describe(const SessionOffer& offer) const;

    static const char* qtPlatformName(QtPlatform platform);

    friend bool operator==(const BackendChoice&, const BackendChoice&) = default;
};

}  // namespace sayloft
