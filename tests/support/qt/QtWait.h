#pragma once

#include <chrono>
#include <functional>

namespace sayloft::test {

// Runs the Qt event loop until done() holds or `limit` has passed; returns done()'s last value.
// A 20 ms tick keeps re-checking conditions no Qt event announces (another client's window, a
// file another process writes). A safety bound for waiting on another process (the X server, a
// D-Bus mock, a compositor), never a timing assertion.
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(15));

}  // namespace sayloft::test
