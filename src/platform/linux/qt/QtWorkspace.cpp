#include "platform/linux/qt/QtWorkspace.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

namespace sayloft {

bool QtWorkspace::openUrl(const std::string& url) {
    const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    if (url.empty() || !parsed.isValid() || parsed.scheme().isEmpty()) {
        return false;
    }
    return QDesktopServices::openUrl(parsed);
}

}  // namespace sayloft
