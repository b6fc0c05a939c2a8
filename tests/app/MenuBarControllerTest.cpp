#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/MenuBarController.h"
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

TEST_F(MenuBarControllerTest, ErrorReturnsToIdleAfterThreeSecondsUnlessAnotherStateComes) {
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
        {58, {58}, "Left Alt"},
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

TEST_F(MenuBarControllerTest, NothingRunsAfterTheControllerIsGone) {
    auto menu = make();
    menu->set(AppState::error);
    menu.reset();
    loop.advance(10);
    EXPECT_EQ(item.icon, "exclamationmark.triangle");
    item.choose(54);  // the tray may still show the menu: the click does nothing
    EXPECT_FALSE(defaults.integer("hotkeyKeyCode"));
}

}  // namespace
}  // namespace sayloft::test
