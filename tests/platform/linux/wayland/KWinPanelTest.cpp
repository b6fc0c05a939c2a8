// The layer-shell panel on KWin, inside the headless KWin of scripts/kwin-session (1280x800,
// scale 1), placed as the status panel places it on Wayland (the pointer's screen unknown): seen
// in KWin's own screenshot at the bottom centre, 120 px above the bottom, while shown and gone
// when hidden, with the focused native window (the GTK field of tests/tools) keeping the focus.
// The data-control clipboard on KWin is DataControlPasteboardTest, run there too.

#include <QProcessEnvironment>
#include <QRect>
#include <chrono>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "KWinScreenshot.h"
#include "LineTool.h"
#include "qt/QtWait.h"
#include "Screenshots.h"
#include "WaylandSession.h"
#include "app/StatusHUD.h"
#include "app/Texts.h"
#include "platform/linux/qt/QtRunLoop.h"
#include "platform/linux/qt/QtScreens.h"
#include "platform/linux/wayland/LayerShellPanel.h"

namespace sayloft {
namespace {

using test::changedArea;
using test::kwinScreenshot;
using test::LineTool;
using test::waitUntil;

constexpr int outputWidth = 1280;
constexpr int outputHeight = 800;

// Where the panel may appear: away from the output's edges and from the field's text cursor,
// which blinks at the left.
const QRect watched(100, 100, outputWidth - 200, outputHeight - 104);

std::string describe(const QRect& r) {
    return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) +
           "x" + std::to_string(r.height());
}

TEST(KWinPanel, LayerShellOverlaySeenAtTheBottomCentreKeepsTheFocus) {
    SAYLOFT_REQUIRE_HEADLESS_DESKTOP("KDE");
    QProcessEnvironment gtk = QProcessEnvironment::systemEnvironment();
    gtk.insert("GDK_BACKEND", "wayland");
    LineTool field("gtk_text_field.py", gtk, {"--maximize"});
    ASSERT_TRUE(waitUntil([&] { return field.count("ready") == 1; }, std::chrono::seconds(20)))
        << "the GTK field did not take the focus";
    // The maximised window settled: two screenshots in a row agree.
    std::optional<QImage> before;
    ASSERT_TRUE(waitUntil([&] {
        const auto first = kwinScreenshot();
        before = kwinScreenshot();
        return first && before && changedArea(*first, *before, watched).isEmpty();
    })) << "no screenshot from KWin, or the screen does not settle";
    ASSERT_EQ(before->size(), QSize(outputWidth, outputHeight));

    QtRunLoop loop;
    QtScreens screens(false);
    LayerShellPanel* shown = nullptr;
    StatusHUD hud(loop, screens, [&] {
        auto panel = std::make_unique<LayerShellPanel>(screens);
        shown = panel.get();
        return panel;
    });
    hud.show(Texts::english().listening);
    ASSERT_TRUE(waitUntil([&] { return shown != nullptr && shown->isShown(); }))
        << "KWin did not configure the layer surface";

    const int width = static_cast<int>(shown->size().width);
    const int height = static_cast<int>(shown->size().height);
    const QRect expected((outputWidth - width) / 2, outputHeight - 120 - height, width, height);
    QImage after;
    EXPECT_TRUE(waitUntil([&] {
        const auto shot = kwinScreenshot();
        after = shot.value_or(QImage());
        return shot && changedArea(*before, *shot, watched) == expected;
    })) << "the panel is not at the expected place; changed: "
        << describe(changedArea(*before, after, watched));
    EXPECT_TRUE(test::showsDarkBoxAt(after, expected));
    EXPECT_EQ(field.count("inactive"), 0) << "the field lost the focus";

    hud.hide();
    EXPECT_TRUE(waitUntil([&] {
        const auto shot = kwinScreenshot();
        return shot && changedArea(*before, *shot, watched).isEmpty();
    })) << "the panel stays on the screen after hide";
    EXPECT_EQ(field.count("inactive"), 0) << "the field lost the focus";
}

}  // namespace
}  // namespace sayloft
