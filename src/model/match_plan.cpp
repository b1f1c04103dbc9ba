#include "model/match_plan.h"

#include <algorithm>

#include "base/text.h"

namespace zanth {
namespace {

// A name as one line without blanks at its ends, cut to `limit` bytes: what the settings file gives back.
std::string SaneName(std::string name, std::size_t limit) {
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    name = CutUtf8(name, limit);
    const std::size_t first = name.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return name.substr(first, name.find_last_not_of(' ') - first + 1);
}

}  // namespace

MatchPlan MatchPlan::Default() {
    return MatchPlan{"Practice",
                     {{"Countdown", 5, -1, false}, {"Drive", 90, -1, true}, {"Endgame", 30, -1, true}}};
}

MatchPlan SanePlan(MatchPlan plan) {
    plan.name = SaneName(std::move(plan.name), MatchPlan::kNameLimit);
    if (plan.name.empty()) plan.name = MatchPlan::Default().name;
    if (plan.phases.size() > MatchPlan::kMaxPhases) plan.phases.resize(MatchPlan::kMaxPhases);
    for (MatchPhase& phase : plan.phases) {
        phase.name = SaneName(std::move(phase.name), MatchPhase::kNameLimit);
        phase.seconds = std::clamp(phase.seconds, 1, MatchPhase::kMaxSeconds);
        if (phase.sound < 0 || phase.sound > MatchPlan::kMaxSound) phase.sound = -1;
    }
    if (plan.phases.empty()) plan.phases = MatchPlan::Default().phases;
    return plan;
}

}  // namespace zanth
