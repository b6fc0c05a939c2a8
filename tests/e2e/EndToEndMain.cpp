#include <QApplication>
#include <QCoreApplication>
#include <cstring>

#include <gtest/gtest.h>

#include "TextFieldWindow.h"

// The driver needs only an event loop (child processes, D-Bus). Started with --text-field, the
// binary is instead the application dictated into: a separate X client with a focused line edit
// that reports its text on stdout.
int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--text-field") == 0) {
        QApplication app(argc, argv);
        sayloft::test::TextFieldWindow window;
        window.start();
        return QApplication::exec();
    }
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
