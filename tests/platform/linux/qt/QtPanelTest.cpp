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

// Runs a program and returns its standard output, or nullopt when it failed.
std::optional<std::string> run(const std::string& program, const QStringList& args) {
    std::vector<std::string> argv{program};
    for (const QString& arg : args) {
        argv.push_back(arg.toStdString());
    }
    return test::runProgram(argv);
}

struct Geometry {
    int x, y, width, height;
};

// Where the X server has the window, from xwininfo.
std::optional<Geometry> xGeometry(unsigned long window) {
    const auto info = run("xwininfo", {"-id", QString::number(window)});
    if (!info) {
        return std::nullopt;
    }
    auto field = [&](const char* name) {
        std::smatch match;
        const std::regex pattern(std::string(name) + ":\\s+(-?[0-9]+)");
        return std::regex_search(*info, match, pattern) ? std::stoi(match[1]) : -100000;
    };
    return Geometry{field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
                    field("Height")};
}

std::optional<unsigned long> focusedWindow() {
    const auto out = run("xdotool", {"getwindowfocus"});
    if (!out || out->empty()) {
        return std::nullopt;
    }
    return std::stoul(*out);
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
    const auto search =
        run("xdotool", {"search", "--sync", "--onlyvisible", "--name", "sayloft-focus-target"});
    ASSERT_TRUE(search.has_value());
    const unsigned long target = std::stoul(search->substr(0, search->find('\n')));
    ASSERT_TRUE(run("xdotool", {"windowfocus", "--sync", QString::number(target)}).has_value());
    ASSERT_EQ(focusedWindow(), target);

    // A window of ours where the panel will appear, to receive the click that passes through.
    ClickCounter below;
    below.setGeometry(0, 0, 1280, 800);
    below.setAttribute(Qt::WA_ShowWithoutActivating);
    below.show();
    ASSERT_TRUE(
        waitUntil([&] { return below.isVisible() && xGeometry(below.winId()).has_value(); }));
    ASSERT_TRUE(run("xdotool", {"windowfocus", "--sync", QString::number(target)}).has_value());
    ASSERT_TRUE(run("xdotool", {"mousemove", "--sync", "100", "100"}).has_value());

    test::HudWith<QtPanel> panel(true);
    QtPanel*& shown = panel.shown;
    panel.hud.show("Listening…");
    ASSERT_TRUE(waitUntil([&] { return shown != nullptr && shown->widget()->isVisible(); }));
    const unsigned long panelWindow = shown->widget()->winId();
    std::optional<Geometry> where;
    ASSERT_TRUE(waitUntil([&] {
        where = xGeometry(panelWindow);
        return where && where->width == 220 &&
               run("xwininfo", {"-id", QString::number(panelWindow)})->find("IsViewable") !=
                   std::string::npos;
    }));

    // Bottom centre of the screen (no panels or docks on it).
    EXPECT_EQ(QRect(where->x, where->y, where->width, where->height), panel.bottomCentre());

    EXPECT_EQ(focusedWindow(), target);
    EXPECT_FALSE(QApplication::activeWindow() == shown->widget());

    // A click on the middle of the panel reaches the window beneath it.
    const int cx = where->x + where->width / 2;
    const int cy = where->y + where->height / 2;
    ASSERT_TRUE(run("xdotool", {"mousemove", "--sync", QString::number(cx), QString::number(cy)})
                    .has_value());
    ASSERT_TRUE(run("xdotool", {"click", "1"}).has_value());
    EXPECT_TRUE(waitUntil([&] { return below.presses == 1; }));

    panel.hud.hide();
    EXPECT_TRUE(waitUntil([&] { return !shown->widget()->isVisible(); }));

    xterm.terminate();
    xterm.waitForFinished(5000);
}

}  // namespace
}  // namespace sayloft
