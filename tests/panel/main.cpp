#include <gtest/gtest.h>

#include <QApplication>

// Widget tests need one QApplication for the whole program; the offscreen platform needs no display.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Sound without a sound card: the dummy driver plays (silently) and reports what plays.
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER")) qputenv("SDL_AUDIODRIVER", "dummy");
    // The port list ends with the bundled simulator only where it is installed: the tests see the same list
    // on every machine unless they name one themselves.
    if (!qEnvironmentVariableIsSet("ZANTH_ROBOT_SIM")) qputenv("ZANTH_ROBOT_SIM", "");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
