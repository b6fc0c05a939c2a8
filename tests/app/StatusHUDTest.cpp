#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "app/StatusHUD.h"
#include "fakes/FakeDesktop.h"

namespace sayloft::test {
namespace {

// Two monitors side by side; each has a 30 px panel at the bottom of its visible frame.
const Screens::Screen left{{0, 0, 1920, 1080}, {0, 0, 1920, 1050}};
const Screens::Screen right{{1920, 0, 2560, 1440}, {1920, 30, 2560, 1410}};

class StatusHUDTest : public ::testing::Test {
protected:
    StatusHUDTest() {
        screens.all = {left, right};
        screens.main = left;
    }

    FakeScreens screens;
    PanelRecord panel;
    StatusHUD hud{screens, FakePanel::factory(panel)};
};

TEST_F(StatusHUDTest, PlacedCentred120AboveTheBottomOfTheScreenUnderTheMouseElseTheMainOne) {
    struct Row {
        std::optional<Point> mouse;
        Size size;
        Point expected;
    };
    const Row rows[] = {
        // On the left monitor: centred on 960, bottom edge at 1050 - 120.
        {Point{100, 100}, {220, 48}, {960 - 110, 1050 - 120 - 48}},
        // On the right monitor, with a panel grown to fit a longer text.
        {Point{3000, 700}, {300, 48}, {1920 + 1280 - 150, 30 + 1410 - 120 - 48}},
        // The shared edge belongs to the right monitor.
        {Point{1920, 10}, {220, 48}, {3200 - 110, 1440 - 120 - 48}},
        // Outside every monitor, or the pointer's position unknown (Wayland): the main one.
        {Point{-50, 5000}, {220, 48}, {960 - 110, 1050 - 120 - 48}},
        {std::nullopt, {220, 48}, {960 - 110, 1050 - 120 - 48}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mouse ? std::to_string(row.mouse->x) : "unknown");
        screens.mouse = row.mouse;
        panel.size = row.size;
        hud.show("x");
        EXPECT_EQ(panel.origin, row.expected);
    }
    screens.all.clear();  // no screen at all: still shown, where it was
    screens.main.reset();
    hud.hide();
    hud.show("y");
    EXPECT_TRUE(panel.visible);
    EXPECT_EQ(panel.text, "y");
    EXPECT_EQ(panel.origin, rows[4].expected);
}

}  // namespace
}  // namespace sayloft::test
