#include <gtest/gtest.h>

#include <QCoreApplication>

// The session's link reports through queued signals: the tests need an event loop, not a display.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
