#include "TextFieldWindow.h"

#include <QGuiApplication>
#include <QTimer>
#include <QWindow>
#include <cstdio>

namespace sayloft::test {

void TextFieldWindow::start() {
    setWindowTitle("Sayloft text field");
    resize(600, 40);
    connect(this, &QLineEdit::textChanged, [](const QString& text) {
        std::printf("text %s\n", text.toUtf8().toHex().constData());
        std::fflush(stdout);
    });
    connect(qApp, &QGuiApplication::focusWindowChanged, [this](QWindow* window) {
        if (window != nullptr && window == windowHandle()) {
            std::printf("ready\n");
            std::fflush(stdout);
        }
    });
    show();
    // With no window manager the focus is given, not negotiated.
    QTimer::singleShot(0, this, [this] {
        activateWindow();
        setFocus();
    });
}

}  // namespace sayloft::test
