#pragma once

#include <cstdint>
#include <string>

namespace sayloft {

// One synthesised key event. virtualKey uses the same key codes as the hotkey setting (9 is the
// key in the V position, 0 the one in the A position). When text is not empty, the key-down
// delivers those UTF-16 code units instead of the key's own character.
struct KeyStroke {
    std::uint16_t virtualKey = 0;
    bool down = true;
    std::uint64_t flags = 0;  // ModifierFlag bits held during the event, exactly these
    std::u16string text;

    friend bool operator==(const KeyStroke&, const KeyStroke&) = default;
};

}  // namespace sayloft
