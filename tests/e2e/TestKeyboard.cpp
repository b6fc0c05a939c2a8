#include "TestKeyboard.h"

#include <stdexcept>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace sayloft::test {

TestKeyboard::TestKeyboard() : display_(XOpenDisplay(nullptr)) {
    if (display_ == nullptr) {
        throw std::runtime_error("cannot open the X display");
    }
}

TestKeyboard::~TestKeyboard() {
    if (held_) {
        release(*held_);
    }
    XCloseDisplay(display_);
}

void TestKeyboard::press(unsigned keycode) {
    XTestFakeKeyEvent(display_, keycode, True, CurrentTime);
    XSync(display_, False);
    held_ = keycode;
}

void TestKeyboard::release(unsigned keycode) {
    XTestFakeKeyEvent(display_, keycode, False, CurrentTime);
    XSync(display_, False);
    held_.reset();
}

}  // namespace sayloft::test
