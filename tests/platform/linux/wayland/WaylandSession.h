#pragma once

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include <poll.h>

#include "ChildProcess.h"
#include "TempHome.h"

// The tests that need a compositor skip, saying why, outside a Wayland session. Inside one (the
// harness's headless sway) they run, and a missing protocol fails them.
#define SAYLOFT_REQUIRE_WAYLAND_SESSION()                                                  \
    do {                                                                                   \
        if (std::getenv("WAYLAND_DISPLAY") == nullptr) {                                   \
            GTEST_SKIP() << "no Wayland session: WAYLAND_DISPLAY is unset (run the tests " \
                            "inside a headless sway)";                                     \
        }                                                                                  \
    } while (false)

namespace sayloft::test {

// Polls `done` until it holds or 15 s have passed (a bound on waiting for other processes, the
// compositor's clients; never for a timer). These tests run no Qt event loop.
template <typename Done>
bool waitFor(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        pollfd none{-1, 0, 0};
        poll(&none, 0, 20);
    }
    return true;
}

// A native Wayland application with a text field, started for one test, that writes what it
// receives to a file: foot running `cat` on a terminal without line editing or echo, or the GTK 3
// field of tests/tools (GDK_BACKEND=wayland, Debian's /usr/bin/python3).
class TextReceiver {
public:
    enum class Kind { foot, gtk };

    explicit TextReceiver(Kind kind);

    // Waits until the application is ready to read and sway has given it the keyboard focus.
    bool waitUntilFocused();
    // Waits until the received text is exactly `expected`; returns what was received last.
    std::string waitForText(const std::string& expected);

    static const char* name(Kind kind) { return kind == Kind::foot ? "foot" : "GTK entry"; }

private:
    std::string received() const;

    TempHome home_;  // the ready and out files
    std::string appId_;
    std::unique_ptr<ChildProcess> process_;
    bool gtk_ = false;
};

// The app_id of the window sway has focused, "" when none (asks sway over its IPC socket).
std::string focusedAppId();

}  // namespace sayloft::test
