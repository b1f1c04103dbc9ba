#include "input/rumble_rules.h"

namespace zanth {

std::optional<int> RumbleRules::Tick(std::uint32_t now, bool red, bool lost) {
    bool pulse = false;
    if (lost) {
        pulse = true;
        secondPulseAt_ = now + kPulseMs + kGapMs;
    } else if (secondPulseAt_ && static_cast<std::int32_t>(now - *secondPulseAt_) >= 0) {
        pulse = true;
        secondPulseAt_.reset();
    }
    // A meter that flickers between yellow and red pulses no more often than one that stays red.
    if (red && (!lastRedPulse_ || now - *lastRedPulse_ >= kRepeatMs)) {
        pulse = true;
        lastRedPulse_ = now;
    }
    return pulse ? std::optional<int>(kPulseMs) : std::nullopt;
}

}  // namespace zanth
