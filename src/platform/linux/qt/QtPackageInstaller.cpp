#include "platform/linux/qt/QtPackageInstaller.h"

#include <QDesktopServices>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace sayloft {

namespace {

constexpr int queryTimeoutMs = 5000;

bool hasInstaller() {
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"),
                 QStringLiteral("application/vnd.debian.binary-package")});
    if (!query.waitForFinished(queryTimeoutMs)) {
        query.kill();
        query.waitForFinished(queryTimeoutMs);
        return false;
    }
    return query.exitStatus() == QProcess::NormalExit && query.exitCode() == 0 &&
           !query.readAllStandardOutput().trimmed().isEmpty();
}

}  // namespace

bool QtPackageInstaller::open(const std::string& path) {
    return hasInstaller() &&
           QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

}  // namespace sayloft
