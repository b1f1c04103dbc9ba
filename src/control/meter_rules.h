#pragma once
#include <algorithm>
#include <cstdint>

#include "link/frame.h"

namespace zanth {

// The battery meter's rules, apart from any window: what a reply shows, and when the robot counts as not
// answering. Times are TickCount() milliseconds, compared as wrapping counters.
class MeterRules {
  public:
    // Without a valid battery reply for this long, the meter shows that the robot is not answering.
    static constexpr std::uint32_t kNoReplyMs = 1000;
    static constexpr int kMin = 50;
    static constexpr int kMax = 80;

    // A port opened: a port that says nothing is "No reply" a second later, however often it is reopened.
    void Opened(std::uint32_t at) {
        lastReply_ = at;
        stale_ = false;
    }
    // Nothing shown: not connected, or the battery display off.
    void Clear() {
        value_ = 0;
        stale_ = false;
    }
    void Reply(int level, std::uint32_t at) {
        colour_ = BatteryColour(level);
        value_ = std::clamp(level, kMin, kMax);
        lastReply_ = at;
    }
    // `asking`: connected with the battery display on, so that replies are wanted.
    void Update(std::uint32_t now, bool asking) {
        stale_ =
            asking && static_cast<std::int32_t>(now - lastReply_) > static_cast<std::int32_t>(kNoReplyMs);
    }

    int value() const { return value_; }  // 0 = empty, else the level pinned to the meter's range
    Rgb colour() const { return colour_; }
    bool stale() const { return stale_; }
    // A fresh reply that shows the lowest colour: what the pad's warning rumble tells.
    bool red() const { return value_ != 0 && !stale_ && colour_ == BatteryColour(kMin); }

  private:
    int value_ = 0;
    Rgb colour_{0, 0, 255};
    bool stale_ = false;
    std::uint32_t lastReply_ = 0;
};

}  // namespace zanth
