#include "platform/linux/x11/QtPasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QString>

namespace sayloft {

QtPasteboard::QtPasteboard(QClipboard* clipboard)
    : clipboard_(clipboard != nullptr ? clipboard : QGuiApplication::clipboard()) {
}

void QtPasteboard::setText(std::string_view utf8) {
    const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    clipboard_->setText(text, QClipboard::Clipboard);
    if (clipboard_->supportsSelection()) {
        clipboard_->setText(text, QClipboard::Selection);
    }
}

}  // namespace sayloft
