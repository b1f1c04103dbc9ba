#include "model/settings_sections.h"

#include <array>
#include <charconv>
#include <optional>
#include <string>
#include <utility>

#include "base/app_context.h"

namespace zanth {
namespace {

// The keys a driver station is used to stopping with, beside the bindable ones (none of which they are).
constexpr std::array<std::pair<int, std::string_view>, 3> kStopKeys{{
    {StopSettings::kSpace, "SPACE"},
    {119, "PAUSE"},
    {70, "SCROLL LOCK"},
}};

std::optional<int> ParseInt(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// "name,seconds,sound,drives"; the name is what lies before the last three commas.
std::optional<MatchPhase> ParsePhase(std::string_view value) {
    std::array<std::string_view, 3> fields;
    for (std::size_t i = fields.size(); i-- > 0;) {
        const std::size_t comma = value.rfind(',');
        if (comma == std::string_view::npos) return std::nullopt;
        fields[i] = value.substr(comma + 1);
        value = value.substr(0, comma);
    }
    const std::optional<int> seconds = ParseInt(fields[0]);
    const std::optional<int> sound = ParseInt(fields[1]);
    const std::optional<int> drives = ParseInt(fields[2]);
    if (!seconds || !drives || (*drives != 0 && *drives != 1)) return std::nullopt;
    return MatchPhase{std::string(value), *seconds, sound.value_or(-1), *drives == 1};
}

std::string PhaseKey(std::size_t index) {
    return "PHASE" + std::to_string(index + 1);
}

bool HasSection(const IniFile& file, std::string_view section) {
    return !file.KeyNames(section).empty();
}

}  // namespace

std::string StopKeyName(int scanCode) {
    for (const auto& [code, name] : kStopKeys)
        if (code == scanCode) return std::string(name);
    return BindableKeyName(scanCode);
}

int StopKeyByName(std::string_view name) {
    std::string upper(name);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const auto& [code, known] : kStopKeys)
        if (upper == known) return code;
    return BindableKeyByName(upper);
}

StopSettings ReadStopSettings(const IniFile& file) {
    StopSettings stop;
    const int key = StopKeyByName(file.GetString(kStopSection, "KEY", "", IniFile::kWholeValue));
    if (key >= 0) stop.key = key;
    stop.startDisabled = file.GetInt(kStopSection, "STARTDISABLED", 0) == 1;
    stop.padChord = file.GetInt(kStopSection, "PADCHORD", 0) == 1;
    return stop;
}

void WriteStopSettings(IniFile& file, const StopSettings& stop) {
    const StopSettings defaults;
    if (stop.key != defaults.key || file.HasKey(kStopSection, "KEY")) {
        const std::string name = StopKeyName(stop.key);
        file.WriteString(kStopSection, "KEY", name.empty() ? StopKeyName(defaults.key) : name);
    }
    if (stop.startDisabled || file.HasKey(kStopSection, "STARTDISABLED"))
        file.WriteInt(kStopSection, "STARTDISABLED", stop.startDisabled ? 1 : 0);
    if (stop.padChord || file.HasKey(kStopSection, "PADCHORD"))
        file.WriteInt(kStopSection, "PADCHORD", stop.padChord ? 1 : 0);
}

MatchPlan ReadMatchPlan(const IniFile& file) {
    if (!HasSection(file, kMatchSection)) return MatchPlan::Default();
    MatchPlan plan;
    plan.name = file.GetString(kMatchSection, "NAME", "", IniFile::kWholeValue);
    const int count = file.GetInt(kMatchSection, "PHASES", 0);
    for (std::size_t i = 0; i < MatchPlan::kMaxPhases && static_cast<int>(i) < count; ++i) {
        const std::string value = file.GetString(kMatchSection, PhaseKey(i), "", IniFile::kWholeValue);
        if (std::optional<MatchPhase> phase = ParsePhase(value)) plan.phases.push_back(std::move(*phase));
    }
    return SanePlan(std::move(plan));
}

void WriteMatchPlan(IniFile& file, const MatchPlan& given) {
    const MatchPlan plan = SanePlan(given);
    if (plan == MatchPlan::Default() && !HasSection(file, kMatchSection)) return;
    file.WriteString(kMatchSection, "NAME", plan.name);
    file.WriteInt(kMatchSection, "PHASES", static_cast<int>(plan.phases.size()));
    // PHASEn beyond the count stay as they were (the file has no removal); PHASES says they are not read.
    for (std::size_t i = 0; i < plan.phases.size(); ++i) {
        const MatchPhase& p = plan.phases[i];
        file.WriteString(kMatchSection, PhaseKey(i),
                         p.name + "," + std::to_string(p.seconds) + "," + std::to_string(p.sound) + "," +
                             (p.drives ? "1" : "0"));
    }
}

}  // namespace zanth
