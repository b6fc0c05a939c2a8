#include "platform/linux/wayland/VirtualKeyboardEvents.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "core/text/UnicodeText.h"
#include "platform/ModifierEvent.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace sayloft {
namespace {

// A virtual key (the hotkey setting's key codes, ANSI positions) and the evdev code of the key
// in that position (the X keycode minus 8).
struct VirtualKey {
    std::uint16_t virtualKey;
    std::uint32_t evdev;
};

constexpr std::array<VirtualKey, 71> virtualKeys{{
    {0, 30},     // A
    {1, 31},     // S
    {2, 32},     // D
    {3, 33},     // F
    {4, 35},     // H
    {5, 34},     // G
    {6, 44},     // Z
    {7, 45},     // X
    {8, 46},     // C
    {9, 47},     // V
    {11, 48},    // B
    {12, 16},    // Q
    {13, 17},    // W
    {14, 18},    // E
    {15, 19},    // R
    {16, 21},    // Y
    {17, 20},    // T
    {18, 2},     // 1
    {19, 3},     // 2
    {20, 4},     // 3
    {21, 5},     // 4
    {22, 7},     // 6
    {23, 6},     // 5
    {24, 13},    // =
    {25, 10},    // 9
    {26, 8},     // 7
    {27, 12},    // -
    {28, 9},     // 8
    {29, 11},    // 0
    {30, 27},    // ]
    {31, 24},    // O
    {32, 22},    // U
    {33, 26},    // [
    {34, 23},    // I
    {35, 25},    // P
    {36, 28},    // Return
    {37, 38},    // L
    {38, 36},    // J
    {39, 40},    // '
    {40, 37},    // K
    {41, 39},    // ;
    {42, 43},    // backslash
    {43, 51},    // ,
    {44, 53},    // /
    {45, 49},    // N
    {46, 50},    // M
    {47, 52},    // .
    {48, 15},    // Tab
    {49, 57},    // space
    {50, 41},    // `
    {51, 14},    // BackSpace
    {53, 1},     // Escape
    {54, 126},   // Right Super
    {55, 125},   // Left Super
    {56, 42},    // Left Shift
    {57, 58},    // Caps Lock
    {58, 56},    // Left Alt
    {59, 29},    // Left Ctrl
    {60, 54},    // Right Shift
    {61, 100},   // Right Alt
    {62, 97},    // Right Ctrl
    {114, 110},  // Insert (the Help key's position)
    {115, 102},  // Home
    {116, 104},  // Page Up
    {117, 111},  // Delete
    {119, 107},  // End
    {121, 109},  // Page Down
    {123, 105},  // Left
    {124, 106},  // Right
    {125, 108},  // Down
    {126, 103},  // Up
}};

// The key pressed for each modifier flag and the xkb modifier it sets.
struct ModifierKey {
    std::uint64_t flag;
    std::uint32_t evdev;
    const char* xkbName;
};

constexpr std::array<ModifierKey, 4> modifierKeys{{
    {ModifierFlag::shift, 42, XKB_MOD_NAME_SHIFT},
    {ModifierFlag::control, 29, XKB_MOD_NAME_CTRL},
    {ModifierFlag::option, 56, XKB_MOD_NAME_ALT},
    {ModifierFlag::command, 125, XKB_MOD_NAME_LOGO},
}};

// Keys of the text keymap, as X keycodes (evdev + 8; at most 255 so that Xwayland clients can
// read them too). Return, Tab and BackSpace keep their usual keys; the modifier keys (hotkeys
// among them, which compositor bindings may watch by keycode) are never used.
constexpr std::uint32_t returnKeycode = 36;
constexpr std::uint32_t tabKeycode = 23;
constexpr std::uint32_t backSpaceKeycode = 22;
constexpr std::array<std::uint32_t, 16> reservedKeycodes{
    returnKeycode, tabKeycode, backSpaceKeycode, 37, 50, 62, 64, 66, 92, 105, 108, 133, 134, 203,
    204,           205};
constexpr std::uint32_t firstKeycode = 9;
constexpr std::uint32_t lastKeycode = 255;
constexpr std::uint32_t evdevOffset = 8;

// Characters typed between round trips, so that the requests never outgrow the socket.
constexpr std::size_t keysPerRoundtrip = 64;

std::uint32_t timestamp() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

struct KeymapDeleter {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
using KeymapPtr = std::unique_ptr<xkb_keymap, KeymapDeleter>;

// The fully resolved text of a keymap, so the compositor and clients need no include files.
std::string keymapText(xkb_keymap* keymap) {
    char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    std::string out = text != nullptr ? text : "";
    std::free(text);
    return out;
}

void onGlobalRemove(void*, wl_registry*, std::uint32_t) {
}

}  // namespace

VirtualKeyboardEvents::VirtualKeyboardEvents(const char* displayName)
    : display_(wl_display_connect(displayName)), xkb_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {
    if (display_ == nullptr || xkb_ == nullptr) {
        return;
    }
    static constexpr wl_registry_listener registryListener{&VirtualKeyboardEvents::onGlobal,
                                                           onGlobalRemove};
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &registryListener, this);
    if (wl_display_roundtrip(display_) < 0 || seat_ == nullptr || manager_ == nullptr) {
        return;
    }

    const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
    KeymapPtr standard(xkb_keymap_new_from_names(xkb_, &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!standard) {
        return;
    }
    standardKeymap_ = keymapText(standard.get());
    for (const ModifierKey& modifier : modifierKeys) {
        const xkb_mod_index_t index = xkb_keymap_mod_get_index(standard.get(), modifier.xkbName);
        if (index != XKB_MOD_INVALID) {
            modifierMasks_[modifier.flag] = 1u << index;
        }
    }

    keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager_, seat_);
    // The keyboard joins the seat once it has a keymap: give it the standard one now, so the
    // seat has a keyboard (and focus works) before the first post.
    available_ = useStandardKeymap();
}

VirtualKeyboardEvents::~VirtualKeyboardEvents() {
    if (available_) {
        applyFlags(0);
        for (const std::uint32_t code : keysDown_) {
            sendKey(code, false);
        }
        roundtrip();
    }
    if (keyboard_ != nullptr) {
        zwp_virtual_keyboard_v1_destroy(keyboard_);
    }
    if (manager_ != nullptr) {
        zwp_virtual_keyboard_manager_v1_destroy(manager_);
    }
    if (seat_ != nullptr) {
        wl_seat_destroy(seat_);
    }
    if (registry_ != nullptr) {
        wl_registry_destroy(registry_);
    }
    if (display_ != nullptr) {
        wl_display_roundtrip(display_);
        wl_display_disconnect(display_);
    }
    if (xkb_ != nullptr) {
        xkb_context_unref(xkb_);
    }
}

void VirtualKeyboardEvents::onGlobal(void* data, wl_registry* registry, std::uint32_t name,
                                     const char* interface, std::uint32_t /*version*/) {
    auto* self = static_cast<VirtualKeyboardEvents*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && self->seat_ == nullptr) {
        self->seat_ =
            static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0 &&
               self->manager_ == nullptr) {
        self->manager_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    }
}

bool VirtualKeyboardEvents::isAvailable() const {
    return available_;
}

std::optional<std::uint32_t> VirtualKeyboardEvents::evdevCode(std::uint16_t virtualKey) {
    for (const VirtualKey& key : virtualKeys) {
        if (key.virtualKey == virtualKey) {
            return key.evdev;
        }
    }
    return std::nullopt;
}

std::uint32_t VirtualKeyboardEvents::keysymFor(char32_t c) {
    switch (c) {
        case U'\n':
            return XKB_KEY_Return;
        case U'\t':
            return XKB_KEY_Tab;
        case U'\b':
            return XKB_KEY_BackSpace;
        default:
            break;
    }
    if (c < 0x20 || (c >= 0x7f && c < 0xa0) || c > 0x10ffff || (c >= 0xd800 && c < 0xe000)) {
        return 0;
    }
    if (c < 0x100) {
        return c;  // Latin-1 keysyms are the code points
    }
    return 0x1000000 + c;
}

std::string VirtualKeyboardEvents::textKeymap(const std::vector<std::uint32_t>& keysyms,
                                              std::map<std::uint32_t, std::uint32_t>& keys) {
    keys.clear();
    std::string codes;
    std::string symbols;
    const auto place = [&](std::uint32_t keycode, std::uint32_t keysym) {
        char name[64];
        xkb_keysym_get_name(keysym, name, sizeof name);
        const std::string key = "<K" + std::to_string(keycode) + ">";
        codes += "    " + key + " = " + std::to_string(keycode) + ";\n";
        symbols += "    key " + key + " { [ " + name + " ] };\n";
        keys[keysym] = keycode - evdevOffset;
    };
    std::uint32_t next = firstKeycode;
    for (const std::uint32_t keysym : keysyms) {
        if (keys.count(keysym) != 0) {
            continue;
        }
        if (keysym == XKB_KEY_Return || keysym == XKB_KEY_Tab || keysym == XKB_KEY_BackSpace) {
            place(keysym == XKB_KEY_Return ? returnKeycode
                  : keysym == XKB_KEY_Tab  ? tabKeycode
                                           : backSpaceKeycode,
                  keysym);
            continue;
        }
        while (next <= lastKeycode && std::find(reservedKeycodes.begin(), reservedKeycodes.end(),
                                                next) != reservedKeycodes.end()) {
            ++next;
        }
        if (next > lastKeycode) {
            continue;  // no key left; Return, Tab and BackSpace may still follow
        }
        place(next++, keysym);
    }
    return "xkb_keymap {\n"
           "  xkb_keycodes \"sayloft\" {\n    minimum = 8;\n    maximum = 255;\n" +
           codes +
           "  };\n"
           "  xkb_types \"sayloft\" { include \"complete\" };\n"
           "  xkb_compatibility \"sayloft\" { include \"complete\" };\n"
           "  xkb_symbols \"sayloft\" {\n" +
           symbols +
           "  };\n"
           "};\n";
}

void VirtualKeyboardEvents::post(const KeyStroke& stroke) {
    if (!available_) {
        return;
    }
    if (stroke.down && !stroke.text.empty()) {
        typeText(stroke.text);
        textKeysDown_.insert(stroke.virtualKey);
        available_ = roundtrip();
        return;
    }
    if (!stroke.down && textKeysDown_.erase(stroke.virtualKey) > 0) {
        return;  // every typed character was pressed and released already
    }
    const auto code = evdevCode(stroke.virtualKey);
    if (!code || !useStandardKeymap()) {
        return;
    }
    applyFlags(stroke.flags);
    if (stroke.down) {
        keysDown_.insert(*code);
    } else {
        keysDown_.erase(*code);
    }
    sendKey(*code, stroke.down);
    if (keysDown_.empty()) {
        applyFlags(0);
    }
    available_ = roundtrip();
}

void VirtualKeyboardEvents::typeText(const std::u16string& text) {
    // Keys down under the standard keymap would mean other keys under the text one.
    for (const std::uint32_t code : keysDown_) {
        sendKey(code, false);
    }
    keysDown_.clear();
    applyFlags(0);

    std::vector<std::uint32_t> keysyms;
    for (const char32_t c : UnicodeText::typedCodePoints(text)) {
        if (const std::uint32_t keysym = keysymFor(c)) {
            keysyms.push_back(keysym);
        }
    }
    for (std::size_t i = 0; i < keysyms.size(); ++i) {
        if (keymap_ != Keymap::text || textKeys_.count(keysyms[i]) == 0) {
            // A keymap for the rest of the text, as much of it as fits.
            const std::vector<std::uint32_t> rest(keysyms.begin() + static_cast<long>(i),
                                                  keysyms.end());
            std::map<std::uint32_t, std::uint32_t> keys;
            const std::string source = textKeymap(rest, keys);
            KeymapPtr compiled(xkb_keymap_new_from_string(
                xkb_, source.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
            if (!compiled || !uploadKeymap(keymapText(compiled.get()))) {
                return;
            }
            keymap_ = Keymap::text;
            textKeys_ = std::move(keys);
        }
        const std::uint32_t code = textKeys_.at(keysyms[i]);
        sendKey(code, true);
        sendKey(code, false);
        if ((i + 1) % keysPerRoundtrip == 0 && !roundtrip()) {
            available_ = false;
            return;
        }
    }
}

bool VirtualKeyboardEvents::useStandardKeymap() {
    if (keymap_ == Keymap::standard) {
        return true;
    }
    if (!uploadKeymap(standardKeymap_)) {
        return false;
    }
    keymap_ = Keymap::standard;
    textKeys_.clear();
    return true;
}

bool VirtualKeyboardEvents::uploadKeymap(const std::string& text) {
    const int fd = memfd_create("sayloft-keymap", MFD_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const std::size_t size = text.size() + 1;  // with its terminating NUL, as clients expect
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fd, text.c_str() + written, size - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            close(fd);
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<std::uint32_t>(size));
    close(fd);  // the request holds its own duplicate
    // The compositor must hold the keymap before the first key, or that key is lost.
    if (!roundtrip()) {
        available_ = false;
        return false;
    }
    // A new keymap starts with no modifiers set.
    flagsHeld_ = 0;
    return true;
}

void VirtualKeyboardEvents::sendKey(std::uint32_t code, bool down) {
    zwp_virtual_keyboard_v1_key(
        keyboard_, timestamp(), code,
        down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

void VirtualKeyboardEvents::sendModifiers(std::uint32_t depressed) {
    zwp_virtual_keyboard_v1_modifiers(keyboard_, depressed, 0, 0, 0);
}

void VirtualKeyboardEvents::applyFlags(std::uint64_t flags) {
    if (flags == flagsHeld_) {
        return;
    }
    std::uint32_t mask = 0;
    for (const ModifierKey& modifier : modifierKeys) {
        const bool wanted = (flags & modifier.flag) != 0;
        const bool held = (flagsHeld_ & modifier.flag) != 0;
        if (wanted != held) {
            sendKey(modifier.evdev, wanted);
        }
        if (wanted) {
            const auto found = modifierMasks_.find(modifier.flag);
            mask |= found != modifierMasks_.end() ? found->second : 0;
        }
    }
    sendModifiers(mask);
    flagsHeld_ = flags;
}

bool VirtualKeyboardEvents::roundtrip() {
    return wl_display_roundtrip(display_) >= 0;
}

}  // namespace sayloft
