#pragma once

#include <QByteArray>
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

}  // namespace sayloft::test
