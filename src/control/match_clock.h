#pragma once
// The practice match's clock and what it counts: plain C++, on the times the caller passes in (milliseconds
// of a steady clock), so that it never reads a clock of its own and a test can drive it.
#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "base/ui_text.h"
#include "model/match_plan.h"

namespace zanth {

using MatchTime = std::chrono::milliseconds;

struct MatchEvent {
    enum class Kind { kPhaseBegan, kEnded };
    Kind kind = Kind::kPhaseBegan;
    int phase = 0;  // kPhaseBegan: the phase's index in the plan
    bool operator==(const MatchEvent&) const = default;
};

enum class MatchState { kIdle, kRunning, kPaused, kEnded, kAborted };

// Runs a plan's phases one after another. Pausing stops the time; the robot is held neutral meanwhile
// (Drives is false), as in a countdown, so that a paused match cannot be driven on. Once the match has
// ended or was aborted the clock holds nothing back any more: the end stops the robot by the stop.
class MatchClock {
  public:
    explicit MatchClock(MatchPlan plan = MatchPlan::Default());

    // The plan of the next Start; refused (false) while a match runs or is paused. Made sane (SanePlan).
    bool SetPlan(MatchPlan plan);
    const MatchPlan& plan() const { return plan_; }

    // Starts the plan from its first phase (also after an end or an abort); false while one runs or is
    // paused. The first phase's beginning is the first event Advance returns.
    bool Start(MatchTime now);
    bool Pause(MatchTime now);
    bool Resume(MatchTime now);
    // Ends a running or paused match at once, without the end's event: the caller asked for it.
    bool Abort(MatchTime now);

    // What happened since the last call, in order: every phase that began (each one, also those a stall of
    // the caller skipped whole: a caller playing sounds plays only the last one's) and the end.
    std::vector<MatchEvent> Advance(MatchTime now);

    MatchState state() const { return state_; }
    // The phase the match is in by the last Advance; -1 before the first.
    int phase() const { return reported_; }
    // Time left, shown large: in a phase that drives, until the match ends; in one that does not (the
    // countdown), until that phase ends. Idle: as at the start; ended or aborted: 0.
    std::int64_t TimeLeftMs(MatchTime now) const;
    // Whether the clock lets the robot drive now: not in a phase that does not drive, not while paused,
    // and not past the end while Advance has not yet said so.
    bool Drives(MatchTime now) const;

  private:
    MatchTime Elapsed(MatchTime now) const;
    MatchTime Total() const;
    int PhaseAt(MatchTime elapsed) const;  // the phase index at `elapsed`; the count of phases at the end

    MatchPlan plan_;
    MatchState state_ = MatchState::kIdle;
    MatchTime banked_{0};        // time run before the last Resume (or Start)
    MatchTime runningSince_{0};  // when the clock last began to run
    int reported_ = -1;
};

// "1:59", "0:05": minutes and seconds, rounded up, so that it shows 0:00 only when no time is left.
std::string MatchTimeText(std::int64_t ms);

// One sample of the session per tick while a match runs.
struct MatchSample {
    MatchTime now{0};
    bool connected = false;
    bool portLost = false;
    std::optional<int> battery;  // the level of a reply that came, as the robot said it
    bool stopped = false;        // the emergency stop (or disabled) holds the robot
    bool drives = true;          // the clock lets it drive (MatchClock::Drives)
};

// What the summary line says of a match. Each span between two samples counts as the state of the first.
class MatchTally {
  public:
    explicit MatchTally(std::string matchName = {}) : name_(std::move(matchName)) {}
    void Feed(const MatchSample& sample);

    const std::string& name() const { return name_; }
    // Connected, the port not lost, not stopped and in a phase that drives.
    MatchTime driveTime() const { return drive_; }
    MatchTime portLostTime() const { return lost_; }
    std::optional<int> lowestBattery() const { return lowest_; }
    int stops() const { return stops_; }  // times the robot went from not stopped to stopped

  private:
    std::string name_;
    std::optional<MatchSample> last_;
    MatchTime drive_{0};
    MatchTime lost_{0};
    std::optional<int> lowest_;
    int stops_ = 0;
};

// The Link Monitor's one line on a match, in `language`.
std::string MatchSummaryText(const MatchTally& tally, Language language);

// "Practice 2026-12-08 19-30-05.zsr": the recording of a match started at `start` (local time). Characters
// no file system takes ("/", "\\", ":", "*", "?", "\"", "<", ">", "|", control characters) become "_", and
// the match's name is cut so that the whole stays within 100 bytes; an empty name is "Match".
std::string MatchRecordingName(const std::string& planName, const std::tm& start);

}  // namespace zanth
