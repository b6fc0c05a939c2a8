// The layer-shell panel on KWin, inside the headless KWin of scripts/kwin-session (1280x800,
// scale 1), placed as the status panel places it on Wayland (the pointer's screen unknown): seen
// in KWin's own screenshot at the bottom centre, 120 px above the bottom, while shown and gone
// when hidden, with the focused native window (the GTK field of tests/tools) keeping the focus.
// The data-control clipboard on KWin is DataControlPasteboardTest, run there too.

#include <QImage>
#include <optional>

#include <gtest/gtest.h>

#include "KWinScreenshot.h"
#include "PanelScene.h"
#include "WaylandSession.h"
#include "app/Texts.h"
#include "platform/linux/wayland/LayerShellPanel.h"

namespace sayloft {
namespace {

using namespace test;

TEST(KWinPanel, LayerShellOverlaySeenAtTheBottomCentreKeepsTheFocus) {
    SAYLOFT_REQUIRE_HEADLESS_DESKTOP("KDE");
    NativeField field({"--maximize"});
    ASSERT_TRUE(field.ready()) << "the GTK field did not take the focus";
    // The maximised window settled: two screenshots in a row agree.
    std::optional<QImage> before;
    ASSERT_TRUE(waitUntil([&] {
        const auto first = kwinScreenshot();
        before = kwinScreenshot();
        return first && before && changedArea(*first, *before, watched).isEmpty();
    })) << "no screenshot from KWin, or the screen does not settle";
    ASSERT_EQ(before->size(), QSize(outputWidth, outputHeight));

    HudWith<LayerShellPanel> panel(false);
    panel.hud.show(Texts::english().listening);
    ASSERT_TRUE(waitUntil([&] { return panel.shown != nullptr && panel.shown->isShown(); }))
        << "KWin did not configure the layer surface";
    const QRect expected = panel.bottomCentre();
    EXPECT_TRUE(showsDarkBoxAt(waitForChange(kwinScreenshot, *before, expected), expected));
    EXPECT_EQ(field.count("inactive"), 0) << "the field lost the focus";

    panel.hud.hide();
    waitForChange(kwinScreenshot, *before, {});
    EXPECT_EQ(field.count("inactive"), 0) << "the field lost the focus";
}

}  // namespace
}  // namespace sayloft
