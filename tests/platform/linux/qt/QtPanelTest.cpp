// The panel on a real X server (scripts/desktop-session): placed by the status panel's rule,
// shown without taking the focus from the focused application, and transparent to clicks.
// Another application is played by xterm; the X state is read with xdotool and xwininfo.

#include <QApplication>
#include <QMouseEvent>
#include <QProcess>
#include <QWidget>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "HudWith.h"
#include "platform/linux/qt/QtPanel.h"
#include "qt/QtWait.h"

namespace sayloft {
namespace {

using test::waitUntil;

std::optional<std::string> xdotool(std::vector<std::string> args) {
    args.insert(args.begin(), "xdotool");
    return test::runProgram(args);
}

// Where the X server has the window, from xwininfo, once it is viewable.
std::optional<QRect> xGeometry(unsigned long window) {
    const auto info = test::runProgram({"xwininfo", "-id", std::to_string(window)});
    if (!info || info->find("IsViewable") == std::string::npos) {
        return std::nullopt;
    }
    auto field = [&](const char* name) {
        std::smatch match;
        const std::regex pattern(std::string(name) + ":\\s+(-?[0-9]+)");
        return std::regex_search(*info, match, pattern) ? std::stoi(match[1]) : -100000;
    };
    return QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
                 field("Height"));
}

class ClickCounter final : public QWidget {
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

class QtPanelOnX : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) {
            GTEST_SKIP() << "needs an X display: run inside scripts/desktop-session";
        }
    }
};

TEST_F(QtPanelOnX, GrowsWithItsTextKeepingTheInitialSizeAsMinimum) {
    QtPanel panel;
    EXPECT_EQ(panel.size(), (Size{220, 48}));
    panel.setText("Listening…");
    EXPECT_EQ(panel.size(), (Size{220, 48}));
    panel.setText(std::string(60, 'W'));
    EXPECT_GT(panel.size().width, 220 + 2 * QtPanel::horizontalInset);
    EXPECT_EQ(panel.size().height, 48);
    panel.setText("ok");
    EXPECT_EQ(panel.size(), (Size{220, 48}));
}

TEST_F(QtPanelOnX, ShowsBottomCentreOnThePointersScreenWithoutTakingFocusAndLetsClicksThrough) {
    // Another application with the keyboard focus (once mapped: focusing an unmapped window fails).
    QProcess xterm;
    xterm.start("xterm", {"-title", "sayloft-focus-target", "-geometry", "40x5+10+10"});
    ASSERT_TRUE(xterm.waitForStarted(10000));
    const auto target =
        xdotool({"search", "--sync", "--onlyvisible", "--name", "sayloft-focus-target"});
    ASSERT_TRUE(target.has_value());
    const std::string window = target->substr(0, target->find('\n'));
    const auto focusTarget = [&] { return xdotool({"windowfocus", "--sync", window}); };
    const auto focused = [&] { return xdotool({"getwindowfocus"}) == window + "\n"; };
    ASSERT_TRUE(focusTarget());
    ASSERT_TRUE(focused());

    // A window of ours where the panel will appear, to receive the click that passes through.
    ClickCounter below;
    below.setGeometry(0, 0, 1280, 800);
    below.setAttribute(Qt::WA_ShowWithoutActivating);
    below.show();
    ASSERT_TRUE(waitUntil([&] { return xGeometry(below.winId()).has_value(); }));
    ASSERT_TRUE(focusTarget());
    ASSERT_TRUE(xdotool({"mousemove", "--sync", "100", "100"}));

    test::HudWith<QtPanel> panel(true);
    panel.hud.show("Listening…");
    ASSERT_TRUE(waitUntil([&] { return panel.shown && panel.shown->widget()->isVisible(); }));
    QWidget* const shown = panel.shown->widget();
    std::optional<QRect> where;
    ASSERT_TRUE(waitUntil([&] {
        where = xGeometry(shown->winId());
        return where && where->width() == 220;
    }));
    // Bottom centre of the screen (no panels or docks on it), the focus left where it was.
    EXPECT_EQ(*where, panel.bottomCentre());
    EXPECT_TRUE(focused());
    EXPECT_NE(QApplication::activeWindow(), shown);

    // A click on the middle of the panel reaches the window beneath it.
    ASSERT_TRUE(xdotool({"mousemove", "--sync", std::to_string(where->center().x()),
                         std::to_string(where->center().y()), "click", "1"}));
    EXPECT_TRUE(waitUntil([&] { return below.presses == 1; }));

    panel.hud.hide();
    EXPECT_TRUE(waitUntil([&] { return !shown->isVisible(); }));

    xterm.terminate();
    xterm.waitForFinished(5000);
}

}  // namespace
}  // namespace sayloft
