#pragma once

#include <string_view>

namespace sayloft {

// The desktop's clipboard and, where the desktop has one, its primary selection (what a middle
// click or Shift+Insert pastes in terminals). Main thread only.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;

    // Replaces the whole clipboard and the primary selection with utf8 as plain text; whatever
    // was there is gone. The text is offered at once and until something else replaces it, so a
    // paste chord posted right after it pastes this text.
    virtual void setText(std::string_view utf8) = 0;

    // false where the session lets this program set no clipboard at all (a Wayland compositor
    // without data-control and without Xwayland): setText then does nothing, and text can only
    // be typed.
    virtual bool canSetText() const { return true; }
};

}  // namespace sayloft
