#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string_view>
#include <vector>

#include "platform/linux/evdev/ModifierKeyState.h"

struct libevdev;

namespace sayloft {

// One keyboard under /dev/input, read without grabbing it (every application still gets its
// keys), told by the kernel's event mask to deliver nothing but the six hotkey modifiers (see
// ModifierKeyState) and SYN events. What is read is decoded into changes of those six keys and
// kept nowhere else.
//
// The records are read and decoded here, with read(2) on the descriptor, whatever it is: a
// device node, or, when the caller allows it, a FIFO carrying `struct input_event` records (how
// tests feed a keyboard on machines without /dev/input). libevdev serves what only a real device
// can: the capability check, the key state at opening, and the state after a SYN_DROPPED, which
// it reads back from the kernel (LIBEVDEV_READ_FLAG_FORCE_SYNC, then the sync events drained,
// then its key values). A FIFO has no state to ask for: after its SYN_DROPPED every key counts as
// released (so that a hold cannot stick), and records up to the next SYN_REPORT are dropped, as
// the kernel's contract asks. Auto-repeat (value 2) and every other key are dropped here too,
// for devices whose kernel lacks the event mask.
class EvdevKeyboard {
public:
    enum class Outcome {
        keyboard,     // opened: it has EV_KEY and at least one of the six modifiers
        notKeyboard,  // readable, but no such key (a mouse, a power button ...)
        denied,       // the user may not read it (not in the `input` group)
        failed,       // gone meanwhile, or not an input device
    };
    struct Opening {
        Outcome outcome = Outcome::failed;
        std::unique_ptr<EvdevKeyboard> keyboard;  // set for Outcome::keyboard
    };
    // acceptRecordStreams: a FIFO counts as a keyboard whose records are read as a device's.
    static Opening open(const std::filesystem::path& path, bool acceptRecordStreams = false);

    // Whether a device's key capabilities as sysfs shows them to every user
    // (/sys/class/input/eventN/device/capabilities/key: hexadecimal words of the kernel's
    // `long`, most significant first) include one of the six modifiers.
    static bool keyCapabilitiesHaveModifier(std::string_view text);

    ~EvdevKeyboard();
    EvdevKeyboard(const EvdevKeyboard&) = delete;
    EvdevKeyboard& operator=(const EvdevKeyboard&) = delete;

    int fd() const { return fd_; }
    // The modifiers down when it was opened (empty for a FIFO).
    const std::set<std::uint16_t>& downAtOpen() const { return downAtOpen_; }

    // Reads what is available without blocking and applies it, in order, to this keyboard's
    // keys in `state` (as `device`), adding the events that makes. After a resynchronisation
    // from the kernel it stops (the rest comes at the next call). false when the device is gone
    // (removed, or the FIFO's writers closed it); its keys are then still in `state`.
    bool read(ModifierKeyState& state, ModifierKeyState::DeviceId device,
              std::vector<ModifierEvent>& events);

private:
    EvdevKeyboard(int fd, libevdev* device);

    int fd_ = -1;
    libevdev* device_ = nullptr;  // null for a FIFO
    std::set<std::uint16_t> downAtOpen_;
    std::vector<unsigned char> partial_;  // the start of a record not yet complete
    bool skipToReport_ = false;           // after a FIFO's SYN_DROPPED
};

}  // namespace sayloft
