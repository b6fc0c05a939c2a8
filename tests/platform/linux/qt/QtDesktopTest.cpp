// The Qt desktop parts in a QApplication: the run loop; the update window's dialog (any Qt
// platform will do); and the panel on a real X server (scripts/desktop-session), placed by the
// status panel's rule, shown without taking the focus from the focused application and
// transparent to clicks, with xterm as the other application and the X state read with xdotool
// and xwininfo.

#include <QApplication>
#include <QDialog>
#include <QMouseEvent>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <memory>
#include <numeric>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "HudWith.h"
#include "platform/linux/qt/QtPanel.h"
#include "platform/linux/qt/QtRunLoop.h"
#include "platform/linux/qt/QtUpdateWindow.h"
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

using Clock = std::chrono::steady_clock;

TEST(QtRunLoop, PostsFromSeveralThreadsRunOnTheMainThreadInEachThreadsOrder) {
    QtRunLoop loop;
    constexpr int threads = 4;
    constexpr int perThread = 500;
    std::vector<std::vector<int>> seen(threads);
    std::atomic<int> offMain{0};
    const auto mainThread = std::this_thread::get_id();
    {
        std::vector<std::jthread> posters;
        for (int t = 0; t < threads; ++t) {
            posters.emplace_back([&, t] {
                for (int i = 0; i < perThread; ++i) {
                    loop.post([&, t, i] {
                        offMain += std::this_thread::get_id() != mainThread ? 1 : 0;
                        seen[t].push_back(i);
                    });
                }
            });
        }
    }
    // Posted after every thread's posts: must run after all of them.
    bool last = false;
    std::vector<std::vector<int>> seenBeforeLast;
    loop.post([&] {
        seenBeforeLast = seen;
        last = true;
    });
    EXPECT_FALSE(last) << "a post ran inside the call";
    ASSERT_TRUE(waitUntil([&] { return last; }));
    std::vector<int> inOrder(perThread);
    std::iota(inOrder.begin(), inOrder.end(), 0);
    EXPECT_EQ(seenBeforeLast, std::vector(threads, inOrder));
    EXPECT_EQ(offMain.load(), 0);
}

TEST(QtRunLoop, TimersFireNotBeforeTheirTimeAndStopWhenInvalidatedOrFired) {
    QtRunLoop loop;
    const auto start = Clock::now();
    std::vector<Clock::duration> oneShot;
    int repeated = 0;
    int cancelled = 0;
    bool sentinel = false;

    // The handle is dropped at once: the run loop keeps the timer alive by itself.
    loop.schedule(0.03, false, [&] { oneShot.push_back(Clock::now() - start); });
    std::shared_ptr<RunLoopTimer> repeating;
    repeating = loop.schedule(0.01, true, [&] {
        if (++repeated == 3) {
            repeating->invalidate();  // from inside its own function
            repeating->invalidate();  // twice is fine
        }
    });
    const auto never = loop.schedule(0.01, false, [&] { ++cancelled; });
    never->invalidate();
    EXPECT_FALSE(never->isValid());
    // A one-shot timer is invalid once it fired, inside its function already.
    bool validInside = true;
    std::shared_ptr<RunLoopTimer> once;
    once = loop.schedule(0.001, false, [&] { validInside = once->isValid(); });
    EXPECT_TRUE(once->isValid());
    // Runs after everything above would have fired (at least 60 ms).
    loop.schedule(0.06, false, [&] { sentinel = true; });

    ASSERT_TRUE(waitUntil([&] { return sentinel; }));
    ASSERT_EQ(oneShot.size(), 1u);
    EXPECT_GE(oneShot[0], std::chrono::milliseconds(30));
    EXPECT_EQ(repeated, 3);
    EXPECT_FALSE(repeating->isValid());
    EXPECT_EQ(cancelled, 0);
    EXPECT_FALSE(validInside);
    EXPECT_FALSE(once->isValid());
    // now() is the wall clock.
    EXPECT_NEAR(
        loop.now(),
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count(),
        5.0);
}

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
