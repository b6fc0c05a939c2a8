#include "platform/linux/qt/QtScreens.h"

#include <QCursor>
#include <QGuiApplication>
#include <QRect>
#include <QScreen>

namespace sayloft {
namespace {

Screens::Screen describe(const QScreen& screen) {
    return Screens::Screen{QtScreens::toRect(screen.geometry()),
                           QtScreens::toRect(screen.availableGeometry())};
}

}  // namespace

Rect QtScreens::toRect(const QRect& rect) {
    // width()/height() count the pixels; right()/bottom() would be one short.
    return Rect{static_cast<double>(rect.x()), static_cast<double>(rect.y()),
                static_cast<double>(rect.width()), static_cast<double>(rect.height())};
}

std::optional<Point> QtScreens::mouseLocation() const {
    if (!pointerKnown_) {
        return std::nullopt;
    }
    const QPoint pos = QCursor::pos();
    return Point{static_cast<double>(pos.x()), static_cast<double>(pos.y())};
}

std::vector<Screens::Screen> QtScreens::screens() const {
    std::vector<Screen> result;
    for (const QScreen* screen : QGuiApplication::screens()) {
        result.push_back(describe(*screen));
    }
    return result;
}

std::optional<Screens::Screen> QtScreens::mainScreen() const {
    if (const QScreen* primary = QGuiApplication::primaryScreen()) {
        return describe(*primary);
    }
    return std::nullopt;
}

}  // namespace sayloft
