#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace sayloft {

// What the update window shows at one step of a check the user asked for.
struct UpdateWindowPage {
    std::string title{};
    std::string message{};
    bool busy = false;                   // a busy indicator: work is under way
    std::vector<std::string> buttons{};  // left to right; the last one is the default
};

// The small window of a user-initiated update check: checking, up to date, a newer version,
// downloading, or what went wrong. Main thread only.
class UpdateWindow {
public:
    using Chosen = std::function<void(std::size_t button)>;

    virtual ~UpdateWindow() = default;

    // Shows the window, raised, with this page in place of the one shown before. When the user
    // presses a button, the window stays open and `chosen` runs on the main thread with the
    // button's index; when the user closes the window, `chosen` runs with page.buttons.size().
    virtual void show(const UpdateWindowPage& page, Chosen chosen) = 0;

    // Hides the window; nothing runs (not even `chosen`).
    virtual void close() = 0;
};

}  // namespace sayloft
