#pragma once

#include <cstdint>
#include <optional>

#include "platform/UserDefaults.h"

namespace sayloft {

// The chosen hotkey, stored as a virtual key code under "hotkeyKeyCode". Written by the menu,
// read by the hotkey monitor at every key event, so a new choice applies from the next event on.
struct HotkeySetting {
    static constexpr const char* key = "hotkeyKeyCode";
    static constexpr std::uint16_t defaultKeyCode = 61;  // Right Alt

    // The stored code; the default when the value is absent, not an integer, or outside the
    // range of key codes (0 to 65535).
    static std::uint16_t read(const UserDefaults& defaults) {
        return fromStored(defaults.integer(key));
    }

    static std::uint16_t fromStored(std::optional<std::int64_t> stored) {
        if (!stored || *stored < 0 || *stored > 0xFFFF) {
            return defaultKeyCode;
        }
        return static_cast<std::uint16_t>(*stored);
    }

    static void write(UserDefaults& defaults, std::uint16_t keyCode) {
        defaults.setInteger(key, keyCode);
    }
};

}  // namespace sayloft
