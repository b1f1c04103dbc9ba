#include <gtest/gtest.h>

#include <QCoreApplication>

// The session's link reports through queued signals: the tests need an event loop, not a display.
int main(int argc, char** argv) {
    // The port list ends with the bundled simulator only where it is installed: the tests see the same list
    // on every machine unless they name one themselves.
    if (!qEnvironmentVariableIsSet("ZANTH_ROBOT_SIM")) qputenv("ZANTH_ROBOT_SIM", "");
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
