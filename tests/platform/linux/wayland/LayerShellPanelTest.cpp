// The layer-shell panel on the headless sway of scripts/wayland-session (1280x800, scale 1), as
// the status panel places it: seen by grim at the bottom centre, 120 px above the bottom, while
// shown and gone when hidden; the focused window keeps the focus; a click on the panel reaches
// the GTK field beneath (a virtual pointer of tests/tools/virtual_keyboard.py); a new text is
// drawn while shown, its emoji in colour (Noto Color Emoji), not as a white missing-glyph box.

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "LineTool.h"
#include "qt/QtWait.h"
#include "Screenshots.h"
#include "TextReceiver.h"
#include "WaylandSession.h"
#include "app/StatusHUD.h"
#include "app/Texts.h"
#include "platform/linux/qt/QtRunLoop.h"
#include "platform/linux/qt/QtScreens.h"
#include "platform/linux/wayland/LayerShellPanel.h"

namespace sayloft {
namespace {

using test::changedArea;
using test::LineTool;
using test::screenshot;
using test::waitUntil;

constexpr int outputWidth = 1280;
constexpr int outputHeight = 800;

// Where the panel may appear: away from the output's edges and from the field's text cursor,
// which blinks at the left.
const QRect watched(100, 100, outputWidth - 200, outputHeight - 104);

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

TEST(LayerShellPanel, WithoutACompositorKeepsItsSizeAndShowsNothing) {
    QtScreens screens;
    LayerShellPanel panel(screens, "sayloft-no-such-display");
    EXPECT_FALSE(panel.isAvailable());
    panel.setText(std::string(60, 'W'));
    EXPECT_GT(panel.size().width, 220);
    EXPECT_EQ(panel.size().height, 48);
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
    const std::string focused = test::focusedAppId();
    ASSERT_FALSE(focused.empty());
    // The seat has no pointer until a virtual one exists, and the field misses the first
    // events of a new one: clicks until one arrives, before the panel is there.
    LineTool keyboard("virtual_keyboard.py", QProcessEnvironment::systemEnvironment());
    ASSERT_TRUE(waitUntil([&] { return keyboard.count("ready") == 1; }));
    const auto clickAt = [&](int x, int y) {
        keyboard.say(QStringLiteral("click %1 %2 %3 %4")
                         .arg(x)
                         .arg(y)
                         .arg(outputWidth)
                         .arg(outputHeight)
                         .toUtf8());
    };
    ASSERT_TRUE(waitUntil([&] {
        if (field.count("click") == 0) {
            clickAt(200, 200);
            waitUntil([&] { return field.count("click") > 0; }, std::chrono::seconds(1));
        }
        return field.count("click") > 0;
    })) << "no click reaches the field";
    const int clicksBefore = field.count("click");
    const auto before = screenshot();
    ASSERT_TRUE(before.has_value()) << "grim took no screenshot";
    ASSERT_EQ(before->size(), QSize(outputWidth, outputHeight));

    QtRunLoop loop;
    QtScreens screens;
    LayerShellPanel* shown = nullptr;
    StatusHUD hud(loop, screens, [&] {
        auto panel = std::make_unique<LayerShellPanel>(screens);
        shown = panel.get();
        return panel;
    });
    hud.show(Texts::english().listening);
    ASSERT_TRUE(waitUntil([&] { return shown != nullptr && shown->isShown(); }));
    EXPECT_EQ(shown->bottomMargin(), static_cast<int>(StatusHUD::bottomMargin));
    EXPECT_EQ(shown->bufferScale(), 1);

    const int width = static_cast<int>(shown->size().width);
    const int height = static_cast<int>(shown->size().height);
    const QRect expected((outputWidth - width) / 2, outputHeight - 120 - height, width, height);
    QImage after;
    EXPECT_TRUE(waitUntil([&] {
        const auto shot = screenshot();
        after = shot.value_or(QImage());
        return shot && changedArea(*before, *shot, watched) == expected;
    })) << "the panel is not at the expected place; changed: "
        << [&] {
               const QRect r = changedArea(*before, after, watched);
               return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " +
                      std::to_string(r.width()) + "x" + std::to_string(r.height());
           }();
    EXPECT_EQ(test::focusedAppId(), focused);

    clickAt(expected.center().x(), expected.center().y());
    EXPECT_TRUE(waitUntil([&] { return field.count("click") > clicksBefore; }))
        << "the click on the panel did not reach the field beneath";
    EXPECT_EQ(test::focusedAppId(), focused);
    // The pointer back where it was (grim's screenshots include it).
    clickAt(200, 200);
    ASSERT_TRUE(waitUntil([&] { return field.count("click") > clicksBefore + 1; }));

    // A new text while shown is drawn at once; the hourglass of Noto Color Emoji is orange and
    // blue (the microphone is grey: a box would be white).
    hud.show(Texts::english().transcribing);
    EXPECT_TRUE(waitUntil([&] {
        const auto shot = screenshot();
        return shot && colouredPixels(*shot, expected) > 30;
    })) << "the emoji of \""
        << Texts::english().transcribing << "\" has no colour";

    hud.hide();
    EXPECT_TRUE(waitUntil([&] {
        const auto shot = screenshot();
        return shot && changedArea(*before, *shot, watched).isEmpty();
    })) << "the panel stays on the screen after hide";

    // On an output at scale 2 the panel is drawn at twice the pixels, at the same logical place.
    struct ScaleOne {
        ~ScaleOne() { test::runProgram({"swaymsg", "output * scale 1"}); }
    } restore;
    ASSERT_TRUE(test::runProgram({"swaymsg", "output * scale 2"}).has_value());
    hud.show(Texts::english().listening);
    const QRect doubled(outputWidth / 2 - width, outputHeight - 2 * (120 + height), 2 * width,
                        2 * height);
    EXPECT_TRUE(waitUntil([&] {
        const auto shot = screenshot();
        return shown->bufferScale() == 2 && shot &&
               shot->size() == QSize(outputWidth, outputHeight) &&
               QColor(shot->pixel(doubled.left() + 8, doubled.center().y())).value() < 100;
    })) << "no panel drawn at scale 2";
}

}  // namespace
}  // namespace sayloft
