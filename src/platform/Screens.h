#pragma once

#include <optional>
#include <vector>

#include "platform/Rect.h"

namespace sayloft {

// The monitors and the mouse pointer. Main thread only.
class Screens {
public:
    struct Screen {
        Rect frame;         // the whole monitor
        Rect visibleFrame;  // the part not covered by panels and docks
    };

    virtual ~Screens() = default;

    // Where the pointer is, nullopt where this program cannot know it (on Wayland a client sees
    // the pointer only over its own surfaces, and an Xwayland client only over X11 windows).
    virtual std::optional<Point> mouseLocation() const = 0;
    // In the desktop's order; may be empty when no monitor is connected.
    virtual std::vector<Screen> screens() const = 0;
    // The primary monitor, if any.
    virtual std::optional<Screen> mainScreen() const = 0;
};

}  // namespace sayloft
