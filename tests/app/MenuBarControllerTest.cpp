#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/MenuBarController.h"
#include "app/StatusHUD.h"
#include "fakes/FakeDesktop.h"
#include "fakes/VirtualRunLoop.h"

namespace sayloft::test {
namespace {

class MenuBarControllerTest : public ::testing::Test {
protected:
    std::unique_ptr<MenuBarController> make(const Texts& texts = Texts::english()) {
        return std::make_unique<MenuBarController>(loop, item, defaults, bundle, texts);
    }

    std::vector<int> checkedTags() const {
        std::vector<int> out;
        for (const auto& entry : item.menu.items[3].submenu) {
            if (entry.checked) {
                out.push_back(entry.tag);
            }
        }
        return out;
    }

    VirtualRunLoop loop;
    FakeStatusItem item;
    FakeUserDefaults defaults;
    FakeBundle bundle;
};

TEST_F(MenuBarControllerTest,
       ErrorReturnsToIdleAfterThreeSecondsUnlessAnotherStateComesOrTheMenuIsGone) {
    auto menu = make();
    menu->set(AppState::error);
    loop.advance(2.9);
    EXPECT_EQ(item.icon, "exclamationmark.triangle");
    loop.advance(0.1);
    EXPECT_EQ(item.icon, "mic");

    menu->set(AppState::error);  // a new state within the 3 s cancels the return
    loop.advance(1.0);
    menu->set(AppState::recording);
    loop.advance(5.0);
    EXPECT_EQ(item.icon, "mic.fill");
    menu->set(AppState::error);  // a second error starts the 3 s anew
    loop.advance(2.0);
    menu->set(AppState::error);
    loop.advance(2.5);
    EXPECT_EQ(item.icon, "exclamationmark.triangle");
    loop.advance(0.5);
    EXPECT_EQ(item.icon, "mic");
    EXPECT_EQ(loop.activeTimers(), 0u);

    menu->set(AppState::error);  // gone before its return: nothing runs
    menu.reset();
    loop.advance(10);
    EXPECT_EQ(item.icon, "exclamationmark.triangle");
    item.choose(54);  // the tray may still show the menu: the click does nothing
    EXPECT_FALSE(defaults.integer("hotkeyKeyCode"));
}

TEST_F(MenuBarControllerTest, ATriggerBoundByTheDesktopIsShownAndAnotherChoiceIsReported) {
    const Texts& texts = Texts::english();
    auto menu = make(texts);
    std::vector<std::uint16_t> chosen;
    menu->onHotkeyChosen = [&chosen](std::uint16_t code) { chosen.push_back(code); };
    for (const auto& [trigger, title] :
         {std::pair<std::string, std::string>{"Ctrl+Alt+D", "Ctrl+Alt+D — set in System Settings"},
          {"", "No key assigned — set in System Settings"}}) {
        menu->setDesktopTrigger(trigger);
        const auto& choices = item.menu.find(MenuBarController::hotkeyTag)->submenu;
        ASSERT_EQ(choices.size(), texts.hotkeyChoices.size() + 1);
        EXPECT_EQ(choices.front().title, title);
        EXPECT_FALSE(choices.front().enabled);
    }
    menu->setDesktopTrigger(std::nullopt);
    EXPECT_EQ(item.menu.find(MenuBarController::hotkeyTag)->submenu.size(),
              texts.hotkeyChoices.size());
    item.menu.find(62)->action();
    EXPECT_EQ(chosen, std::vector<std::uint16_t>{62});
    EXPECT_EQ(defaults.integer("hotkeyKeyCode"), 62);
    EXPECT_EQ(checkedTags(), std::vector<int>{62});
}

TEST_F(MenuBarControllerTest, InsertionChoicesShowAndStoreTheSettings) {
    using M = MenuBarController;
    const auto checks = [&] {
        return std::vector<bool>{item.item(M::insertByPastingTag)->checked,
                                 item.item(M::insertByTypingTag)->checked,
                                 item.item(M::spaceAfterTextTag)->checked};
    };
    struct Row {
        int chosen;  // 0: the menu as built from the stored settings
        std::optional<bool> typing;
        std::optional<bool> space;
        std::vector<bool> shown;
    };
    const Row rows[] = {
        {0, std::nullopt, std::nullopt, {true, false, false}},  // paste, no space by default
        {M::insertByTypingTag, true, std::nullopt, {false, true, false}},
        {M::insertByTypingTag, true, std::nullopt, {false, true, false}},  // stays chosen
        {M::spaceAfterTextTag, true, true, {false, true, true}},
        {M::insertByPastingTag, false, true, {true, false, true}},
        {M::spaceAfterTextTag, false, false, {true, false, false}},  // toggled off again
    };
    auto menu = make();
    for (const auto& row : rows) {
        if (row.chosen != 0) {
            EXPECT_TRUE(item.choose(row.chosen));
        }
        EXPECT_EQ(defaults.boolean("insertByTyping"), row.typing) << row.chosen;
        EXPECT_EQ(defaults.boolean("addSpaceAfterText"), row.space) << row.chosen;
        EXPECT_EQ(checks(), row.shown) << row.chosen;
    }
    defaults.setBoolean("insertByTyping", true);
    defaults.setBoolean("addSpaceAfterText", true);
    auto again = make();
    EXPECT_EQ(checks(), (std::vector<bool>{false, true, true}));
}

TEST_F(MenuBarControllerTest, HotkeyCheckMarksAndTitle) {
    struct Row {
        std::optional<std::int64_t> stored;
        std::vector<int> checked;
        std::string title;
    };
    const Row rows[] = {
        {std::nullopt, {61}, "Right Alt"},
        {54, {54}, "Right Super"},
        {62, {62}, "Right Ctrl"},
        {63, {}, "Right Alt"},  // Fn is not offered on a PC keyboard
        {56, {}, "Right Alt"},
    };
    for (const auto& row : rows) {
        defaults.remove("hotkeyKeyCode");
        if (row.stored) {
            defaults.setInteger("hotkeyKeyCode", *row.stored);
        }
        auto menu = make();
        EXPECT_EQ(checkedTags(), row.checked) << row.title;
        EXPECT_EQ(MenuBarController::currentHotkeyTitle(defaults, Texts::english()), row.title);
    }
}

// The status panel: placed on the screen the user is looking at.
// Two monitors side by side; each has a 30 px panel at the bottom of its visible frame.
const Screens::Screen left{{0, 0, 1920, 1080}, {0, 0, 1920, 1050}};
const Screens::Screen right{{1920, 0, 2560, 1440}, {1920, 30, 2560, 1410}};

TEST(StatusHUDTest, PlacedCentred120AboveTheBottomOfTheScreenUnderTheMouseElseTheMainOne) {
    FakeScreens screens;
    screens.all = {left, right};
    screens.main = left;
    PanelRecord panel;
    StatusHUD hud{screens, FakePanel::factory(panel)};
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
