#include <QApplication>
#include <cstring>

#include <gtest/gtest.h>

#include "TextFieldWindow.h"

// The X11 tests need a Qt application (the monitor's socket notifier, the clipboard). Started
// with --text-field, the binary is instead the receiving application of the typing and paste
// tests: a separate X client, as a real one would be.
int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--text-field") == 0) {
        QApplication app(argc, argv);
        sayloft::test::TextFieldWindow window;
        window.start();
        return QApplication::exec();
    }
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();  // test discovery at build time, where there is no display
    }
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
