#include "platform/linux/session/BackendChoice.h"

#include <string>

namespace sayloft {
namespace {

constexpr const char* virtualKeyboard = "zwp_virtual_keyboard_manager_v1";
constexpr const char* extDataControl = "ext_data_control_manager_v1";
constexpr const char* wlrDataControl = "zwlr_data_control_manager_v1";
constexpr const char* layerShell = "zwlr_layer_shell_v1";

}  // namespace

BackendChoice BackendChoice::choose(const SessionOffer& offer) {
    BackendChoice choice;
    if (offer.xDisplay) {
        choice.qtPlatform = QtPlatform::xcb;
    } else if (offer.waylandConnected && offer.qtWaylandPlugin) {
        choice.qtPlatform = QtPlatform::wayland;
    }

    const bool xinput = offer.xInputAndXTest;
    const bool evdev = offer.keyboardsReadable > 0;
    const bool binding = offer.sessionBus && (offer.waylandSession || offer.xDisplay);
    const bool portal = offer.waylandSession && offer.globalShortcutsPortal > 0;
    if (offer.hotkeyRoute == "portal") {
        choice.hotkey = portal ? Hotkey::portal : Hotkey::none;
    } else if (offer.hotkeyRoute == "xinput") {
        choice.hotkey = xinput ? Hotkey::xinput : Hotkey::none;
    } else if (offer.hotkeyRoute == "evdev") {
        choice.hotkey = evdev ? Hotkey::evdev : Hotkey::none;
    } else if (offer.hotkeyRoute == "binding") {
        choice.hotkey = binding ? Hotkey::compositorBinding : Hotkey::none;
    } else if (!offer.waylandSession && xinput) {
        choice.hotkey = Hotkey::xinput;
    } else if (binding && offer.keyBindingUsed) {
        choice.hotkey = Hotkey::compositorBinding;
    } else if (portal) {
        choice.hotkey = Hotkey::portal;
    } else if (evdev) {
        choice.hotkey = Hotkey::evdev;
    } else if (offer.waylandSession && binding) {
        choice.hotkey = Hotkey::compositorBinding;
    }

    if (offer.waylandSession && offer.offers(virtualKeyboard)) {
        choice.typing = Typing::virtualKeyboard;
    } else if (offer.waylandSession && offer.remoteDesktopPortal > 0) {
        choice.typing = Typing::remoteDesktop;
    } else if (xinput) {
        choice.typing = Typing::xtest;
    }

    if (offer.waylandSession && (offer.offers(extDataControl) || offer.offers(wlrDataControl))) {
        choice.clipboard = Clipboard::dataControl;
    } else if (choice.qtPlatform == QtPlatform::xcb) {
        choice.clipboard = Clipboard::x11;
    }

    if (offer.waylandSession && offer.offers(layerShell)) {
        choice.panel = Panel::layerShell;
    } else if (choice.qtPlatform == QtPlatform::xcb) {
        choice.panel = Panel::qtWindow;
    }
    return choice;
}

const char* BackendChoice::qtPlatformName(QtPlatform platform) {
    switch (platform) {
        case QtPlatform::xcb:
            return "xcb";
        case QtPlatform::wayland:
            return "wayland";
        case QtPlatform::offscreen:
            return "offscreen";
    }
    return "offscreen";
}

std::vector<BackendChoice::Line> BackendChoice::describe(const SessionOffer& offer) const {
    const bool wayland = offer.waylandSession;
    const std::string onlyX11Windows =
        "on Wayland this reaches only X11 (Xwayland) windows, not native applications";
    std::vector<Line> lines;

    switch (qtPlatform) {
        case QtPlatform::xcb:
            lines.push_back({"windows", wayland ? "X11 through Xwayland" : "X11", true, ""});
            break;
        case QtPlatform::wayland:
            lines.push_back({"windows", "Wayland", true, ""});
            break;
        case QtPlatform::offscreen:
            lines.push_back(
                {"windows", "none (no tray icon or menu)", false,
                 wayland && offer.waylandConnected
                     ? "install Qt's Wayland plugin (Debian package qt6-wayland), or enable "
                       "Xwayland in the compositor"
                     : "start Sayloft inside a desktop session (no X display or Wayland "
                       "compositor answered)"});
            break;
    }

    switch (hotkey) {
        case Hotkey::xinput:
            lines.push_back({"hotkey", "XInput 2 (watches the keyboard, grabs nothing)", true,
                             wayland
                                 ? "seen only while an X11 window has the focus; unset "
                                   "SAYLOFT_HOTKEY_ROUTE to use a compositor key binding or the "
                                   "keyboards under /dev/input instead"
                                 : ""});
            break;
        case Hotkey::evdev:
            lines.push_back(
                {"hotkey",
                 "the keyboards under /dev/input (evdev; " +
                     std::to_string(offer.keyboardsReadable) + " of " +
                     std::to_string(offer.keyboardsFound) +
                     " readable; grabs nothing, only the six modifier keys are delivered)",
                 true,
                 "readable through the input group, which lets every program of this user read "
                 "every key; a compositor key binding (the lines \"sayloft-cli doctor\" prints) "
                 "takes over from the start after its first use"});
            break;
        case Hotkey::compositorBinding:
            lines.push_back(
                {"hotkey", "compositor key binding (sayloft-cli hotkey press|release)", true,
                 std::string("the compositor runs it from a key binding: \"sayloft-cli doctor\" "
                             "prints the lines to add") +
                     (offer.keyboardsReadable > 0
                          ? "; the keyboards under /dev/input are readable too: "
                            "SAYLOFT_HOTKEY_ROUTE=evdev uses them"
                      : offer.keyboardsFound > 0
                          ? "; or join the input group for the " +
                                std::to_string(offer.keyboardsFound) +
                                " keyboard(s) under /dev/input "
                                "(sudo usermod -aG input $USER, from the next login; every program "
                                "of this user could then read every key)"
                          : "")});
            break;
        case Hotkey::portal:
            lines.push_back(
                {"hotkey", "desktop portal, GlobalShortcuts (the desktop binds the trigger)", true,
                 "the desktop may bind another key than the chosen one (KDE Plasma and GNOME "
                 "bind key combinations more readily than a bare modifier): the tray menu's "
                 "Hotkey submenu then shows it, and System Settings change it"});
            break;
        case Hotkey::none:
            lines.push_back(
                {"hotkey", "none", false,
                 offer.hotkeyRoute == "portal"
                     ? "SAYLOFT_HOTKEY_ROUTE=portal needs a Wayland session whose desktop portal "
                       "offers GlobalShortcuts (KDE Plasma 5.27+, GNOME 48+; not GNOME 43 of "
                       "Debian 12); unset it"
                 : offer.hotkeyRoute == "xinput"
                     ? "SAYLOFT_HOTKEY_ROUTE=xinput needs an X display with XInput 2 and XTEST; "
                       "unset it"
                 : offer.hotkeyRoute == "evdev"
                     ? "SAYLOFT_HOTKEY_ROUTE=evdev needs a keyboard under /dev/input that this "
                       "user may read (sudo usermod -aG input $USER, from the next login); unset "
                       "it"
                     : "needs an X display with XInput 2, a readable keyboard under /dev/input "
                       "(the input group), or a Wayland compositor and a D-Bus session bus for a "
                       "key binding"});
            break;
    }

    switch (typing) {
        case Typing::virtualKeyboard:
            lines.push_back({"typing", "Wayland virtual keyboard", true, ""});
            break;
        case Typing::xtest:
            lines.push_back(
                {"typing", "XTEST", true,
                 wayland ? onlyX11Windows +
                               "; this compositor offers no virtual keyboard (sway, Hyprland and "
                               "river do)"
                         : ""});
            break;
        case Typing::remoteDesktop:
            lines.push_back(
                {"typing", "desktop portal, RemoteDesktop (keyboard only)", true,
                 offer.remoteDesktopPortal >= 2
                     ? "the desktop asks once for permission to control the keyboard; the grant "
                       "is kept for the next starts"
                     : "the desktop asks for permission at every start: this portal cannot keep "
                       "a grant (xdg-desktop-portal before 1.17, as in Debian 12); refused, the "
                       "text is left on the clipboard to paste with Ctrl+V"});
            break;
        case Typing::none:
            lines.push_back({"typing", "none", false,
                             std::string("needs a Wayland compositor with a virtual keyboard "
                                         "(sway, Hyprland, river), a desktop portal with "
                                         "RemoteDesktop (KDE Plasma, GNOME) or an X display with "
                                         "XTEST") +
                                 (clipboard != Clipboard::none
                                      ? "; meanwhile a dictation is left on the clipboard with "
                                        "a notification to paste it"
                                      : "")});
            break;
    }

    switch (clipboard) {
        case Clipboard::dataControl:
            lines.push_back(
                {"clipboard", "Wayland data-control (clipboard and primary selection)", true, ""});
            break;
        case Clipboard::x11:
            lines.push_back(
                {"clipboard",
                 wayland ? "X11 clipboard and primary selection through Xwayland"
                         : "X11 clipboard and primary selection",
                 true,
                 wayland ? "the compositor offers no data-control; native applications paste it "
                           "where the compositor bridges the X11 and Wayland clipboards (GNOME "
                           "and KWin do)"
                         : ""});
            break;
        case Clipboard::none:
            lines.push_back(
                {"clipboard",
                 wayland ? "none: without data-control or Xwayland no clipboard can be set from "
                           "the background, so the text is typed, never pasted"
                         : "none: the text is typed, never pasted",
                 false,
                 wayland ? "enable Xwayland (on GNOME: install the xwayland package and log in "
                           "again) or use a compositor with data-control (sway, KWin, Hyprland) "
                           "to paste"
                         : "start Sayloft inside a desktop session with an X display"});
            break;
    }

    switch (panel) {
        case Panel::qtWindow:
            lines.push_back(
                {"panel",
                 wayland ? "X11 window through Xwayland, on the primary screen"
                         : "X11 window, on the screen under the pointer",
                 true,
                 wayland ? "the compositor offers no layer-shell (sway, KWin and Hyprland do), "
                           "and the pointer's screen is not known to Xwayland windows; a click "
                           "on the panel itself may not reach the window beneath (GNOME 43 "
                           "keeps it), the focus stays where it is"
                         : ""});
            break;
        case Panel::layerShell:
            lines.push_back(
                {"panel", "Wayland layer-shell overlay (on the focused output)", true, ""});
            break;
        case Panel::none:
            lines.push_back(
                {"panel", "none (the tray icon shows the state)", false,
                 wayland ? "the compositor offers no layer-shell (sway, KWin and Hyprland do); "
                           "with Xwayland enabled (on GNOME: install the xwayland package) the "
                           "panel is an X11 window"
                         : "enable Xwayland in the compositor for the floating panel"});
            break;
    }
    return lines;
}

}  // namespace sayloft
