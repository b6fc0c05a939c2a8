#pragma once

#include <optional>
#include <vector>

#include "platform/Screens.h"

namespace sayloft::test {

class FakeScreens final : public Screens {
public:
    std::optional<Point> mouse = Point{};
    std::vector<Screen> all;
    std::optional<Screen> main;

    std::optional<Point> mouseLocation() const override { return mouse; }
    std::vector<Screen> screens() const override { return all; }
    std::optional<Screen> mainScreen() const override { return main; }
};

}  // namespace sayloft::test
