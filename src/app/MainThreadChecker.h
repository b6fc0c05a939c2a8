#pragma once

#include <cassert>
#include <thread>

namespace sayloft {

// Remembers the thread that built its owner, the main thread, and asserts (in builds with
// assertions) that a main-thread-only call comes from it.
class MainThreadChecker {
public:
    void assertMainThread() const { assert(std::this_thread::get_id() == thread_); }

private:
    std::thread::id thread_ = std::this_thread::get_id();
};

}  // namespace sayloft
