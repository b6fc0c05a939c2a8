#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace sayloft::test {

// A program of tests/tools speaking lines (gtk_text_field.py, virtual_keyboard.py,
// mutter_input.py): "ready" first, then one line per event or command. Run with Debian's
// /usr/bin/python3; ended when the object goes.
class LineTool {
public:
    LineTool(const QString& script, const QProcessEnvironment& env, const QStringList& args = {}) {
        process_.setProcessEnvironment(env);
        process_.start("/usr/bin/python3",
                       QStringList{QStringLiteral(SAYLOFT_TEST_TOOLS "/") + script} + args);
    }
    ~LineTool() {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    LineTool(const LineTool&) = delete;
    LineTool& operator=(const LineTool&) = delete;

    // How many times `line` has been said so far.
    int count(const QByteArray& line) {
        output_ += process_.readAllStandardOutput();
        return static_cast<int>(output_.split('\n').count(line));
    }
    // The last line said that starts with `prefix`, empty when none.
    QByteArray last(const QByteArray& prefix) {
        count({});
        const QList<QByteArray> lines = output_.split('\n');
        for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
            if (it->startsWith(prefix)) {
                return *it;
            }
        }
        return {};
    }
    void say(const QByteArray& line) { process_.write(line + '\n'); }

private:
    QProcess process_;
    QByteArray output_;
};

}  // namespace sayloft::test
