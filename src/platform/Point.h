#pragma once

namespace sayloft {

// A desktop position in logical pixels: origin at the top left of the virtual desktop, y growing
// downwards.
struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

}  // namespace sayloft
