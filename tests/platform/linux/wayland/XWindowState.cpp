#include "XWindowState.h"

#include <X11/Xlib.h>

namespace sayloft::test {

std::optional<XWindowState> xWindowState(unsigned long window) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return std::nullopt;
    }
    std::optional<XWindowState> state;
    XWindowAttributes attributes{};
    int x = 0;
    int y = 0;
    Window child = 0;
    if (XGetWindowAttributes(display, window, &attributes) != 0 &&
        XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child) !=
            0) {
        state = XWindowState{x,
                             y,
                             attributes.width,
                             attributes.height,
                             attributes.override_redirect != 0,
                             attributes.map_state == IsViewable};
    }
    XCloseDisplay(display);
    return state;
}

}  // namespace sayloft::test
