#pragma once

#include "platform/Point.h"

namespace sayloft {

// A rectangle in desktop coordinates (see Point): (x, y) is its top-left corner.
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double midX() const { return x + width / 2; }
    double maxY() const { return y + height; }
    // Half-open: the left and top edges belong to the rectangle, the right and bottom ones do not.
    bool contains(Point p) const {
        return p.x >= x && p.x < x + width && p.y >= y && p.y < y + height;
    }
    friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace sayloft
