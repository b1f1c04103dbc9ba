#pragma once
#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "base/app_context.h"

namespace zanth {

// Who stopped the robot.
enum class StopBy { kKey, kButton, kRemote, kGamepad, kMatchEnd };
// Who asks to leave the stop.
enum class ReleaseBy { kWindow, kKey, kRemote, kGamepad };
// What drives the robot, as far as letting go is concerned: every one must have let go of everything before
// the robot drives again after a stop or while it was disabled.
enum class DriveSource { kKeyboard, kGamepad, kMouse, kSticks, kRemote, kCount };
inline constexpr std::size_t kDriveSourceCount = static_cast<std::size_t>(DriveSource::kCount);
using Holding = std::array<bool, kDriveSourceCount>;

struct StopRecord {
    StopBy by = StopBy::kButton;
    std::string who;  // the remote client's name; empty for the others
    std::chrono::system_clock::time_point at;
};

// Who stopped the robot, as the banner, the monitor and the remote page name it ("the stop key").
std::string StopperText(const StopRecord& stop, Language language);
// When, as the banner shows it: "19:30:05", local time.
std::string StopTimeText(const StopRecord& stop);

// Whether the robot may be driven: the emergency stop, enable / disable, and the let-go that follows either.
// While it may not, only the neutral frame goes out. Plain rules: the session asks, the link obeys.
class DriveGate {
  public:
    explicit DriveGate(bool startDisabled) : enabled_(!startDisabled) {}

    // Anyone may stop, also while stopped: the first stop is the one kept, until released.
    // True when this stopped the robot.
    bool Stop(StopBy by, std::string who, std::chrono::system_clock::time_point at);
    // Only the main window leaves a stop: a stop key or a remote client that could, could be hit by accident
    // or by someone who cannot see the robot.
    static bool MayRelease(ReleaseBy by) { return by == ReleaseBy::kWindow; }
    // The end of a match stops the robot as planned; leaving that stop asks nothing.
    bool ReleaseNeedsConfirmation() const { return stop_ && stop_->by != StopBy::kMatchEnd; }
    // False when `by` may not release or nothing is stopped.
    bool Release(ReleaseBy by);
    // Enabled is the robot's normal state; disabled sends the neutral frame, as a stop does, but is left by
    // Enable alone.
    void SetEnabled(bool on);

    // Called with what each source holds this moment: the robot drives when neither stopped nor disabled and
    // every source was seen holding nothing since the stop was released or the robot enabled.
    bool Drives(const Holding& holding);
    // Without news of the sources: the answer of the last Drives.
    bool driving() const { return driving_; }
    bool enabled() const { return enabled_; }
    const std::optional<StopRecord>& stop() const { return stop_; }
    // Sources not yet seen holding nothing since the stop was released or the robot enabled (all of them
    // while it is held).
    const Holding& waiting() const { return waiting_; }

  private:
    bool enabled_;
    bool driving_ = false;
    std::optional<StopRecord> stop_;
    Holding waiting_{};
};

}  // namespace zanth
