#include "TestDisplay.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <stdexcept>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
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
    char keys[32];
    XQueryKeymap(display_, keys);
    for (unsigned keycode = 8; keycode < 256; ++keycode) {
        if ((keys[keycode / 8] & (1 << (keycode % 8))) != 0) {
            XTestFakeKeyEvent(display_, keycode, False, CurrentTime);
        }
    }
    XSync(display_, False);
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

unsigned long TestDisplay::findWindow(const std::string& windowClass) {
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    unsigned long found = 0;
    if (XQueryTree(display_, XDefaultRootWindow(display_), &root, &parent, &children, &count) ==
        0) {
        return 0;
    }
    for (unsigned i = 0; i < count && found == 0; ++i) {
        XWindowAttributes attributes;
        XClassHint hint{nullptr, nullptr};
        if (XGetWindowAttributes(display_, children[i], &attributes) != 0 &&
            attributes.map_state == IsViewable && XGetClassHint(display_, children[i], &hint)) {
            if (hint.res_class != nullptr && windowClass == hint.res_class) {
                found = children[i];
            }
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
    }
    XFree(children);
    return found;
}

void TestDisplay::focus(unsigned long window) {
    XSetInputFocus(display_, window, RevertToPointerRoot, CurrentTime);
    XSync(display_, False);
}

unsigned long TestDisplay::focusedWindow() {
    Window window = 0;
    int revert = 0;
    XGetInputFocus(display_, &window, &revert);
    return window;
}

}  // namespace sayloft::test
