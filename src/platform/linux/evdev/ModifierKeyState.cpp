#include "platform/linux/evdev/ModifierKeyState.h"

#include <array>

#include <linux/input-event-codes.h>

namespace sayloft {
namespace {

struct TableKey {
    std::uint16_t code;
    std::uint16_t virtualKey;
    std::uint64_t flag;
};

constexpr std::array<TableKey, 6> table{{
    {KEY_RIGHTALT, 61, ModifierFlag::option},
    {KEY_LEFTALT, 58, ModifierFlag::option},
    {KEY_RIGHTMETA, 54, ModifierFlag::command},
    {KEY_LEFTMETA, 55, ModifierFlag::command},
    {KEY_RIGHTCTRL, 62, ModifierFlag::control},
    {KEY_LEFTCTRL, 59, ModifierFlag::control},
}};

const TableKey* find(std::uint16_t code) {
    for (const auto& key : table) {
        if (key.code == code) {
            return &key;
        }
    }
    return nullptr;
}

}  // namespace

std::vector<ModifierEvent> ModifierKeyState::press(DeviceId device, std::uint16_t code) {
    std::set<std::uint16_t> down = down_[device];
    down.insert(code);
    return replace(device, down);
}

std::vector<ModifierEvent> ModifierKeyState::release(DeviceId device, std::uint16_t code) {
    std::set<std::uint16_t> down = down_[device];
    down.erase(code);
    return replace(device, down);
}

std::vector<ModifierEvent> ModifierKeyState::replace(DeviceId device,
                                                     const std::set<std::uint16_t>& down) {
    std::vector<ModifierEvent> events;
    auto& held = down_[device];
    for (const auto& key : table) {
        const bool wanted = down.count(key.code) != 0;
        if (wanted == (held.count(key.code) != 0)) {
            continue;
        }
        const bool before = isDown(key.code);
        if (wanted) {
            held.insert(key.code);
        } else {
            held.erase(key.code);
        }
        if (before != isDown(key.code)) {
            events.push_back(ModifierEvent{key.virtualKey, flags()});
        }
    }
    if (held.empty()) {
        down_.erase(device);
    }
    return events;
}

std::vector<ModifierEvent> ModifierKeyState::remove(DeviceId device) {
    return replace(device, {});
}

std::uint64_t ModifierKeyState::flags() const {
    std::uint64_t flags = 0;
    for (const auto& [device, codes] : down_) {
        for (const std::uint16_t code : codes) {
            flags |= find(code)->flag;
        }
    }
    return flags;
}

bool ModifierKeyState::isDown(std::uint16_t code) const {
    for (const auto& [device, codes] : down_) {
        if (codes.count(code) != 0) {
            return true;
        }
    }
    return false;
}

std::optional<std::uint16_t> ModifierKeyState::virtualKeyFor(std::uint16_t code) {
    if (const TableKey* key = find(code)) {
        return key->virtualKey;
    }
    return std::nullopt;
}

const std::vector<std::uint16_t>& ModifierKeyState::codes() {
    static const std::vector<std::uint16_t> all = [] {
        std::vector<std::uint16_t> codes;
        for (const auto& key : table) {
            codes.push_back(key.code);
        }
        return codes;
    }();
    return all;
}

}  // namespace sayloft
