#include "control/match_clock.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <utility>

#include "base/text.h"

namespace zanth {
namespace {

using std::chrono::seconds;

constexpr std::size_t kRecordingNameLimit = 100;

std::string Replace(std::string text, std::string_view placeholder, const std::string& value) {
    const std::size_t at = text.find(placeholder);
    if (at != std::string::npos) text.replace(at, placeholder.size(), value);
    return text;
}

bool FitForFileName(unsigned char c) {
    return c >= 0x20 && c != 0x7f &&
           std::string_view("/\\:*?\"<>|").find(static_cast<char>(c)) == std::string_view::npos;
}

}  // namespace

MatchClock::MatchClock(MatchPlan plan) : plan_(SanePlan(std::move(plan))) {}

bool MatchClock::SetPlan(MatchPlan plan) {
    if (state_ == MatchState::kRunning || state_ == MatchState::kPaused) return false;
    plan_ = SanePlan(std::move(plan));
    return true;
}

bool MatchClock::Start(MatchTime now) {
    if (state_ == MatchState::kRunning || state_ == MatchState::kPaused) return false;
    state_ = MatchState::kRunning;
    banked_ = MatchTime{0};
    runningSince_ = now;
    reported_ = -1;
    return true;
}

bool MatchClock::Pause(MatchTime now) {
    if (state_ != MatchState::kRunning) return false;
    banked_ = Elapsed(now);
    state_ = MatchState::kPaused;
    return true;
}

bool MatchClock::Resume(MatchTime now) {
    if (state_ != MatchState::kPaused) return false;
    runningSince_ = now;
    state_ = MatchState::kRunning;
    return true;
}

bool MatchClock::Abort(MatchTime now) {
    if (state_ != MatchState::kRunning && state_ != MatchState::kPaused) return false;
    banked_ = Elapsed(now);
    state_ = MatchState::kAborted;
    return true;
}

std::vector<MatchEvent> MatchClock::Advance(MatchTime now) {
    std::vector<MatchEvent> events;
    if (state_ != MatchState::kRunning && state_ != MatchState::kPaused) return events;
    const int phases = static_cast<int>(plan_.phases.size());
    const int at = PhaseAt(Elapsed(now));
    for (; reported_ < std::min(at, phases - 1); ++reported_)
        events.push_back({MatchEvent::Kind::kPhaseBegan, reported_ + 1});
    if (at >= phases) {
        banked_ = Total();
        state_ = MatchState::kEnded;
        events.push_back({MatchEvent::Kind::kEnded, 0});
    }
    return events;
}

MatchTime MatchClock::Elapsed(MatchTime now) const {
    MatchTime elapsed = banked_;
    // A time before the last start (a clock the caller set back) adds nothing.
    if (state_ == MatchState::kRunning) elapsed += std::max(now - runningSince_, MatchTime{0});
    return std::min(elapsed, Total());
}

MatchTime MatchClock::Total() const {
    MatchTime total{0};
    for (const MatchPhase& p : plan_.phases) total += seconds(p.seconds);
    return total;
}

int MatchClock::PhaseAt(MatchTime elapsed) const {
    MatchTime end{0};
    for (std::size_t i = 0; i < plan_.phases.size(); ++i) {
        end += seconds(plan_.phases[i].seconds);
        if (elapsed < end) return static_cast<int>(i);
    }
    return static_cast<int>(plan_.phases.size());
}

std::int64_t MatchClock::TimeLeftMs(MatchTime now) const {
    if (state_ == MatchState::kEnded || state_ == MatchState::kAborted) return 0;
    const MatchTime elapsed = state_ == MatchState::kIdle ? MatchTime{0} : Elapsed(now);
    const int at = PhaseAt(elapsed);
    if (at >= static_cast<int>(plan_.phases.size())) return 0;
    MatchTime until = Total();
    if (!plan_.phases[static_cast<std::size_t>(at)].drives) {
        until = MatchTime{0};
        for (int i = 0; i <= at; ++i) until += seconds(plan_.phases[static_cast<std::size_t>(i)].seconds);
    }
    return (until - elapsed).count();
}

bool MatchClock::Drives(MatchTime now) const {
    if (state_ == MatchState::kPaused) return false;
    if (state_ != MatchState::kRunning) return true;
    const int at = PhaseAt(Elapsed(now));
    return at < static_cast<int>(plan_.phases.size()) && plan_.phases[static_cast<std::size_t>(at)].drives;
}

std::string MatchTimeText(std::int64_t ms) {
    const std::int64_t whole = ms <= 0 ? 0 : (ms + 999) / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(whole / 60),
                  static_cast<long long>(whole % 60));
    return text;
}

void MatchTally::Feed(const MatchSample& sample) {
    if (last_) {
        const MatchTime span = std::max(sample.now - last_->now, MatchTime{0});
        if (last_->connected && !last_->portLost && !last_->stopped && last_->drives) drive_ += span;
        if (last_->portLost) lost_ += span;
    }
    if (sample.stopped && !(last_ && last_->stopped)) ++stops_;
    if (sample.battery) lowest_ = lowest_ ? std::min(*lowest_, *sample.battery) : *sample.battery;
    last_ = sample;
}

std::string MatchSummaryText(const MatchTally& tally, Language language) {
    std::string text = UiText(Msg::kMatchSummary, language);
    text = Replace(std::move(text), "%1", tally.name());
    text = Replace(std::move(text), "%2", MatchTimeText(tally.driveTime().count()));
    const std::optional<int> lowest = tally.lowestBattery();
    text = Replace(std::move(text), "%3",
                   lowest ? std::to_string(*lowest) : std::string(UiText(Msg::kMatchNoBattery, language)));
    text = Replace(std::move(text), "%4", MatchTimeText(tally.portLostTime().count()));
    return Replace(std::move(text), "%5", std::to_string(tally.stops()));
}

std::string MatchRecordingName(const std::string& planName, const std::tm& start) {
    char when[128];
    std::snprintf(when, sizeof when, " %04d-%02d-%02d %02d-%02d-%02d.zsr", start.tm_year + 1900,
                  start.tm_mon + 1, start.tm_mday, start.tm_hour, start.tm_min, start.tm_sec);
    std::string name = planName;
    for (char& c : name)
        if (!FitForFileName(static_cast<unsigned char>(c))) c = '_';
    // Not a hidden file, and never "." or "..".
    if (!name.empty() && name.front() == '.') name.front() = '_';
    if (name.empty()) name = "Match";
    return CutUtf8(name, kRecordingNameLimit - std::string_view(when).size()) + when;
}

}  // namespace zanth
