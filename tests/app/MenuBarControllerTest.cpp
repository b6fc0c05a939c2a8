#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/MenuBarController.h"
#include "fakes/FakeBundle.h"
#include "fakes/FakeStatusItem.h"
#include "fakes/FakeUserDefaults.h"
#include "fakes/VirtualRunLoop.h"

namespace sayloft::test {
namespace {

class MenuBarControllerTest : public ::testing::Test {
protected:
    std::unique_ptr<MenuBarController> make(const Texts& texts = Texts::english()) {
        return std::make_unique<MenuBarController>(loop, item, defaults, bundle, texts);
    }

    std::vector<std::string> titles(const std::vector<MenuItem>& items) const {
        std::vector<std::string> out;
        for (const auto& entry : items) {
            out.push_back(entry.kind == MenuItem::Kind::separator ? "---" : entry.title);
        }
        return out;
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

TEST_F(MenuBarControllerTest, IconPerState) {
    auto menu = make();
    EXPECT_EQ(item.icon, "mic");
    struct Row {
        AppState state;
        const char* icon;
        std::optional<StatusItem::Tint> tint;
    };
    const Row rows[] = {{AppState::recording, "mic.fill", StatusItem::Tint::red},
                        {AppState::transcribing, "ellipsis.circle", std::nullopt},
                        {AppState::error, "exclamationmark.triangle", std::nullopt},
                        {AppState::idle, "mic", std::nullopt}};
    for (const auto& row : rows) {
        menu->set(row.state);
        EXPECT_EQ(item.icon, row.icon);
        EXPECT_EQ(item.tint, row.tint);
    }
}

TEST_F(MenuBarControllerTest, ErrorReturnsToIdleAfterThreeSecondsUnlessAnotherStateComes) {
    auto menu = make();
    menu->set(AppState::error);
    loop.advance(2.9);
    EXPECT_EQ(item.icon, "exclamationmark.triangle");
    loop.advance(0.1);
    EXPECT_EQ(item.icon, "mic");

    // A new state within the 3 s cancels the return.
    menu->set(AppState::error);
    loop.advance(1.0);
    menu->set(AppState::recording);
    loop.advance(5.0);
    EXPECT_EQ(item.icon, "mic.fill");

    // A second error starts the 3 s anew.
    menu->set(AppState::error);
    loop.advance(2.0);
    menu->set(AppState::error);
    loop.advance(2.5);
    EXPECT_EQ(item.icon, "exclamationmark.triangle");
    loop.advance(0.5);
    EXPECT_EQ(item.icon, "mic");
    EXPECT_EQ(loop.activeTimers(), 0u);
}

TEST_F(MenuBarControllerTest, MenuLayoutInBothLanguages) {
    auto english = make();
    EXPECT_EQ(
        titles(item.menu.items),
        (std::vector<std::string>{"Retry Last Recording", "Recent Dictations", "---", "Hotkey",
                                  "Insert by Pasting", "Insert by Typing", "Add a Space After Text",
                                  "---", "Sayloft 1.2.3", "Check for Updates…", "Quit"}));
    EXPECT_EQ(titles(item.menu.items[3].submenu),
              (std::vector<std::string>{"Right Alt (default)", "Left Alt", "Right Super",
                                        "Left Super", "Right Ctrl"}));
    EXPECT_FALSE(item.menu.items[1].enabled);  // no dictation yet
    EXPECT_FALSE(item.menu.items[8].enabled);
    EXPECT_EQ(item.menu.items[10].shortcut, "q");

    bundle.version.reset();
    auto chinese = make(Texts::chinese());
    EXPECT_EQ(titles(item.menu.items),
              (std::vector<std::string>{"重试上次录音", "最近的听写", "---", "快捷键",
                                        "以粘贴方式输入", "以打字方式输入", "文字后加空格", "---",
                                        "言泉 ?", "检查更新…", "退出"}));
    EXPECT_EQ(
        titles(item.menu.items[3].submenu),
        (std::vector<std::string>{"右 Alt(默认)", "左 Alt", "右 Super", "左 Super", "右 Ctrl"}));
}

TEST_F(MenuBarControllerTest, ATriggerBoundByTheDesktopIsShownAndAnotherChoiceIsReported) {
    const std::vector<std::string> english{"Ctrl+Alt+D — set in System Settings",
                                           "No key assigned — set in System Settings"};
    const std::vector<std::string> chinese{"Ctrl+Alt+D — 在系统设置中设置",
                                           "未分配按键 — 在系统设置中设置"};
    for (const auto& [texts, shown] :
         {std::pair{&Texts::english(), english}, std::pair{&Texts::chinese(), chinese}}) {
        auto menu = make(*texts);
        std::vector<std::uint16_t> chosen;
        menu->onHotkeyChosen = [&chosen](std::uint16_t code) { chosen.push_back(code); };
        for (const auto& [trigger, title] :
             {std::pair<std::string, std::string>{"Ctrl+Alt+D", shown[0]}, {"", shown[1]}}) {
            menu->setDesktopTrigger(trigger);
            const auto& choices = item.menu.find(MenuBarController::hotkeyTag)->submenu;
            ASSERT_EQ(choices.size(), texts->hotkeyChoices.size() + 1);
            EXPECT_EQ(choices.front().title, title);
            EXPECT_FALSE(choices.front().enabled);
        }
        menu->setDesktopTrigger(std::nullopt);
        EXPECT_EQ(item.menu.find(MenuBarController::hotkeyTag)->submenu.size(),
                  texts->hotkeyChoices.size());
        item.menu.find(62)->action();
        EXPECT_EQ(chosen, std::vector<std::uint16_t>{62});
        EXPECT_EQ(defaults.integer("hotkeyKeyCode"), 62);
        EXPECT_EQ(checkedTags(), std::vector<int>{62});
    }
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

TEST_F(MenuBarControllerTest, RetryItemIsHiddenUntilARecordingIsKept) {
    auto menu = make();
    int retries = 0;
    menu->onRetry = [&] { ++retries; };
    EXPECT_TRUE(item.item(MenuBarController::retryTag)->hidden);
    EXPECT_FALSE(item.choose(MenuBarController::retryTag));
    menu->setRetryAvailable(true);
    EXPECT_FALSE(item.item(MenuBarController::retryTag)->hidden);
    EXPECT_TRUE(item.choose(MenuBarController::retryTag));
    EXPECT_EQ(retries, 1);
    menu->setRetryAvailable(false);
    EXPECT_TRUE(item.item(MenuBarController::retryTag)->hidden);
}

TEST_F(MenuBarControllerTest, CommandsRunTheirCallbacksOrNothing) {
    auto menu = make();
    EXPECT_TRUE(item.chooseTitled("Quit"));  // no callback yet: nothing happens
    int quits = 0;
    int updates = 0;
    menu->onQuit = [&] { ++quits; };
    menu->onCheckUpdates = [&] { ++updates; };
    item.chooseTitled("Quit");
    item.chooseTitled("Check for Updates…");
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(updates, 1);
    EXPECT_FALSE(item.item(MenuBarController::checkUpdatesTag)->hidden);
    menu->setUpdateCheckShown(false);  // a build without an update feed
    EXPECT_TRUE(item.item(MenuBarController::checkUpdatesTag)->hidden);
}

TEST_F(MenuBarControllerTest, HotkeyCheckMarksAndTitle) {
    struct Row {
        std::optional<std::int64_t> stored;
        std::vector<int> checked;
        std::string english;
        std::string chinese;
    };
    const Row rows[] = {
        {std::nullopt, {61}, "Right Alt", "右 Alt"},
        {54, {54}, "Right Super", "右 Super"},
        {58, {58}, "Left Alt", "左 Alt"},
        {62, {62}, "Right Ctrl", "右 Ctrl"},
        {63, {}, "Right Alt", "右 Alt"},  // Fn is not offered on a PC keyboard
        {56, {}, "Right Alt", "右 Alt"},
    };
    for (const auto& row : rows) {
        if (row.stored) {
            defaults.setInteger("hotkeyKeyCode", *row.stored);
        } else {
            defaults.remove("hotkeyKeyCode");
        }
        auto menu = make();
        EXPECT_EQ(checkedTags(), row.checked) << row.english;
        EXPECT_EQ(MenuBarController::currentHotkeyTitle(defaults, Texts::english()), row.english);
        EXPECT_EQ(MenuBarController::currentHotkeyTitle(defaults, Texts::chinese()), row.chinese);
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
