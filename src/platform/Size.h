#pragma once

namespace sayloft {

// A width and height in logical pixels.
struct Size {
    double width = 0;
    double height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

}  // namespace sayloft
