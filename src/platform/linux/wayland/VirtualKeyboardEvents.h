#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/KeyboardEvents.h"

struct wl_display;
struct wl_registry;
struct wl_seat;
struct xkb_context;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;

namespace sayloft {

// Synthesised keyboard input on Wayland through zwp_virtual_keyboard_v1 (sway, Hyprland, river;
// not KWin or GNOME), on its own Wayland connection. Main thread only.
//
// One virtual keyboard is created at construction and kept for the object's life: the seat of a
// headless or keyboard-less session has no keyboard until one exists, and a keyboard created
// per call loses its first key on sway. A virtual keyboard carries its own keymap, which the
// compositor hands to the focused client while that keyboard types; the user's own keyboard and
// layout are never changed.
//
// Text: a key-down carrying text types it character by character; the matching key-up does
// nothing. The characters are typed with a keymap of our own holding exactly the keysyms the
// text needs (Latin-1 as is, everything else 0x1000000 + code point; newline is Return, tab is
// Tab, on their usual keys since GTK ignores non-text keys elsewhere; other control characters
// are dropped), one key per keysym, each at the first shift level. More distinct characters than
// one keymap has keys for are typed in runs, one keymap each. After a keymap is uploaded a round
// trip makes sure the compositor has it before the first key, so no character is lost. The
// keycodes of the modifier keys (including the hotkeys) are never used, so compositor bindings
// on them (sway `bindcode 108`) do not fire while typing.
//
// Other keys (the paste chord Shift+Insert, say) are sent with a standard keymap (evdev rules,
// pc105, us) on their standard evdev codes: a virtual key maps through a fixed table to its US
// key position, unknown virtual keys are dropped. A stroke's flags are exactly the modifiers
// held during it: the modifier keys are pressed and released and, since virtual-keyboard key
// events do not change the modifier state, the state is also sent with the `modifiers` request
// (without it Shift+Insert arrives as a plain Insert). Modifiers are let go once no synthesised
// key is down. The keymap is switched only when the next key needs the other one.
//
// Every post returns once the compositor has taken the events (a round trip).
class VirtualKeyboardEvents final : public KeyboardEvents {
public:
    // displayName nullptr: $WAYLAND_DISPLAY.
    explicit VirtualKeyboardEvents(const char* displayName = nullptr);
    ~VirtualKeyboardEvents() override;

    VirtualKeyboardEvents(const VirtualKeyboardEvents&) = delete;
    VirtualKeyboardEvents& operator=(const VirtualKeyboardEvents&) = delete;

    // Whether the compositor offers the virtual keyboard and took our keyboard; otherwise every
    // post is dropped. Becomes false if the connection fails later.
    bool isAvailable() const;

    void post(const KeyStroke& stroke) override;

    // The evdev key code of a virtual key on a US keyboard; nullopt for keys not in the table.
    static std::optional<std::uint32_t> evdevCode(std::uint16_t virtualKey);

    // Keymap text (xkb_v1 format) binding each keysym to a key of its own: the keysyms in
    // order, as far as the keys last; `keys` receives each placed keysym's evdev code. Exposed
    // for tests.
    static std::string textKeymap(const std::vector<std::uint32_t>& keysyms,
                                  std::map<std::uint32_t, std::uint32_t>& keys);
    // The keysym that types a character, 0 for one that cannot be typed.
    static std::uint32_t keysymFor(char32_t c);

private:
    enum class Keymap { none, standard, text };

    static void onGlobal(void* data, wl_registry* registry, std::uint32_t name,
                         const char* interface, std::uint32_t version);
    bool uploadKeymap(const std::string& text);
    bool useStandardKeymap();
    void typeText(const std::u16string& text);
    void sendKey(std::uint32_t code, bool down);
    void sendModifiers(std::uint32_t depressed);
    void applyFlags(std::uint64_t flags);
    bool roundtrip();

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    zwp_virtual_keyboard_manager_v1* manager_ = nullptr;
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
    xkb_context* xkb_ = nullptr;
    bool available_ = false;

    std::string standardKeymap_;
    std::map<std::uint64_t, std::uint32_t> modifierMasks_;  // ModifierFlag bit -> xkb mask
    Keymap keymap_ = Keymap::none;
    std::map<std::uint32_t, std::uint32_t> textKeys_;  // keysym -> evdev code, current text map

    std::set<std::uint16_t> textKeysDown_;  // virtual keys whose key-down typed text
    std::set<std::uint32_t> keysDown_;      // evdev codes of non-text keys down
    std::uint64_t flagsHeld_ = 0;           // modifier flags whose keys we hold down
};

}  // namespace sayloft
