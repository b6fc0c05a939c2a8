#pragma once

#include <string_view>

namespace sayloft {

// The desktop's clipboard. Main thread only.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;

    // Replaces the whole clipboard with utf8 as plain text; whatever was there is gone. The text
    // is offered at once, so a paste chord posted right after it pastes this text.
    virtual void setText(std::string_view utf8) = 0;
};

}  // namespace sayloft
