#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/KeyboardEvents.h"

struct _XDisplay;
class QTimer;

namespace sayloft {

class XInputKeyEventMonitor;

// Synthesised keyboard input through XTEST, on its own X connection. Main thread only; a
// QCoreApplication must exist (the mapping restore runs on a Qt timer).
//
// Keys: a virtual key is turned into the X keycode that produces its US-layout keysym in the
// current keyboard map (so V means "the key that types v", whatever the layout), falling back to
// its physical position. Unknown virtual keys are dropped.
//
// Modifiers: a stroke's flags are exactly the modifiers held during it. Modifier keys the user
// holds that the stroke does not want (the hotkey, say) are released through XTEST, wanted ones
// not held are pressed (Left Ctrl, Left Shift, Left Alt, Left Super), and all of it is put back
// once no synthesised key is down any more, so a Shift+Insert chord posted as two strokes reads as
// one clean chord. The key monitor given at construction is told about these events, so that a
// held hotkey is not seen to end. Caveat: some X servers ignore an XTEST release of a key that a
// physical keyboard holds; the chord then reaches the application with that modifier.
//
// Text: a key-down carrying text types it character by character; the matching key-up does
// nothing. A character the current layout types on an unshifted key uses that key; any other
// is typed through a spare keycode (one without keysyms) temporarily mapped to the character's
// keysym (Latin-1 as is, everything else 0x1000000 + code point; newline is Return, tab is
// Tab). Each distinct character keeps its own spare keycode while the pool lasts, the request
// is followed by a round trip and the MappingNotify before the key is pressed, and the borrowed
// keycodes are restored `restoreDelay` after the last typing, not at once: receiving clients
// read the changed map when they process the MappingNotify, possibly after later changes, and
// a map restored too early would turn the characters they have not yet read into nothing (this
// is how typed CJK text loses characters). A Caps Lock that is on is unlocked while typing.
class XTestKeyboardEvents final : public KeyboardEvents {
public:
    // monitor may be null. displayName nullptr: $DISPLAY.
    explicit XTestKeyboardEvents(XInputKeyEventMonitor* monitor = nullptr,
                                 const char* displayName = nullptr,
                                 std::chrono::milliseconds restoreDelay = std::chrono::seconds(2));
    // Restores the keyboard map at once.
    ~XTestKeyboardEvents() override;

    XTestKeyboardEvents(const XTestKeyboardEvents&) = delete;
    XTestKeyboardEvents& operator=(const XTestKeyboardEvents&) = delete;

    // Whether the display could be opened and has XTEST; otherwise every post is dropped.
    bool isAvailable() const { return available_; }

    void post(const KeyStroke& stroke) override;

    // Puts every borrowed keycode back to what it held (unless someone else has changed it
    // since). Runs by itself restoreDelay after typing.
    void restoreMapping();
    // Whether keycodes are still borrowed for typed characters.
    bool hasBorrowedKeycodes() const;

private:
    struct Spare {
        unsigned keycode;
        std::vector<unsigned long> original;  // keysyms before it was borrowed
        unsigned long mapped = 0;             // keysym now mapped, 0 while not borrowed
        std::chrono::steady_clock::time_point lastUse;
    };

    void pressKey(unsigned keycode, bool press);
    void applyFlags(std::uint64_t flags);
    void restoreModifiers();
    void typeText(const std::u16string& text, std::uint64_t flags);
    void typeKeysym(unsigned long keysym, const std::vector<unsigned long>& layoutKeys);
    Spare* spareFor(unsigned long keysym);
    void waitForMapping();
    void drainMappingNotify();
    std::optional<unsigned> keycodeFor(std::uint16_t virtualKey);
    std::vector<unsigned> modifierRow(int row) const;

    _XDisplay* display_ = nullptr;
    XInputKeyEventMonitor* monitor_;
    bool available_ = false;
    int minKeycode_ = 8;
    int maxKeycode_ = 255;
    std::vector<Spare> spares_;
    std::unique_ptr<QTimer> restoreTimer_;
    std::set<std::uint16_t> textKeysDown_;     // virtual keys whose key-down typed text
    std::set<unsigned> keysDown_;              // keycodes of synthesised non-text keys down
    std::vector<unsigned> releasedModifiers_;  // held modifier keys lifted, to press again
    std::vector<unsigned> pressedModifiers_;   // modifier keys pressed, to release again
};

}  // namespace sayloft
