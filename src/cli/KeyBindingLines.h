#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sayloft {

// What a user adds to the compositor's configuration so that holding the hotkey reaches Sayloft
// through `sayloft-cli hotkey press|release`: lines for sway and Hyprland by keycode (so a
// layout where Right Alt is AltGr still works), for river by key name. Empty for a key code that
// is not one of the hotkeys.
struct KeyBindingLines {
    // virtualKey: the stored hotkey code (61 Right Alt ...); cli: the command to run, best an
    // absolute path (a compositor's PATH may not hold the build folder).
    static std::vector<std::string> forHotkey(std::uint16_t virtualKey, const std::string& cli);

    // The key's English name ("Right Alt", "Left Ctrl" ...); nullopt for a code that is not one
    // of the hotkeys.
    static std::optional<std::string> keyName(std::uint16_t virtualKey);
};

}  // namespace sayloft
