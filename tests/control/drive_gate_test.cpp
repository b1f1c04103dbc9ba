#include "control/drive_gate.h"

#include <gtest/gtest.h>

namespace zanth {
namespace {

const auto kAt = std::chrono::system_clock::time_point{};

Holding Nothing() {
    return {};
}
Holding Only(DriveSource source) {
    Holding h{};
    h[static_cast<std::size_t>(source)] = true;
    return h;
}

// Who may leave a stop, and whether the window must ask first.
TEST(DriveGateTest, OnlyTheWindowReleasesAndOnlyAMatchEndAsksNothing) {
    struct Row {
        StopBy stoppedBy;
        ReleaseBy releasedBy;
        bool released;
        bool asks;
    };
    const Row rows[] = {
        {StopBy::kKey, ReleaseBy::kKey, false, true},
        {StopBy::kKey, ReleaseBy::kWindow, true, true},
        {StopBy::kRemote, ReleaseBy::kRemote, false, true},
        {StopBy::kButton, ReleaseBy::kGamepad, false, true},
        {StopBy::kGamepad, ReleaseBy::kWindow, true, true},
        {StopBy::kMatchEnd, ReleaseBy::kRemote, false, false},
        {StopBy::kMatchEnd, ReleaseBy::kWindow, true, false},
    };
    for (const Row& r : rows) {
        DriveGate gate(false);
        ASSERT_TRUE(gate.Drives(Nothing()));
        gate.Stop(r.stoppedBy, "phone", kAt);
        EXPECT_EQ(gate.ReleaseNeedsConfirmation(), r.asks) << static_cast<int>(r.stoppedBy);
        EXPECT_EQ(gate.Release(r.releasedBy), r.released) << static_cast<int>(r.releasedBy);
        EXPECT_EQ(gate.Drives(Nothing()), r.released);
    }
}

TEST(DriveGateTest, TheFirstStopIsKeptUntilReleased) {
    DriveGate gate(false);
    EXPECT_TRUE(gate.Stop(StopBy::kRemote, "phone", kAt));
    EXPECT_FALSE(gate.Stop(StopBy::kKey, {}, kAt));
    EXPECT_EQ(gate.stop()->by, StopBy::kRemote);
    EXPECT_EQ(gate.stop()->who, "phone");
    EXPECT_EQ(StopperText(*gate.stop(), Language::kEnglish), "remote client phone");
    EXPECT_TRUE(gate.Release(ReleaseBy::kWindow));
    EXPECT_FALSE(gate.Release(ReleaseBy::kWindow));  // nothing left to release
}

// Whatever is held when the robot is held back must be let go of before it drives: held through the stop,
// pressed during it, or not seen at the release.
TEST(DriveGateTest, EverySourceLetsGoBeforeTheRobotDrives) {
    for (std::size_t i = 0; i < kDriveSourceCount; ++i) {
        const auto source = static_cast<DriveSource>(i);
        SCOPED_TRACE(i);
        DriveGate gate(false);
        gate.Drives(Only(source));
        gate.Stop(StopBy::kButton, {}, kAt);
        gate.Drives(Nothing());     // let go during the stop ...
        gate.Drives(Only(source));  // ... and pressed again
        gate.Release(ReleaseBy::kWindow);
        EXPECT_FALSE(gate.Drives(Only(source)));
        EXPECT_TRUE(gate.waiting()[i]);
        EXPECT_FALSE(gate.Drives(Only(source)));  // still held
        EXPECT_TRUE(gate.Drives(Nothing()));
        EXPECT_TRUE(gate.Drives(Only(source)));  // a press after letting go drives
    }
    // Not seen between the stop and the release: taken as held.
    DriveGate gate(false);
    gate.Stop(StopBy::kKey, {}, kAt);
    gate.Release(ReleaseBy::kWindow);
    EXPECT_FALSE(gate.Drives(Only(DriveSource::kRemote)));
}

TEST(DriveGateTest, StartDisabledHoldsUntilEnabledAndDisableHoldsAgain) {
    DriveGate gate(true);
    EXPECT_FALSE(gate.Drives(Nothing()));
    gate.SetEnabled(true);
    EXPECT_FALSE(gate.Drives(Only(DriveSource::kKeyboard)));
    EXPECT_TRUE(gate.Drives(Nothing()));
    gate.SetEnabled(false);
    EXPECT_FALSE(gate.Drives(Nothing()));
    // A stop while disabled is kept after Enable.
    gate.Stop(StopBy::kGamepad, {}, kAt);
    gate.SetEnabled(true);
    EXPECT_FALSE(gate.Drives(Nothing()));
}

}  // namespace
}  // namespace zanth
