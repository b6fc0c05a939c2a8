#pragma once

#include <vector>

#include "qt/QtWait.h"

struct _XDisplay;

namespace sayloft::test {

// The test's own X connection, standing in for the person at the keyboard: presses keys through
// XTEST and reads what the server holds.
class TestDisplay {
public:
    TestDisplay();
    ~TestDisplay();

    TestDisplay(const TestDisplay&) = delete;
    TestDisplay& operator=(const TestDisplay&) = delete;

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

private:
    _XDisplay* display_;
};

}  // namespace sayloft::test
