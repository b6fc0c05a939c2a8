// The tray item's menu and icons as Qt holds them; registering on a StatusNotifierItem host and
// serving the menu over com.canonical.dbusmenu is Qt's, and the end-to-end tests drive it.

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QProcess>
#include <string>

#include <gtest/gtest.h>

#include "platform/linux/qt/QtStatusItem.h"
#include "qt/QtWait.h"

namespace sayloft {
namespace {

using test::waitUntil;

MenuItem entry(std::string title, int tag = 0) {
    MenuItem made;
    made.title = std::move(title);
    made.tag = tag;
    return made;
}

TEST(QtStatusItem, MenuShowsHiddenDisabledCheckedAndShortcutsAndUpdatesInPlace) {
    QtStatusItem item("Sayloft");
    item.setIcon("mic.fill", StatusItem::Tint::red);
    EXPECT_EQ(item.currentIcon(), ":/sayloft/icons/mic-fill.svg");
    item.setIcon("mic", std::nullopt);
    EXPECT_EQ(item.currentIcon(), ":/sayloft/icons/mic.svg");

    Menu menu;
    menu.items = {entry("Retry Last Recording", 103), MenuItem::separator(), entry("Hotkey"),
                  entry("Sayloft 0.1.0"), entry("Quit")};
    menu.items[0].hidden = true;
    menu.items[2].submenu = {entry("Right Alt (default)", 61), entry("Left Alt", 58)};
    menu.items[2].submenu[0].checked = true;
    menu.items[3].enabled = false;
    menu.items[4].shortcut = std::string("q");
    item.setMenu(menu);
    const auto actions = [&] { return item.qmenu()->actions(); };
    ASSERT_EQ(actions().size(), 5);
    EXPECT_FALSE(actions()[0]->isVisible());
    EXPECT_TRUE(actions()[1]->isSeparator());
    ASSERT_NE(actions()[2]->menu(), nullptr);
    const auto hotkeys = [&] { return actions()[2]->menu()->actions(); };
    ASSERT_EQ(hotkeys().size(), 2);
    EXPECT_TRUE(hotkeys()[0]->isChecked());
    EXPECT_FALSE(hotkeys()[1]->isChecked());
    EXPECT_FALSE(actions()[3]->isEnabled());
    EXPECT_EQ(actions()[4]->text().remove('&'), "Quit");
    EXPECT_EQ(actions()[4]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

    // The same shape again: updated in place (the retry item appears, the check moves).
    QAction* const quit = actions()[4];
    menu.items[0].hidden = false;
    menu.items[2].submenu[0].checked = false;
    menu.items[2].submenu[1].checked = true;
    item.setMenu(menu);
    EXPECT_EQ(actions()[4], quit);
    EXPECT_TRUE(actions()[0]->isVisible());
    EXPECT_FALSE(hotkeys()[0]->isChecked());
    EXPECT_TRUE(hotkeys()[1]->isChecked());
}

// Without a StatusNotifierItem host Sayloft draws the menu itself: Ctrl+Q, pressed as a person
// would (XTEST through xdotool) while the menu or one of its submenus is open, chooses Quit.
TEST(QtStatusItemDrawnBySayloft, CtrlQChoosesQuitWhileTheMenuIsOpen) {
    if (qgetenv("DISPLAY").isEmpty() || QGuiApplication::platformName() != QStringLiteral("xcb")) {
        GTEST_SKIP() << "needs an X display: run inside scripts/desktop-session";
    }
    for (const bool inSubmenu : {false, true}) {
        SCOPED_TRACE(inSubmenu ? "a submenu open" : "the menu open");
        QtStatusItem item("Sayloft");
        int quits = 0;
        Menu menu;
        menu.items = {entry("Hotkey"), entry("Quit")};
        menu.items[0].submenu = {entry("Right Alt (default)", 61)};
        menu.items[1].shortcut = std::string("q");
        menu.items[1].action = [&] { ++quits; };
        item.setMenu(menu);

        QMenu* open = item.qmenu();
        open->popup(QPoint(100, 100));
        if (inSubmenu) {
            QMenu* submenu = open->actions().at(0)->menu();
            ASSERT_TRUE(waitUntil([&] { return open->isVisible(); }));
            open->setActiveAction(open->actions().at(0));
            submenu->popup(QPoint(300, 100));
            open = submenu;
        }
        ASSERT_TRUE(waitUntil([&] { return open->isVisible(); }));
        ASSERT_TRUE(waitUntil([&] { return QApplication::activePopupWidget() == open; }));
        EXPECT_EQ(QProcess::execute(QStringLiteral("xdotool"),
                                    {QStringLiteral("key"), QStringLiteral("ctrl+q")}),
                  0);
        EXPECT_TRUE(waitUntil([&] { return quits == 1; }, std::chrono::seconds(3)));
        EXPECT_TRUE(waitUntil([&] { return !item.qmenu()->isVisible(); }));
        EXPECT_EQ(quits, 1);  // once, not once per open menu
    }
}

}  // namespace
}  // namespace sayloft
