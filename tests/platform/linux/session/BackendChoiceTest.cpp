#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "platform/linux/session/BackendChoice.h"

namespace sayloft {
namespace {

using B = BackendChoice;
using Q = B::QtPlatform;
using H = B::Hotkey;
using T = B::Typing;
using C = B::Clipboard;
using P = B::Panel;

SessionOffer wayland(std::map<std::string, unsigned> globals, bool xwayland, bool plugin = true) {
    SessionOffer offer;
    offer.waylandSession = true;
    offer.waylandConnected = true;
    offer.waylandGlobals = std::move(globals);
    offer.xDisplay = xwayland;
    offer.xInputAndXTest = xwayland;
    offer.qtWaylandPlugin = plugin;
    offer.sessionBus = true;
    return offer;
}

const std::map<std::string, unsigned> sway{{"zwp_virtual_keyboard_manager_v1", 1},
                                           {"zwlr_data_control_manager_v1", 2},
                                           {"zwlr_layer_shell_v1", 4}};
const std::map<std::string, unsigned> kwin{{"zwlr_data_control_manager_v1", 2},
                                           {"zwlr_layer_shell_v1", 4}};

TEST(BackendChoice, TheBestRouteTheSessionOffersPerCapability) {
    SessionOffer x11;
    x11.xDisplay = x11.xInputAndXTest = x11.sessionBus = true;
    // A route asked for ($SAYLOFT_HOTKEY_ROUTE).
    const auto asking = [](SessionOffer offer, std::string route) {
        offer.hotkeyRoute = std::move(route);
        return offer;
    };
    // The keyboards under /dev/input readable (the input group), a key binding used before, a
    // route asked for, a session bus missing.
    const auto with = [](SessionOffer offer, unsigned keyboards, bool bindingUsed,
                         std::string route = "", bool bus = true) {
        offer.keyboardsFound = 2;
        offer.keyboardsReadable = keyboards;
        offer.keyBindingUsed = bindingUsed;
        offer.hotkeyRoute = std::move(route);
        offer.sessionBus = bus;
        return offer;
    };
    // The desktop portal's GlobalShortcuts and RemoteDesktop versions (0: absent).
    const auto portals = [](SessionOffer offer, unsigned shortcuts, unsigned remote) {
        offer.globalShortcutsPortal = shortcuts;
        offer.remoteDesktopPortal = remote;
        return offer;
    };
    SessionOffer x11WithoutXInput = x11;
    x11WithoutXInput.xInputAndXTest = false;

    struct Row {
        const char* session;
        SessionOffer offer;
        B expected;
    };
    const Row rows[] = {
        {"X11", x11, B{Q::xcb, H::xinput, T::xtest, C::x11, P::qtWindow}},
        {"sway with Xwayland", wayland(sway, true),
         B{Q::xcb, H::compositorBinding, T::virtualKeyboard, C::dataControl, P::layerShell}},
        {"sway without Xwayland", wayland(sway, false),
         B{Q::wayland, H::compositorBinding, T::virtualKeyboard, C::dataControl, P::layerShell}},
        {"sway without Xwayland or Qt's plugin", wayland(sway, false, false),
         B{Q::offscreen, H::compositorBinding, T::virtualKeyboard, C::dataControl, P::layerShell}},
        {"KDE Plasma (no virtual keyboard)", wayland(kwin, true),
         B{Q::xcb, H::compositorBinding, T::xtest, C::dataControl, P::layerShell}},
        {"GNOME (neither)", wayland({}, true),
         B{Q::xcb, H::compositorBinding, T::xtest, C::x11, P::qtWindow}},
        {"GNOME without Xwayland", wayland({}, false),
         B{Q::wayland, H::compositorBinding, T::none, C::none, P::none}},
        {"no display at all", SessionOffer{}, B{Q::offscreen, H::none, T::none, C::none, P::none}},
        {"XInput asked for on Wayland", asking(wayland(sway, true), "xinput"),
         B{Q::xcb, H::xinput, T::virtualKeyboard, C::dataControl, P::layerShell}},
        {"XInput asked for without X", asking(wayland(sway, false), "xinput"),
         B{Q::wayland, H::none, T::virtualKeyboard, C::dataControl, P::layerShell}},
        {"binding asked for on X11", asking(x11, "binding"),
         B{Q::xcb, H::compositorBinding, T::xtest, C::x11, P::qtWindow}},
        {"sway, keyboards readable: evdev before the binding still to be set up",
         with(wayland(sway, true), 2, false),
         B{Q::xcb, H::evdev, T::virtualKeyboard, C::dataControl, P::layerShell}},
        {"sway, keyboards readable, a binding used before: the binding",
         with(wayland(sway, false), 2, true),
         B{Q::wayland, H::compositorBinding, T::virtualKeyboard, C::dataControl, P::layerShell}},
        {"GNOME, keyboards readable, no session bus: evdev",
         with(wayland({}, true), 1, true, "", false),
         B{Q::xcb, H::evdev, T::xtest, C::x11, P::qtWindow}},
        {"X11, keyboards readable, a binding used before: XInput stays first", with(x11, 1, true),
         B{Q::xcb, H::xinput, T::xtest, C::x11, P::qtWindow}},
        {"X11 without XInput, keyboards readable: evdev", with(x11WithoutXInput, 1, false),
         B{Q::xcb, H::evdev, T::none, C::x11, P::qtWindow}},
        {"evdev asked for with keyboards readable", with(wayland(sway, true), 1, true, "evdev"),
         B{Q::xcb, H::evdev, T::virtualKeyboard, C::dataControl, P::layerShell}},
        {"evdev asked for without a readable keyboard", with(x11, 0, false, "evdev"),
         B{Q::xcb, H::none, T::xtest, C::x11, P::qtWindow}},
        {"KDE Plasma with its portal", portals(wayland(kwin, true), 1, 2),
         B{Q::xcb, H::portal, T::remoteDesktop, C::dataControl, P::layerShell}},
        {"Debian 12's GNOME 43: RemoteDesktop 1, no GlobalShortcuts",
         portals(wayland({}, true), 0, 1),
         B{Q::xcb, H::compositorBinding, T::remoteDesktop, C::x11, P::qtWindow}},
        {"portal, keyboards readable: the portal before evdev",
         portals(with(wayland(kwin, true), 2, false), 1, 1),
         B{Q::xcb, H::portal, T::remoteDesktop, C::dataControl, P::layerShell}},
        {"portal, a binding used before: the binding",
         portals(with(wayland(kwin, true), 0, true), 1, 1),
         B{Q::xcb, H::compositorBinding, T::remoteDesktop, C::dataControl, P::layerShell}},
        {"portal asked for where there is none",
         asking(portals(wayland(kwin, true), 0, 0), "portal"),
         B{Q::xcb, H::none, T::xtest, C::dataControl, P::layerShell}},
        {"sway with a RemoteDesktop portal: the virtual keyboard first",
         portals(wayland(sway, true), 0, 2),
         B{Q::xcb, H::compositorBinding, T::virtualKeyboard, C::dataControl, P::layerShell}},
        {"X11 with a portal: XInput and XTEST", portals(x11, 1, 2),
         B{Q::xcb, H::xinput, T::xtest, C::x11, P::qtWindow}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(B::choose(row.offer), row.expected) << row.session;
        // Every capability is described, and whatever is missing says what to do.
        const auto lines = B::choose(row.offer).describe(row.offer);
        EXPECT_EQ(lines.size(), 5u) << row.session;
        for (const auto& line : lines) {
            EXPECT_TRUE(line.works || !line.advice.empty())
                << row.session << ": " << line.capability;
        }
    }
}

}  // namespace
}  // namespace sayloft
