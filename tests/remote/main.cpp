#include <gtest/gtest.h>

#include <QCoreApplication>

// The server answers on its own thread and the test clients through queued signals: an event loop, no
// display.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
