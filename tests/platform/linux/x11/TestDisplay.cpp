#include "TestDisplay.h"

#include <stdexcept>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace sayloft::test {

TestDisplay::TestDisplay() : display_(XOpenDisplay(nullptr)) {
    if (display_ == nullptr) {
        throw std::runtime_error("no X display (run the tests inside scripts/desktop-session)");
    }
}

TestDisplay::~TestDisplay() {
    XCloseDisplay(display_);
}

void TestDisplay::press(unsigned keycode) {
    XTestFakeKeyEvent(display_, keycode, True, CurrentTime);
    XSync(display_, False);
}

void TestDisplay::release(unsigned keycode) {
    XTestFakeKeyEvent(display_, keycode, False, CurrentTime);
    XSync(display_, False);
}

bool TestDisplay::isDown(unsigned keycode) {
    char keys[32];
    XQueryKeymap(display_, keys);
    return (keys[keycode / 8] & (1 << (keycode % 8))) != 0;
}

void TestDisplay::releaseAll() {
    for (unsigned keycode = 8; keycode < 256; ++keycode) {
        if (isDown(keycode)) {
            release(keycode);
        }
    }
}

void TestDisplay::setCapsLock(bool on) {
    XkbLockModifiers(display_, XkbUseCoreKbd, LockMask, on ? LockMask : 0);
    XSync(display_, False);
}

bool TestDisplay::capsLocked() {
    XkbStateRec state{};
    XkbGetState(display_, XkbUseCoreKbd, &state);
    return (state.locked_mods & LockMask) != 0;
}

std::vector<unsigned long> TestDisplay::keyboardMapping() {
    int minKeycode = 0;
    int maxKeycode = 0;
    XDisplayKeycodes(display_, &minKeycode, &maxKeycode);
    int perKeycode = 0;
    KeySym* keysyms = XGetKeyboardMapping(display_, static_cast<KeyCode>(minKeycode),
                                          maxKeycode - minKeycode + 1, &perKeycode);
    std::vector<unsigned long> mapping(
        keysyms, keysyms + static_cast<std::size_t>((maxKeycode - minKeycode + 1) * perKeycode));
    XFree(keysyms);
    return mapping;
}

}  // namespace sayloft::test
