#pragma once

#include <cstdlib>
#include <string>

// The tests that need a compositor skip, saying why, outside a Wayland session. Inside one (the
// harness's headless sway) they run, and a missing protocol fails them.
#define SAYLOFT_REQUIRE_WAYLAND_SESSION()                                                  \
    do {                                                                                   \
        if (std::getenv("WAYLAND_DISPLAY") == nullptr) {                                   \
            GTEST_SKIP() << "no Wayland session: WAYLAND_DISPLAY is unset (run the tests " \
                            "inside a headless sway)";                                     \
        }                                                                                  \
    } while (false)

// The tests of one desktop's fallbacks run only inside the harness's headless session of that
// desktop (scripts/gnome-session: "GNOME", scripts/kwin-session: "KDE"), and skip elsewhere.
#define SAYLOFT_REQUIRE_HEADLESS_DESKTOP(desktop)                                      \
    do {                                                                               \
        const char* current = std::getenv("XDG_CURRENT_DESKTOP");                      \
        if (std::getenv("SAYLOFT_WAYLAND_SESSION") == nullptr || current == nullptr || \
            std::string(current) != (desktop)) {                                       \
            GTEST_SKIP() << "not in the harness's headless " << (desktop)              \
                         << " session (run "                                           \
                            "scripts/gnome-session or scripts/kwin-session)";          \
        }                                                                              \
    } while (false)
