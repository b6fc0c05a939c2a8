#include "platform/linux/x11/XTestKeyboardEvents.h"

#include <QTimer>
#include <algorithm>
#include <array>
#include <thread>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "core/text/UnicodeText.h"
#include "platform/ModifierEvent.h"
#include "platform/linux/x11/XInputKeyEventMonitor.h"

namespace sayloft {
namespace {

// A virtual key (the hotkey setting's key codes, ANSI positions), the keysym it types on a US
// layout (0 for modifiers, which go by position) and its evdev X keycode.
struct VirtualKey {
    std::uint16_t virtualKey;
    KeySym keysym;
    unsigned keycode;
};

constexpr std::array<VirtualKey, 71> virtualKeys{{
    {0, XK_a, 38},
    {1, XK_s, 39},
    {2, XK_d, 40},
    {3, XK_f, 41},
    {4, XK_h, 43},
    {5, XK_g, 42},
    {6, XK_z, 52},
    {7, XK_x, 53},
    {8, XK_c, 54},
    {9, XK_v, 55},
    {11, XK_b, 56},
    {12, XK_q, 24},
    {13, XK_w, 25},
    {14, XK_e, 26},
    {15, XK_r, 27},
    {16, XK_y, 29},
    {17, XK_t, 28},
    {18, XK_1, 10},
    {19, XK_2, 11},
    {20, XK_3, 12},
    {21, XK_4, 13},
    {22, XK_6, 15},
    {23, XK_5, 14},
    {24, XK_equal, 21},
    {25, XK_9, 18},
    {26, XK_7, 16},
    {27, XK_minus, 20},
    {28, XK_8, 17},
    {29, XK_0, 19},
    {30, XK_bracketright, 35},
    {31, XK_o, 32},
    {32, XK_u, 30},
    {33, XK_bracketleft, 34},
    {34, XK_i, 31},
    {35, XK_p, 33},
    {36, XK_Return, 36},
    {37, XK_l, 46},
    {38, XK_j, 44},
    {39, XK_apostrophe, 48},
    {40, XK_k, 45},
    {41, XK_semicolon, 47},
    {42, XK_backslash, 51},
    {43, XK_comma, 59},
    {44, XK_slash, 61},
    {45, XK_n, 57},
    {46, XK_m, 58},
    {47, XK_period, 60},
    {48, XK_Tab, 23},
    {49, XK_space, 65},
    {50, XK_grave, 49},
    {51, XK_BackSpace, 22},
    {53, XK_Escape, 9},
    {54, 0, 134},
    {55, 0, 133},
    {56, 0, 50},
    {57, 0, 66},
    {58, 0, 64},
    {59, 0, 37},
    {60, 0, 62},
    {61, 0, 108},
    {62, 0, 105},
    {114, XK_Insert, 118},
    {115, XK_Home, 110},
    {116, XK_Prior, 112},
    {117, XK_Delete, 119},
    {119, XK_End, 115},
    {121, XK_Next, 117},
    {123, XK_Left, 113},
    {124, XK_Right, 114},
    {125, XK_Down, 116},
    {126, XK_Up, 111},
}};

// The key pressed for each wanted modifier flag, by keysym, with its usual keycode.
struct ModifierKey {
    std::uint64_t flag;
    KeySym keysym;
    unsigned keycode;
};

constexpr std::array<ModifierKey, 4> modifierKeys{{
    {ModifierFlag::shift, XK_Shift_L, 50},
    {ModifierFlag::control, XK_Control_L, 37},
    {ModifierFlag::option, XK_Alt_L, 64},
    {ModifierFlag::command, XK_Super_L, 133},
}};

constexpr int lockRow = 1;
constexpr auto reuseGuard = std::chrono::milliseconds(500);

// The keysym that types a code point, 0 for control characters that have none.
KeySym keysymFor(char32_t c) {
    switch (c) {
        case U'\n':
            return XK_Return;
        case U'\t':
            return XK_Tab;
        case U'\b':
            return XK_BackSpace;
        default:
            break;
    }
    if (c < 0x20 || (c >= 0x7f && c < 0xa0)) {
        return 0;
    }
    if (c < 0x100) {
        return c;  // Latin-1 keysyms are the code points
    }
    return 0x1000000 + c;
}

}  // namespace

XTestKeyboardEvents::XTestKeyboardEvents(XInputKeyEventMonitor* monitor, const char* displayName,
                                         std::chrono::milliseconds restoreDelay)
    : display_(XOpenDisplay(displayName)), monitor_(monitor) {
    if (display_ == nullptr) {
        return;
    }
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    available_ = XTestQueryExtension(display_, &event, &error, &major, &minor);
    // Fake events must reach the server even while another client grabs it.
    XTestGrabControl(display_, True);

    XDisplayKeycodes(display_, &minKeycode_, &maxKeycode_);
    const int count = maxKeycode_ - minKeycode_ + 1;
    int perKeycode = 0;
    KeySym* keysyms =
        XGetKeyboardMapping(display_, static_cast<KeyCode>(minKeycode_), count, &perKeycode);
    std::set<unsigned> modifiers;
    for (int row = 0; row < 8; ++row) {
        for (const unsigned keycode : modifierRow(row)) {
            modifiers.insert(keycode);
        }
    }
    for (int i = 0; keysyms != nullptr && i < count; ++i) {
        const KeySym* first = keysyms + i * perKeycode;
        const unsigned keycode = static_cast<unsigned>(minKeycode_ + i);
        if (std::all_of(first, first + perKeycode, [](KeySym k) { return k == NoSymbol; }) &&
            modifiers.count(keycode) == 0) {
            spares_.push_back(Spare{keycode, {}, 0, {}});
        }
    }
    if (keysyms != nullptr) {
        XFree(keysyms);
    }
    // A full map has no free keycode: borrow the last few (their keysyms are put back).
    for (int keycode = maxKeycode_; spares_.empty() && keycode > maxKeycode_ - 8; --keycode) {
        if (modifiers.count(static_cast<unsigned>(keycode)) == 0) {
            spares_.push_back(Spare{static_cast<unsigned>(keycode), {}, 0, {}});
        }
    }

    restoreTimer_ = std::make_unique<QTimer>();
    restoreTimer_->setSingleShot(true);
    restoreTimer_->setInterval(static_cast<int>(restoreDelay.count()));
    QObject::connect(restoreTimer_.get(), &QTimer::timeout, [this] { restoreMapping(); });
}

XTestKeyboardEvents::~XTestKeyboardEvents() {
    restoreTimer_.reset();
    if (display_ == nullptr) {
        return;
    }
    restoreMapping();
    XCloseDisplay(display_);
}

void XTestKeyboardEvents::post(const KeyStroke& stroke) {
    if (!available_) {
        return;
    }
    drainMappingNotify();
    if (stroke.down && !stroke.text.empty()) {
        typeText(stroke.text, stroke.flags);
        textKeysDown_.insert(stroke.virtualKey);
        XSync(display_, False);
        return;
    }
    if (!stroke.down && textKeysDown_.erase(stroke.virtualKey) > 0) {
        return;  // every typed character was pressed and released already
    }
    const auto keycode = keycodeFor(stroke.virtualKey);
    if (!keycode) {
        return;
    }
    applyFlags(stroke.flags);
    pressKey(*keycode, stroke.down);
    if (stroke.down) {
        keysDown_.insert(*keycode);
    } else {
        keysDown_.erase(*keycode);
    }
    if (keysDown_.empty()) {
        restoreModifiers();
    }
    XSync(display_, False);
}

void XTestKeyboardEvents::pressKey(unsigned keycode, bool press) {
    if (monitor_ != nullptr) {
        monitor_->expectOwnEvent(keycode, press);
    }
    XTestFakeKeyEvent(display_, keycode, press ? True : False, CurrentTime);
}

std::vector<unsigned> XTestKeyboardEvents::modifierRow(int row) const {
    std::vector<unsigned> keycodes;
    XModifierKeymap* map = XGetModifierMapping(display_);
    if (map == nullptr) {
        return keycodes;
    }
    for (int i = 0; i < map->max_keypermod; ++i) {
        const KeyCode keycode = map->modifiermap[row * map->max_keypermod + i];
        if (keycode != 0) {
            keycodes.push_back(keycode);
        }
    }
    XFreeModifiermap(map);
    return keycodes;
}

void XTestKeyboardEvents::applyFlags(std::uint64_t flags) {
    // Which modifier rows the stroke wants, and the key that gives each.
    std::vector<std::pair<int, unsigned>> wanted;
    std::array<std::vector<unsigned>, 8> rows;
    for (int row = 0; row < 8; ++row) {
        rows[static_cast<std::size_t>(row)] = modifierRow(row);
    }
    for (const ModifierKey& modifier : modifierKeys) {
        if ((flags & modifier.flag) == 0) {
            continue;
        }
        unsigned keycode = XKeysymToKeycode(display_, modifier.keysym);
        if (keycode == 0) {
            keycode = modifier.keycode;
        }
        for (int row = 0; row < 8; ++row) {
            const auto& members = rows[static_cast<std::size_t>(row)];
            if (std::find(members.begin(), members.end(), keycode) != members.end()) {
                wanted.emplace_back(row, keycode);
            }
        }
    }
    const auto isWanted = [&](int row) {
        return std::any_of(wanted.begin(), wanted.end(), [row](auto& w) { return w.first == row; });
    };

    char keys[32];
    XQueryKeymap(display_, keys);
    const auto isDown = [&keys](unsigned keycode) {
        return (keys[keycode / 8] & (1 << (keycode % 8))) != 0;
    };
    const auto setDown = [&keys](unsigned keycode, bool down) {
        const char bit = static_cast<char>(1 << (keycode % 8));
        keys[keycode / 8] =
            static_cast<char>(down ? keys[keycode / 8] | bit : keys[keycode / 8] & ~bit);
    };

    for (int row = 0; row < 8; ++row) {
        if (row == lockRow || isWanted(row)) {
            continue;
        }
        for (const unsigned keycode : rows[static_cast<std::size_t>(row)]) {
            if (!isDown(keycode)) {
                continue;
            }
            pressKey(keycode, false);
            setDown(keycode, false);
            const auto pressed =
                std::find(pressedModifiers_.begin(), pressedModifiers_.end(), keycode);
            if (pressed != pressedModifiers_.end()) {
                pressedModifiers_.erase(pressed);
            } else {
                releasedModifiers_.push_back(keycode);
            }
        }
    }
    for (const auto& [row, keycode] : wanted) {
        const auto& members = rows[static_cast<std::size_t>(row)];
        if (std::any_of(members.begin(), members.end(), isDown)) {
            continue;
        }
        const auto released = std::find_if(
            releasedModifiers_.begin(), releasedModifiers_.end(), [&members](unsigned k) {
                return std::find(members.begin(), members.end(), k) != members.end();
            });
        if (released != releasedModifiers_.end()) {
            pressKey(*released, true);  // the user's own key again
            setDown(*released, true);
            releasedModifiers_.erase(released);
        } else {
            pressKey(keycode, true);
            setDown(keycode, true);
            pressedModifiers_.push_back(keycode);
        }
    }
}

void XTestKeyboardEvents::restoreModifiers() {
    for (auto it = pressedModifiers_.rbegin(); it != pressedModifiers_.rend(); ++it) {
        pressKey(*it, false);
    }
    // A key the user let go of meanwhile comes back pressed; the next tap of it clears that.
    for (const unsigned keycode : releasedModifiers_) {
        pressKey(keycode, true);
    }
    pressedModifiers_.clear();
    releasedModifiers_.clear();
}

void XTestKeyboardEvents::typeText(const std::u16string& text, std::uint64_t flags) {
    applyFlags(flags);
    XkbStateRec state{};
    XkbGetState(display_, XkbUseCoreKbd, &state);
    const bool capsLocked = (state.locked_mods & LockMask) != 0;
    if (capsLocked) {
        XkbLockModifiers(display_, XkbUseCoreKbd, LockMask, 0);
    }
    // The unshifted keysym of every keycode in the first group, when that group is active.
    std::vector<unsigned long> layoutKeys;
    if (state.group == 0) {
        int perKeycode = 0;
        const int count = maxKeycode_ - minKeycode_ + 1;
        if (KeySym* keysyms = XGetKeyboardMapping(display_, static_cast<KeyCode>(minKeycode_),
                                                  count, &perKeycode)) {
            for (int i = 0; i < count; ++i) {
                layoutKeys.push_back(keysyms[i * perKeycode]);
            }
            XFree(keysyms);
        }
    }
    for (const char32_t c : UnicodeText::typedCodePoints(text)) {
        if (const KeySym keysym = keysymFor(c)) {
            typeKeysym(keysym, layoutKeys);
        }
    }
    if (capsLocked) {
        XkbLockModifiers(display_, XkbUseCoreKbd, LockMask, LockMask);
    }
    if (keysDown_.empty()) {
        restoreModifiers();
    }
    restoreTimer_->start();
}

void XTestKeyboardEvents::typeKeysym(unsigned long keysym,
                                     const std::vector<unsigned long>& layoutKeys) {
    unsigned keycode = 0;
    for (Spare& spare : spares_) {
        if (spare.mapped == keysym) {
            keycode = spare.keycode;
            spare.lastUse = std::chrono::steady_clock::now();
        }
    }
    for (std::size_t i = 0; keycode == 0 && i < layoutKeys.size(); ++i) {
        if (layoutKeys[i] == keysym) {
            const auto candidate = static_cast<unsigned>(minKeycode_) + static_cast<unsigned>(i);
            // A spare mapped earlier to another character is no layout key.
            if (std::none_of(spares_.begin(), spares_.end(),
                             [&](const Spare& s) { return s.keycode == candidate; })) {
                keycode = candidate;
            }
        }
    }
    if (keycode == 0) {
        Spare* spare = spareFor(keysym);
        if (spare == nullptr) {
            return;
        }
        keycode = spare->keycode;
    }
    XTestFakeKeyEvent(display_, keycode, True, CurrentTime);
    XTestFakeKeyEvent(display_, keycode, False, CurrentTime);
}

XTestKeyboardEvents::Spare* XTestKeyboardEvents::spareFor(unsigned long keysym) {
    if (spares_.empty()) {
        return nullptr;
    }
    // A free spare, else the one used longest ago.
    Spare* spare = &spares_.front();
    for (Spare& candidate : spares_) {
        if (candidate.mapped == 0) {
            spare = &candidate;
            break;
        }
        if (candidate.lastUse < spare->lastUse) {
            spare = &candidate;
        }
    }
    if (spare->mapped != 0) {
        // Give the receiving client time to read the key with its old meaning first.
        XSync(display_, False);
        std::this_thread::sleep_until(spare->lastUse + reuseGuard);
    } else {
        int perKeycode = 0;
        if (KeySym* original = XGetKeyboardMapping(display_, static_cast<KeyCode>(spare->keycode),
                                                   1, &perKeycode)) {
            spare->original.assign(original, original + perKeycode);
            XFree(original);
        }
    }
    KeySym keysyms[2] = {keysym, keysym};
    XChangeKeyboardMapping(display_, static_cast<int>(spare->keycode), 2, keysyms, 1);
    waitForMapping();
    spare->mapped = keysym;
    spare->lastUse = std::chrono::steady_clock::now();
    return spare;
}

void XTestKeyboardEvents::waitForMapping() {
    // The server has applied the change, and sent MappingNotify to every client, once the round
    // trip returns; the notification is then in this connection's queue too.
    XSync(display_, False);
    drainMappingNotify();
}

void XTestKeyboardEvents::drainMappingNotify() {
    XEvent event;
    while (XCheckTypedEvent(display_, MappingNotify, &event)) {
        XRefreshKeyboardMapping(&event.xmapping);
    }
}

void XTestKeyboardEvents::restoreMapping() {
    if (display_ == nullptr) {
        return;
    }
    for (Spare& spare : spares_) {
        if (spare.mapped == 0) {
            continue;
        }
        int perKeycode = 0;
        KeySym* current =
            XGetKeyboardMapping(display_, static_cast<KeyCode>(spare.keycode), 1, &perKeycode);
        const bool stillOurs = current != nullptr && perKeycode > 0 && current[0] == spare.mapped;
        if (current != nullptr) {
            XFree(current);
        }
        if (stillOurs && !spare.original.empty()) {
            XChangeKeyboardMapping(display_, static_cast<int>(spare.keycode),
                                   static_cast<int>(spare.original.size()), spare.original.data(),
                                   1);
        }
        spare.mapped = 0;
        spare.original.clear();
    }
    waitForMapping();
}

bool XTestKeyboardEvents::hasBorrowedKeycodes() const {
    return std::any_of(spares_.begin(), spares_.end(),
                       [](const Spare& s) { return s.mapped != 0; });
}

std::optional<unsigned> XTestKeyboardEvents::keycodeFor(std::uint16_t virtualKey) {
    for (const VirtualKey& key : virtualKeys) {
        if (key.virtualKey != virtualKey) {
            continue;
        }
        if (key.keysym != 0) {
            if (const KeyCode keycode = XKeysymToKeycode(display_, key.keysym)) {
                return keycode;
            }
        }
        return key.keycode;
    }
    return std::nullopt;
}

}  // namespace sayloft
