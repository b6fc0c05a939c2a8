#pragma once

#include <QImage>
#include <QProcess>
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

}  // namespace sayloft::test
