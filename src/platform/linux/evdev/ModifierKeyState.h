#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "platform/ModifierEvent.h"

namespace sayloft {

// Which of the six hotkey modifiers are down on each keyboard, and the ModifierEvents their
// changes make. Keys are evdev key codes (linux/input-event-codes.h), reported as these virtual
// key codes: KEY_RIGHTALT -> 61, KEY_LEFTALT -> 58, KEY_RIGHTMETA -> 54, KEY_LEFTMETA -> 55,
// KEY_RIGHTCTRL -> 62, KEY_LEFTCTRL -> 59. Any other code changes nothing.
//
// The keyboards count together, as one keyboard would: a key is down while it is down on any of
// them, and an event is made only when that changes (the same key pressed on a second keyboard,
// or released there while the first still holds it, makes none). Each event's flags are those
// of all keys down after the change, so Left Alt held on one keyboard keeps `option` set when
// Right Alt goes up on another. Pure: no devices, no clock.
class ModifierKeyState {
public:
    using DeviceId = std::uint64_t;

    // Events made by the change, in order (none, or one per key whose overall state changed).
    std::vector<ModifierEvent> press(DeviceId device, std::uint16_t code);
    std::vector<ModifierEvent> release(DeviceId device, std::uint16_t code);
    // The device's keys are now exactly `down` (after a resynchronisation); other codes in it
    // are ignored.
    std::vector<ModifierEvent> replace(DeviceId device, const std::set<std::uint16_t>& down);
    // The device is gone: its keys count as released.
    std::vector<ModifierEvent> remove(DeviceId device);

    std::uint64_t flags() const;
    bool isDown(std::uint16_t code) const;

    // The virtual key code of an evdev key code; nullopt outside the six modifiers.
    static std::optional<std::uint16_t> virtualKeyFor(std::uint16_t code);
    // The six evdev key codes, for capability checks and the kernel's event mask.
    static const std::vector<std::uint16_t>& codes();

private:
    std::map<DeviceId, std::set<std::uint16_t>> down_;
};

}  // namespace sayloft
