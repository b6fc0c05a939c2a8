#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QImage>
#include <QVariantMap>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

namespace sayloft::test {

// The whole screen of a KWin session, from KWin's own screenshot interface on the session bus
// (org.kde.KWin.ScreenShot2; scripts/kwin-session starts KWin without its permission check).
// KWin writes the raw pixels into a pipe and answers with their size, stride and QImage format.
// nullopt when KWin refuses or the data is short.
inline std::optional<QImage> kwinScreenshot() {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    // Every copy of the pipe's writing end must be closed before the read can end: ours, and the
    // message's, which goes with the message.
    const QDBusReply<QVariantMap> reply = [&] {
        QDBusMessage call =
            QDBusMessage::createMethodCall("org.kde.KWin", "/org/kde/KWin/ScreenShot2",
                                           "org.kde.KWin.ScreenShot2", "CaptureWorkspace");
        call << QVariantMap{} << QVariant::fromValue(QDBusUnixFileDescriptor(pipe[1]));
        ::close(pipe[1]);
        return QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
    }();
    QByteArray data;
    if (reply.isValid()) {
        char buffer[65536];
        ssize_t got = 0;
        while ((got = ::read(pipe[0], buffer, sizeof buffer)) > 0) {
            data.append(buffer, got);
        }
    }
    ::close(pipe[0]);
    if (!reply.isValid()) {
        return std::nullopt;
    }
    const QVariantMap meta = reply.value();
    const int width = meta.value("width").toInt();
    const int height = meta.value("height").toInt();
    const int stride = meta.value("stride").toInt();
    const auto format = static_cast<QImage::Format>(meta.value("format").toInt());
    if (width <= 0 || height <= 0 || data.size() < static_cast<qsizetype>(stride) * height) {
        return std::nullopt;
    }
    const QImage view(reinterpret_cast<const uchar*>(data.constData()), width, height, stride,
                      format);
    return view.convertToFormat(QImage::Format_RGB32);  // a deep copy
}

}  // namespace sayloft::test
