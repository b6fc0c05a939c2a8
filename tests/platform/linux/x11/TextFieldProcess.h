#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QProcessEnvironment>
#include <QString>

#include "../LineTool.h"
#include "qt/QtWait.h"

namespace sayloft::test {

// The receiving application of the typing and paste tests, a separate X client: this test binary
// as a Qt field (--text-field, see TextFieldWindow) or tests/tools/gtk_text_field.py on X11.
class TextFieldProcess : public LineTool {
public:
    enum class Toolkit { qt, gtk };
    explicit TextFieldProcess(Toolkit toolkit = Toolkit::qt)
        : LineTool(toolkit == Toolkit::qt ? QCoreApplication::applicationFilePath()
                                          : QStringLiteral("/usr/bin/python3"),
                   toolkit == Toolkit::qt ? QStringList{"--text-field"}
                                          : QStringList{SAYLOFT_TEST_TOOLS "/gtk_text_field.py"},
                   [] {
                       QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
                       env.insert("GDK_BACKEND", "x11");
                       return env;
                   }()) {}

    // Whether the window has taken the input focus (waits for it).
    bool waitUntilReady() {
        return waitUntil([this] { return count("ready") > 0; });
    }
    // Waits until the field holds exactly text; false when it does not within the limit.
    bool waitForText(const QString& expected) {
        return waitUntil([&] { return text() == expected; });
    }
    QString text() { return QString::fromUtf8(QByteArray::fromHex(last("text ").mid(5))); }
};

}  // namespace sayloft::test
