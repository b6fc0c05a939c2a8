#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace sayloft::test {

// A program speaking lines on its standard output: "ready" first, then one line per event or
// command, as tests/tools' programs (gtk_text_field.py, virtual_keyboard.py, mutter_input.py) and
// the Qt text field of the X11 tests do. Ended when the object goes.
class LineTool {
public:
    // A program of tests/tools, run with Debian's /usr/bin/python3.
    LineTool(const QString& script, const QProcessEnvironment& env, const QStringList& args = {})
        : LineTool(QStringLiteral("/usr/bin/python3"),
                   QStringList{QStringLiteral(SAYLOFT_TEST_TOOLS "/") + script} + args, env) {}
    LineTool(const QString& program, const QStringList& args, const QProcessEnvironment& env) {
        process_.setProcessEnvironment(env);
        process_.start(program, args);
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
