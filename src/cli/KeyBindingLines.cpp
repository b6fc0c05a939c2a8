#include "cli/KeyBindingLines.h"

#include <array>

namespace sayloft {
namespace {

struct HotkeyKey {
    std::uint16_t virtualKey;
    unsigned keycode;  // X (evdev + 8) keycode, what sway and Hyprland match
    const char* keysym;
    const char* name;
};

constexpr std::array<HotkeyKey, 6> keys{{
    {61, 108, "Alt_R", "Right Alt"},
    {58, 64, "Alt_L", "Left Alt"},
    {54, 134, "Super_R", "Right Super"},
    {55, 133, "Super_L", "Left Super"},
    {62, 105, "Control_R", "Right Ctrl"},
    {59, 37, "Control_L", "Left Ctrl"},
}};

const HotkeyKey* find(std::uint16_t virtualKey) {
    for (const auto& candidate : keys) {
        if (candidate.virtualKey == virtualKey) {
            return &candidate;
        }
    }
    return nullptr;
}

}  // namespace

std::optional<std::string> KeyBindingLines::keyName(std::uint16_t virtualKey) {
    const HotkeyKey* key = find(virtualKey);
    if (key == nullptr) {
        return std::nullopt;
    }
    return key->name;
}

std::vector<std::string> KeyBindingLines::forHotkey(std::uint16_t virtualKey,
                                                    const std::string& cli) {
    const HotkeyKey* key = find(virtualKey);
    if (key == nullptr) {
        return {};
    }
    const std::string code = std::to_string(key->keycode);
    const std::string press = cli + " hotkey press";
    const std::string release = cli + " hotkey release";
    std::vector<std::string> lines{
        std::string("Key binding for the hotkey ") + key->name + " (keycode " + code +
            "); add it to the compositor's configuration and reload it:",
        "  sway (~/.config/sway/config):",
        "    bindcode --no-repeat " + code + " exec " + press,
        "    bindcode --release " + code + " exec " + release,
        "  Hyprland (~/.config/hypr/hyprland.conf):",
        "    bind = , code:" + code + ", exec, " + press,
        "    bindr = , code:" + code + ", exec, " + release,
        "  river (~/.config/river/init; river binds by key name):",
        std::string("    riverctl map normal None ") + key->keysym + " spawn '" + press + "'",
        std::string("    riverctl map -release normal None ") + key->keysym + " spawn '" + release +
            "'",
        "The binding takes the key from applications: nothing else sees it while Sayloft uses it.",
    };
    if (virtualKey == 61) {
        lines.push_back(
            "On layouts where Right Alt is AltGr, the characters typed with AltGr are lost: if "
            "you type with AltGr, choose another hotkey in the tray menu and run doctor again.");
    }
    return lines;
}

}  // namespace sayloft
