#pragma once

#include <string>
#include <vector>

namespace sayloft {

// What a modal alert shows: a short message (the title line), a longer informative text whose
// "\n" are line breaks, and the buttons from left to right in reading order. The first button
// is the default one (Return chooses it); the last is the one Escape or closing the window
// chooses. Texts are UTF-8.
struct Alert {
    std::string message;
    std::string informativeText;
    std::vector<std::string> buttons;

    friend bool operator==(const Alert&, const Alert&) = default;
};

}  // namespace sayloft
