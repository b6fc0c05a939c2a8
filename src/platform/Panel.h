#pragma once

#include <string_view>

#include "platform/Point.h"
#include "platform/Size.h"

namespace sayloft {

// A small floating panel with one line of text: dark (black at 75 % opacity), rounded corners of
// 12 px, white 20 px medium-weight centred text inset 18 px at the sides and 10 px at top and
// bottom, initially 220 x 48 px. It stays above ordinary windows on every workspace, lets clicks
// through to what lies beneath and never takes the keyboard focus, so text insertion still goes
// to the focused application. Created hidden. Main thread only.
class Panel {
public:
    virtual ~Panel() = default;

    // Sets the text; the panel may grow to fit it, keeping the insets.
    virtual void setText(std::string_view utf8) = 0;
    // The panel's current outer size.
    virtual Size size() const = 0;
    // Moves the panel's top-left corner.
    virtual void setOrigin(Point origin) = 0;
    // Shows the panel on top without activating this application.
    virtual void orderFront() = 0;
    // Hides it; the panel is kept for the next orderFront.
    virtual void orderOut() = 0;
};

}  // namespace sayloft
