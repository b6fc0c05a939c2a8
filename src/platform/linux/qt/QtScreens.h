#pragma once

#include "platform/Screens.h"

class QRect;

namespace sayloft {

// The monitors as Qt sees them (QGuiApplication::screens in the desktop's order, the primary
// screen as the main one; the visible frame is QScreen::availableGeometry, the work area the
// window manager announces) and the pointer (QCursor::pos). Main thread only.
//
// Both Qt and these interfaces measure in logical pixels from the top-left corner of the virtual
// desktop with y growing downwards, so positions pass through unchanged; toRect is the one place
// that converts Qt's integer rectangles, whose right() and bottom() are one pixel inside.
//
// The pointer is known only on an X11 session: Qt on Wayland has no global pointer position, and
// Qt on Xwayland sees the pointer move only while it is over X11 windows (elsewhere it reports a
// stale position), so the composition root says which session this is.
class QtScreens final : public Screens {
public:
    explicit QtScreens(bool pointerKnown = true) : pointerKnown_(pointerKnown) {}

    std::optional<Point> mouseLocation() const override;
    std::vector<Screen> screens() const override;
    std::optional<Screen> mainScreen() const override;

    static Rect toRect(const QRect& rect);

private:
    bool pointerKnown_ = true;
};

}  // namespace sayloft
