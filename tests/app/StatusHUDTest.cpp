#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/StatusHUD.h"
#include "fakes/FakePanel.h"
#include "fakes/FakeScreens.h"
#include "fakes/VirtualRunLoop.h"

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

    VirtualRunLoop loop;
    FakeScreens screens;
    PanelRecord panel;
    StatusHUD hud{loop, screens, FakePanel::factory(panel)};
};

TEST_F(StatusHUDTest, HideBeforeShowBuildsNothing) {
    hud.hide();
    loop.runUntilIdle();
    EXPECT_EQ(panel.created, 0);
}

TEST_F(StatusHUDTest, ShowRunsLaterOnTheMainThreadAndBuildsOnce) {
    hud.show("🎤 Listening…");
    EXPECT_EQ(panel.created, 0);
    loop.runUntilIdle();
    hud.show("⏳ Transcribing…");
    loop.runUntilIdle();
    EXPECT_EQ(panel.created, 1);
    EXPECT_TRUE(panel.visible);
    EXPECT_EQ(panel.text, "⏳ Transcribing…");
    EXPECT_EQ(panel.shown, (std::vector<std::string>{"🎤 Listening…", "⏳ Transcribing…"}));
}

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
        // Outside every monitor: the main one.
        {Point{-50, 5000}, {220, 48}, {960 - 110, 1050 - 120 - 48}},
        // The pointer's position unknown (Wayland): the main one.
        {std::nullopt, {220, 48}, {960 - 110, 1050 - 120 - 48}},
    };
    for (const auto& row : rows) {
        screens.mouse = row.mouse;
        panel.size = row.size;
        hud.show("x");
        loop.runUntilIdle();
        EXPECT_EQ(panel.origin, row.expected)
            << (row.mouse ? std::to_string(row.mouse->x) + "," + std::to_string(row.mouse->y)
                          : "unknown");
    }
}

TEST_F(StatusHUDTest, ShowThenHideFromAnotherThreadEndsHidden) {
    std::jthread([&] {
        hud.show("🎤 Listening…");
        hud.hide();
    }).join();
    loop.runUntilIdle();
    EXPECT_EQ(panel.created, 1);
    EXPECT_FALSE(panel.visible);
}

TEST_F(StatusHUDTest, NoScreenAtAllStillShowsTheText) {
    screens.all.clear();
    screens.main.reset();
    hud.show("x");
    loop.runUntilIdle();
    EXPECT_TRUE(panel.visible);
    EXPECT_EQ(panel.origin, (Point{0, 0}));
}

}  // namespace
}  // namespace sayloft::test
