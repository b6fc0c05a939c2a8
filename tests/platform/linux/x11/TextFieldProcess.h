#pragma once

#include <QProcess>
#include <QString>

namespace sayloft::test {

// Starts the test binary as a separate text-field application (see TextFieldWindow) and follows
// what it reports.
class TextFieldProcess {
public:
    enum class Toolkit { qt, gtk };
    // qt: this test binary's Qt field; gtk: tests/tools/gtk_text_field.py on X11.
    explicit TextFieldProcess(Toolkit toolkit = Toolkit::qt);
    ~TextFieldProcess();

    // Whether the window has taken the input focus (waits for it).
    bool waitUntilReady();
    // Waits until the field holds exactly text; false when it does not within the limit.
    bool waitForText(const QString& text);
    QString text() const { return text_; }

private:
    void readLines();

    QProcess process_;
    QByteArray pending_;
    bool ready_ = false;
    QString text_;
};

}  // namespace sayloft::test
