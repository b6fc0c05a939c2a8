#pragma once

#include <cstdint>

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

    // The ModifierFlag bits that make the V key paste into the focused window: Ctrl on Linux,
    // Ctrl+Shift when that window is a terminal emulator.
    virtual std::uint64_t pasteModifiers() const = 0;
};

}  // namespace sayloft
