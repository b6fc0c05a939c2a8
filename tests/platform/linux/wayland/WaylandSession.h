#pragma once

#include <cstdlib>

// The tests that need a compositor skip, saying why, outside a Wayland session. Inside one (the
// harness's headless sway) they run, and a missing protocol fails them.
#define SAYLOFT_REQUIRE_WAYLAND_SESSION()                                                  \
    do {                                                                                   \
        if (std::getenv("WAYLAND_DISPLAY") == nullptr) {                                   \
            GTEST_SKIP() << "no Wayland session: WAYLAND_DISPLAY is unset (run the tests " \
                            "inside a headless sway)";                                     \
        }                                                                                  \
    } while (false)
