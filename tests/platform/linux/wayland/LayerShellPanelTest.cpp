// The layer-shell panel on the headless sway of scripts/wayland-session (1280x800, scale 1), as
// the status panel places it: seen by grim at the bottom centre, 120 px above the bottom, while
// shown and gone when hidden; the focused window keeps the focus; a click on the panel reaches
// the GTK field beneath (a virtual pointer of tests/tools/virtual_keyboard.py); a new text is
// drawn while shown, its emoji in colour (Noto Color Emoji), not as a white missing-glyph box.

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QRect>
#include <string>

#include <gtest/gtest.h>

#include "../LineTool.h"
#include "../qt/HudWith.h"
#include "Screenshots.h"
#include "WaylandSession.h"
#include "app/Texts.h"
#include "platform/linux/wayland/LayerShellPanel.h"
#include "qt/QtWait.h"

namespace sayloft {
namespace {

using namespace test;

constexpr int outputWidth = 1280;
constexpr int outputHeight = 800;

// Pixels of clear colour (far from grey): the panel itself is black, white and greys between.
int colouredPixels(const QImage& image, const QRect& area) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = QColor::fromRgb(image.pixel(x, y));
            count += c.hsvSaturation() > 100 && c.value() > 60 ? 1 : 0;
        }
    }
    return count;
}

// The bounding box of the pixels that differ from `before` on the output, away from its edges
// and from the field's blinking text cursor at the left; empty when none does.
QRect changedArea(const QImage& before, const QImage& after) {
    QRect box;
    for (int y = 100; y < outputHeight - 4; ++y) {
        for (int x = 100; x < outputWidth - 100; ++x) {
            if (before.pixel(x, y) != after.pixel(x, y)) {
                box |= QRect(x, y, 1, 1);
            }
        }
    }
    return box;
}

// Waits until exactly `change` (empty: nothing) has changed from `before`.
void waitForChange(const QImage& before, const QRect& change) {
    QRect last;
    EXPECT_TRUE(waitUntil([&] {
        const auto shot = screenshot();
        last = shot ? changedArea(before, *shot) : QRect(-1, -1, 0, 0);
        return last == change;
    })) << "changed: "
        << last.x() << "," << last.y() << " " << last.width() << "x" << last.height()
        << "; expected: " << change.x() << "," << change.y() << " " << change.width() << "x"
        << change.height();
}

TEST(LayerShellPanel, WithoutACompositorShowsNothing) {
    QtScreens screens;
    LayerShellPanel panel(screens, "sayloft-no-such-display");
    EXPECT_FALSE(panel.isAvailable());
    panel.setText("Listening");
    panel.orderFront();
    EXPECT_FALSE(panel.isShown());
    panel.orderOut();
}

TEST(LayerShellPanelOnSway, OverlayAtTheBottomKeepsFocusLetsClicksThroughAndDrawsEmoji) {
    SAYLOFT_REQUIRE_WAYLAND_SESSION();
    QProcessEnvironment gtk = QProcessEnvironment::systemEnvironment();
    gtk.insert("GDK_BACKEND", "wayland");
    LineTool field("gtk_text_field.py", gtk);
    ASSERT_TRUE(waitUntil([&] { return field.count("ready") == 1; }, std::chrono::seconds(20)))
        << "the GTK field did not take the focus";
    const std::string focused = focusedAppId();
    ASSERT_FALSE(focused.empty());
    // The seat has no pointer until a virtual one exists, and its first events can be lost:
    // the first click is repeated until the field hears one.
    LineTool pointer("virtual_keyboard.py", QProcessEnvironment::systemEnvironment());
    ASSERT_TRUE(waitUntil([&] { return pointer.count("ready") == 1; }));
    const auto clickAt = [&](int x, int y,
                             std::chrono::milliseconds limit = std::chrono::seconds(15)) {
        const int clicks = field.count("click");
        pointer.say(QStringLiteral("click %1 %2 %3 %4")
                        .arg(x)
                        .arg(y)
                        .arg(outputWidth)
                        .arg(outputHeight)
                        .toUtf8());
        return waitUntil([&] { return field.count("click") > clicks; }, limit);
    };
    ASSERT_TRUE(waitUntil([&] { return clickAt(200, 200, std::chrono::seconds(1)); }))
        << "no click reaches the field";
    const auto before = screenshot();
    ASSERT_TRUE(before.has_value()) << "grim took no screenshot";
    ASSERT_EQ(before->size(), QSize(outputWidth, outputHeight));

    HudWith<LayerShellPanel> panel(true);
    panel.hud.show(Texts::english().listening);
    ASSERT_TRUE(waitUntil([&] { return panel.shown != nullptr && panel.shown->isShown(); }));
    EXPECT_EQ(panel.shown->bottomMargin(), static_cast<int>(StatusHUD::bottomMargin));
    EXPECT_EQ(panel.shown->bufferScale(), 1);
    const QRect expected = panel.bottomCentre();
    waitForChange(*before, expected);
    EXPECT_EQ(focusedAppId(), focused);

    EXPECT_TRUE(clickAt(expected.center().x(), expected.center().y()))
        << "the click on the panel did not reach the field beneath";
    EXPECT_EQ(focusedAppId(), focused);
    // The pointer back where it was (grim's screenshots include it).
    ASSERT_TRUE(clickAt(200, 200));

    // A new text while shown is drawn at once; the hourglass of Noto Color Emoji is orange and
    // blue (the microphone is grey: a box would be white).
    panel.hud.show(Texts::english().transcribing);
    EXPECT_TRUE(waitUntil([&] {
        const auto shot = screenshot();
        return shot && colouredPixels(*shot, expected) > 30;
    })) << "the emoji of \""
        << Texts::english().transcribing << "\" has no colour";

    panel.hud.hide();
    waitForChange(*before, {});

    // On an output at scale 2 the panel is drawn at twice the pixels, at the same logical place.
    struct ScaleOne {
        ~ScaleOne() { runProgram({"swaymsg", "output * scale 1"}); }
    } restore;
    ASSERT_TRUE(runProgram({"swaymsg", "output * scale 2"}).has_value());
    panel.hud.show(Texts::english().listening);
    const QRect doubled(outputWidth / 2 - expected.width(),
                        outputHeight - 2 * (120 + expected.height()), 2 * expected.width(),
                        2 * expected.height());
    EXPECT_TRUE(waitUntil([&] {
        const auto shot = screenshot();
        return panel.shown->bufferScale() == 2 && shot &&
               shot->size() == QSize(outputWidth, outputHeight) &&
               QColor(shot->pixel(doubled.left() + 8, doubled.center().y())).value() < 100;
    })) << "no panel drawn at scale 2";
}

}  // namespace
}  // namespace sayloft

// One QGuiApplication for fonts, on the offscreen platform (the panel speaks Wayland on its own
// connection, whatever Qt's platform).
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
