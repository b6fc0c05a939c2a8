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
class QtScreens final : public Screens {
public:
    Point mouseLocation() const override;
    std::vector<Screen> screens() const override;
    std::optional<Screen> mainScreen() const override;

    static Rect toRect(const QRect& rect);
};

}  // namespace sayloft
