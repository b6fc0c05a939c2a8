#pragma once

#include <optional>

namespace sayloft::test {

// An X11 window as the X server ($DISPLAY) has it: its place on the root window, its size,
// whether it bypasses the window manager and whether it is viewable.
struct XWindowState {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool overrideRedirect = false;
    bool viewable = false;
};

// nullopt when the display cannot be opened or the window does not exist.
std::optional<XWindowState> xWindowState(unsigned long window);

}  // namespace sayloft::test
