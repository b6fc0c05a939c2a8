#pragma once

#include <cstdint>

namespace sayloft {

// Device-independent modifier flags, the bits a ModifierEvent carries. The values are the ones
// the stored hotkey setting was defined with, so they are the same on every desktop.
namespace ModifierFlag {
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;   // Ctrl
inline constexpr std::uint64_t option = 0x80000;    // Alt
inline constexpr std::uint64_t command = 0x100000;  // Super
inline constexpr std::uint64_t function = 0x800000;
}  // namespace ModifierFlag

// One change of the modifier keys seen system-wide: the key that changed, as a virtual key code
// (Right Alt 61, Left Alt 58, Right Super 54, Left Super 55, Right Ctrl 62, Left Ctrl 59), and
// the set of modifier flags held after the change, computed from all such keys now down (so
// Left Alt alone still sets `option` after Right Alt went up).
struct ModifierEvent {
    std::uint16_t keyCode = 0;
    std::uint64_t flags = 0;
};

}  // namespace sayloft
