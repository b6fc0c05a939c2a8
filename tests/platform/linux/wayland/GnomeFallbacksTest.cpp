// The fallbacks on GNOME, which offers neither data-control nor layer-shell, inside the headless
// Mutter of scripts/gnome-session, with Xwayland: the X11 clipboard (QtPasteboard on xcb) reaches
// native Wayland applications because Mutter bridges the two clipboards, and the X11 panel
// (QtPanel, override-redirect) shows over a native window on the primary screen without taking
// its focus, even when clicked. The native window is the GTK field of tests/tools on
// Wayland; keys and clicks come from Mutter's own remote desktop interface (mutter_input.py).

#include <QApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QWidget>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "PanelScene.h"
#include "WaylandSession.h"
#include "XWindowState.h"
#include "app/Texts.h"
#include "platform/linux/qt/QtPanel.h"
#include "platform/linux/x11/QtPasteboard.h"

namespace sayloft {
namespace {

using namespace test;

// What wl-paste, a native client, reads from Mutter's clipboard; nullopt when it fails. Run
// without blocking the event loop: our X11 selection is served from it while wl-paste reads.
std::optional<std::string> wlPaste(const QStringList& args) {
    QProcess paste;
    paste.start("wl-paste", args + QStringList{"--no-newline"});
    if (!waitUntil([&] { return paste.state() == QProcess::NotRunning; })) {
        paste.kill();
        paste.waitForFinished(5000);
        return std::nullopt;
    }
    if (paste.exitStatus() != QProcess::NormalExit || paste.exitCode() != 0) {
        return std::nullopt;
    }
    return paste.readAllStandardOutput().toStdString();
}

// The native GTK field, maximised (under every point of the screen) and focused, and the
// remote desktop input; a first click that reaches the field (a new pointer's first events can
// be lost).
class GnomeFallbacks : public ::testing::Test {
protected:
    void SetUp() override {
        SAYLOFT_REQUIRE_HEADLESS_DESKTOP("GNOME");
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "Mutter started no Xwayland";
        field_ = std::make_unique<NativeField>(QStringList{"--maximize"});
        input_ =
            std::make_unique<LineTool>("mutter_input.py", QProcessEnvironment::systemEnvironment());
        ASSERT_TRUE(field_->ready()) << "the GTK field did not take the focus";
        ASSERT_TRUE(waitUntil([&] { return input_->count("ready") == 1; }));
    }

    // Sends one command to Mutter and waits until it has taken it.
    void send(const QByteArray& command) {
        const int before = input_->count("ok");
        input_->say(command);
        ASSERT_TRUE(waitUntil([&] { return input_->count("ok") > before; })) << command.data();
    }

    std::unique_ptr<NativeField> field_;
    std::unique_ptr<LineTool> input_;
};

TEST_F(GnomeFallbacks, TheX11ClipboardReachesNativeFieldsThroughXwayland) {
    const std::string text = "through Xwayland ∑ 你好";
    QtPasteboard pasteboard;
    pasteboard.setText(text);
    EXPECT_TRUE(waitUntil([&] { return wlPaste({}) == text; }, std::chrono::seconds(20)))
        << "Mutter does not offer the X11 clipboard to Wayland clients";
    EXPECT_EQ(wlPaste({"--primary"}), text);

    // The paste chord, Shift+Insert, into the native field.
    send("press 42");
    send("tap 110");
    send("release 42");
    const QByteArray expected = "text " + QByteArray::fromStdString(text).toHex();
    EXPECT_TRUE(waitUntil([&] { return field_->last("text ") == expected; }))
        << "the field holds " << field_->last("text ").toStdString();
}

TEST_F(GnomeFallbacks, TheX11PanelShowsOnThePrimaryScreenAndKeepsTheFocusEvenWhenClicked) {
    ASSERT_TRUE(field_->hearsAClick([&] { send("click 200 200"); }))
        << "no click reaches the field";

    HudWith<QtPanel> panel(false);  // a Wayland session: the pointer's screen is not known
    panel.hud.show(Texts::english().listening);
    QtPanel*& shown = panel.shown;
    ASSERT_TRUE(waitUntil([&] { return shown != nullptr && shown->widget()->isVisible(); }));
    const unsigned long window = shown->widget()->winId();
    std::optional<XWindowState> state;
    ASSERT_TRUE(waitUntil([&] {
        state = xWindowState(window);
        return state && state->viewable;
    })) << "the panel's X11 window is not viewable";
    EXPECT_TRUE(state->overrideRedirect);
    EXPECT_EQ(QRect(state->x, state->y, state->width, state->height), panel.bottomCentre());

    // Mutter 43 with Xwayland 22 does not let a click through an X11 window's empty input shape
    // (Xwayland's surface takes it): a click beside the panel reaches the field, one on the panel
    // is lost, and neither moves the focus. The next click beside it arriving shows that the
    // one on the panel has been handled.
    const int cx = state->x + state->width / 2;
    const int cy = state->y + state->height / 2;
    for (const int y : {cy - 100, cy, cy - 100}) {
        const int before = field_->count("click");
        send(QStringLiteral("click %1 %2").arg(cx).arg(y).toUtf8());
        if (y != cy) {
            EXPECT_TRUE(waitUntil([&] { return field_->count("click") > before; }))
                << "a click beside the panel did not reach the field";
        }
    }
    EXPECT_EQ(field_->count("inactive"), 0) << "the field lost the focus";
    EXPECT_NE(QApplication::activeWindow(), shown->widget());

    panel.hud.hide();
    EXPECT_TRUE(waitUntil([&] {
        state = xWindowState(window);
        return state && !state->viewable;
    }));
}

}  // namespace
}  // namespace sayloft
