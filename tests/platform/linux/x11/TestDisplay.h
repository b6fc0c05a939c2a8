#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "qt/QtWait.h"

struct _XDisplay;

namespace sayloft::test {

// The test's own X connection, standing in for the person at the keyboard: presses keys through
// XTEST, moves the input focus, and reads what the server holds.
class TestDisplay {
public:
    TestDisplay();
    ~TestDisplay();

    TestDisplay(const TestDisplay&) = delete;
    TestDisplay& operator=(const TestDisplay&) = delete;

    _XDisplay* display() const { return display_; }

    void press(unsigned keycode);
    void release(unsigned keycode);
    bool isDown(unsigned keycode);
    // Releases every key the server reports down, so that one test's keys do not leak into the
    // next.
    void releaseAll();
    void setCapsLock(bool on);
    bool capsLocked();

    // The whole core keyboard mapping, keysyms_per_keycode entries per keycode.
    std::vector<unsigned long> keyboardMapping();

    // The first viewable top-level window whose WM_CLASS class is windowClass, or 0.
    unsigned long findWindow(const std::string& windowClass);
    void focus(unsigned long window);
    unsigned long focusedWindow();

private:
    _XDisplay* display_;
};

}  // namespace sayloft::test
