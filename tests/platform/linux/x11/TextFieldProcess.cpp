#include "TextFieldProcess.h"

#include <QCoreApplication>
#include <QProcessEnvironment>

#include "TestDisplay.h"

namespace sayloft::test {

TextFieldProcess::TextFieldProcess(Toolkit toolkit) {
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] { readLines(); });
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (toolkit == Toolkit::gtk) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("GDK_BACKEND", "x11");
        process_.setProcessEnvironment(env);
        process_.start("/usr/bin/python3", {SAYLOFT_TEST_TOOLS "/gtk_text_field.py"});
    } else {
        process_.start(QCoreApplication::applicationFilePath(), {"--text-field"});
    }
}

TextFieldProcess::~TextFieldProcess() {
    process_.kill();
    process_.waitForFinished(5000);
}

bool TextFieldProcess::waitUntilReady() {
    return waitUntil([this] { return ready_; });
}

bool TextFieldProcess::waitForText(const QString& text) {
    return waitUntil([&] { return text_ == text; });
}

void TextFieldProcess::readLines() {
    pending_ += process_.readAllStandardOutput();
    qsizetype end = 0;
    while ((end = pending_.indexOf('\n')) >= 0) {
        const QByteArray line = pending_.left(end);
        pending_.remove(0, end + 1);
        if (line == "ready") {
            ready_ = true;
        } else if (line.startsWith("text ")) {
            text_ = QString::fromUtf8(QByteArray::fromHex(line.mid(5)));
        }
    }
}

}  // namespace sayloft::test
