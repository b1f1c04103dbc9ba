#include "input/rumble_rules.h"

#include <gtest/gtest.h>

#include <vector>

namespace zanth {
namespace {

constexpr std::uint32_t kRepeat = 30'000;  // the reminder the driver relies on while the meter stays red
constexpr std::uint32_t kSecond = RumbleRules::kPulseMs + RumbleRules::kGapMs;

// Each case: ticks of (time, red, lost), and the times at which a pulse starts.
struct Step {
    std::uint32_t at;
    bool red, lost;
};
struct Case {
    const char* what;
    std::vector<Step> steps;
    std::vector<std::uint32_t> pulses;
};

TEST(RumbleRules, PulsesFollowTheMeterAndThePort) {
    const std::uint32_t t = 0xFFFF'F000;  // the tick count wraps meanwhile
    const Case cases[] = {
        {"never red, never lost", {{t, false, false}, {t + kRepeat, false, false}}, {}},
        {"turns red: once, then every repeat while red",
         {{t, false, false},
          {t + 50, true, false},
          {t + 100, true, false},
          {t + 50 + kRepeat - 1, true, false},
          {t + 50 + kRepeat, true, false}},
         {t + 50, t + 50 + kRepeat}},
        {"red again soon after: waits for the repeat",
         {{t, true, false}, {t + 50, false, false}, {t + 100, true, false}, {t + kRepeat, true, false}},
         {t, t + kRepeat}},
        {"red again much later: at once",
         {{t, true, false}, {t + 50, false, false}, {t + kRepeat + 50, true, false}},
         {t, t + kRepeat + 50}},
        {"lost: two pulses",
         {{t, false, true},
          {t + kSecond - 1, false, false},
          {t + kSecond, false, false},
          {t + 2 * kSecond, false, false}},
         {t, t + kSecond}},
        {"lost while red: the red pulse is one of them",
         {{t, true, true}, {t + kSecond, false, false}},
         {t, t + kSecond}},
    };
    for (const Case& c : cases) {
        RumbleRules rules;
        std::vector<std::uint32_t> pulses;
        for (const Step& s : c.steps) {
            if (auto ms = rules.Tick(s.at, s.red, s.lost)) {
                EXPECT_EQ(*ms, RumbleRules::kPulseMs) << c.what;
                pulses.push_back(s.at);
            }
        }
        EXPECT_EQ(pulses, c.pulses) << c.what;
    }
}

}  // namespace
}  // namespace zanth
