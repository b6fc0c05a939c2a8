#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QProcess>
#include <QRect>
#include <optional>

namespace sayloft::test {

// The whole Wayland output as grim sees it (the software cursor included), nullopt when grim
// fails.
inline std::optional<QImage> screenshot() {
    QProcess grim;
    grim.start("grim", {"-"});
    if (!grim.waitForFinished(10000) || grim.exitStatus() != QProcess::NormalExit ||
        grim.exitCode() != 0) {
        return std::nullopt;
    }
    QImage image = QImage::fromData(grim.readAllStandardOutput(), "PNG");
    if (image.isNull()) {
        return std::nullopt;
    }
    return image.convertToFormat(QImage::Format_RGB32);
}

// The bounding box of the pixels within `area` that differ between two screenshots; empty when
// none does.
inline QRect changedArea(const QImage& before, const QImage& after, const QRect& area) {
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (before.pixel(x, y) != after.pixel(x, y)) {
                box |= QRect(x, y, 1, 1);
            }
        }
    }
    return box;
}

// Whether `image` shows a dark box (the panel) exactly at `place` over something light: just
// inside its straight edges dark, just outside them light (the rounded corners left out).
inline bool showsDarkBoxAt(const QImage& image, const QRect& place) {
    const auto value = [&](int x, int y) { return QColor(image.pixel(x, y)).value(); };
    const auto edgeHolds = [&](int x, int y, int outX, int outY) {
        return value(x, y) < 100 && value(outX, outY) > 200;
    };
    const int corner = 16;
    for (int x = place.left() + corner; x <= place.right() - corner; ++x) {
        if (!edgeHolds(x, place.top() + 1, x, place.top() - 2) ||
            !edgeHolds(x, place.bottom() - 1, x, place.bottom() + 2)) {
            return false;
        }
    }
    for (int y = place.top() + corner; y <= place.bottom() - corner; ++y) {
        if (!edgeHolds(place.left() + 1, y, place.left() - 2, y) ||
            !edgeHolds(place.right() - 1, y, place.right() + 2, y)) {
            return false;
        }
    }
    return true;
}

// Whether nothing dark is within `area` (the panel's place once it is gone).
inline bool allLight(const QImage& image, const QRect& area) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (QColor(image.pixel(x, y)).value() < 100) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace sayloft::test
