// The entry of the layer-shell panel's tests: one QGuiApplication for fonts, on the offscreen
// platform (the panel speaks Wayland on its own connection, whatever Qt's platform).

#include <QGuiApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
