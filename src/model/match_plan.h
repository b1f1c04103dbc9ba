#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace zanth {

// One phase of a practice match: it begins when the one before it ends.
struct MatchPhase {
    static constexpr std::size_t kNameLimit = 40;  // bytes of UTF-8, cut on a character boundary
    static constexpr int kMaxSeconds = 99 * 60 + 59;
    std::string name;
    int seconds = 0;     // 1..kMaxSeconds
    int sound = -1;      // row 0..15 of the program's sound effects played as it begins; -1 none
    bool drives = true;  // the robot may drive in it; a countdown does not
    bool operator==(const MatchPhase&) const = default;
};

// A practice match: its name (it names the recording) and its phases in order.
struct MatchPlan {
    static constexpr std::size_t kNameLimit = 40;
    static constexpr std::size_t kMaxPhases = 12;
    static constexpr int kMaxSound = 15;
    std::string name;
    std::vector<MatchPhase> phases;
    bool operator==(const MatchPlan&) const = default;

    // "Practice": a 5 s countdown in which nothing drives, 1:30 of driving and a 0:30 endgame (its start is
    // the warning). No sounds: a fresh settings file has no sound effects to play.
    static MatchPlan Default();
};

// `plan` made safe to run and to store: names cut to their limits (an empty match name becomes the
// default's), at most kMaxPhases phases, lengths clamped to 1..kMaxSeconds, a sound outside 0..kMaxSound
// none. A plan left without phases is the default.
MatchPlan SanePlan(MatchPlan plan);

}  // namespace zanth
