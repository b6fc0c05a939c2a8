#pragma once

#include "platform/KeyStroke.h"

namespace sayloft {

// Synthesised keyboard input, received by the window that has the keyboard focus as if typed.
// Main thread only.
class KeyboardEvents {
public:
    virtual ~KeyboardEvents() = default;

    // Posts one key event. An event the desktop cannot create is dropped silently. A key-down
    // carrying text delivers exactly that text, whatever the keyboard layout; the call returns
    // once the desktop has taken the event.
    virtual void post(const KeyStroke& stroke) = 0;
};

}  // namespace sayloft
