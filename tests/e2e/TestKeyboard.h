#pragma once

#include <optional>

struct _XDisplay;

namespace sayloft::test {

// The person at the keyboard: presses keys through XTEST on an X connection of its own, and
// lets go of a key it still holds when it is destroyed (so that a failed test leaves no key
// down for the next). Throws std::runtime_error when there is no X display.
class TestKeyboard {
public:
    TestKeyboard();
    ~TestKeyboard();
    TestKeyboard(const TestKeyboard&) = delete;
    TestKeyboard& operator=(const TestKeyboard&) = delete;

    void press(unsigned keycode);
    void release(unsigned keycode);

private:
    _XDisplay* display_;
    std::optional<unsigned> held_;
};

}  // namespace sayloft::test
