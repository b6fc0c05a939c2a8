// The update window's dialog: its pages, buttons and closing, on whatever Qt platform the test
// session offers (offscreen will do).

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <vector>

#include <gtest/gtest.h>

#include "qt/QtWait.h"
#include "platform/linux/qt/QtUpdateWindow.h"

namespace sayloft {
namespace {

QDialog* dialog() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* found = qobject_cast<QDialog*>(widget); found && found->isVisible()) {
            return found;
        }
    }
    return nullptr;
}

QPushButton* button(const QString& title) {
    for (auto* candidate : dialog()->findChildren<QPushButton*>()) {
        if (candidate->isVisible() && candidate->text() == title) {
            return candidate;
        }
    }
    return nullptr;
}

TEST(QtUpdateWindow, ShowsPagesAndReportsButtonsAndClosing) {
    QtUpdateWindow window;
    std::vector<std::size_t> chosen;
    window.show({.title = "Checking", .busy = true}, [&](std::size_t i) { chosen.push_back(i); });
    ASSERT_NE(dialog(), nullptr);
    EXPECT_TRUE(dialog()->findChild<QProgressBar*>()->isVisible());

    // A page shown from a button's own click replaces that button safely.
    window.show({.title = "Sayloft 1.3 is available", .buttons = {"Later", "Download"}},
                [&](std::size_t i) {
                    chosen.push_back(i);
                    window.show({.title = "Downloading", .busy = true},
                                [&](std::size_t j) { chosen.push_back(100 + j); });
                });
    QApplication::processEvents();  // a visible dialog shows new children on the next turn
    EXPECT_FALSE(dialog()->findChild<QProgressBar*>()->isVisible());
    ASSERT_NE(button("Download"), nullptr);
    EXPECT_TRUE(button("Download")->isDefault());
    button("Download")->click();
    QApplication::processEvents();
    EXPECT_EQ(button("Download"), nullptr);
    dialog()->reject();  // Escape or the close button
    EXPECT_EQ(chosen, (std::vector<std::size_t>{1, 100}));
    EXPECT_EQ(dialog(), nullptr);

    window.show({.title = "Up to date", .buttons = {"OK"}},
                [&](std::size_t i) { chosen.push_back(200 + i); });
    window.close();  // hides without reporting
    EXPECT_EQ(dialog(), nullptr);
    EXPECT_EQ(chosen.size(), 2u);
}

}  // namespace
}  // namespace sayloft
