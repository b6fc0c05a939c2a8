// The D-Bus tests need a Qt application for the buses' event handling and the replies they
// wait for; they run inside scripts/desktop-session, whose private buses are empty until a test
// starts the mocks it needs.
#include <QtCore/QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
