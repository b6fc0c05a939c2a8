#include <QCoreApplication>

#include <gtest/gtest.h>

// The driver needs only an event loop (child processes, D-Bus).
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
