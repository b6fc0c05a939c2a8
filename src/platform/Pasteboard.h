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
};

}  // namespace sayloft
