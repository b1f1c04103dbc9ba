#pragma once
#include <cstdint>
#include <optional>

namespace zanth {

// When the pad's motors tell the driver something, whose eyes are on the robot: one short pulse when the
// battery meter turns red, again every 30 s while it stays red, and a double pulse when the port is lost.
// Fed by the control tick; plain rules, no device.
class RumbleRules {
  public:
    static constexpr int kPulseMs = 200;
    static constexpr std::uint32_t kGapMs = 150;        // between the two pulses of a lost port
    static constexpr std::uint32_t kRepeatMs = 30'000;  // while the meter stays red

    // One tick at `now` (ms): `red` whether the meter shows red, `lost` whether the port was lost since
    // the last tick. The length of the pulse to start now, if any.
    std::optional<int> Tick(std::uint32_t now, bool red, bool lost);

  private:
    std::optional<std::uint32_t> lastRedPulse_;
    std::optional<std::uint32_t> secondPulseAt_;
};

}  // namespace zanth
