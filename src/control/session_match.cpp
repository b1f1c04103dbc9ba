// The practice match: its clock ticks with the session, its phases sound, its end stops the robot, and the
// drive is recorded and summed up in the monitor.
#include <QDir>
#include <ctime>

#include "base/paths.h"
#include "control/link_traffic.h"
#include "control/log.h"
#include "control/session.h"
#include "link/link_worker.h"
#include "sound/sound_output.h"

namespace zanth {
namespace {

MatchTime MatchNow() {
    return std::chrono::duration_cast<MatchTime>(std::chrono::steady_clock::now().time_since_epoch());
}

bool Under(MatchState state) {
    return state == MatchState::kRunning || state == MatchState::kPaused;
}

}  // namespace

bool ControlSession::StartMatch(const MatchPlan& plan) {
    if (Under(match_.state())) return false;
    SetMatchPlan(plan);
    // The end of the last match stopped the robot as planned: the next one starts it again.
    if (state_.stop && state_.stop->by == StopBy::kMatchEnd) ReleaseStop();
    if (!match_.Start(MatchNow())) return false;
    tally_.emplace(match_.plan().name);
    qCInfo(lcControl).noquote() << "match started:" << QString::fromStdString(match_.plan().name);
    RecordMatch();
    MatchTick();
    return true;
}

std::int64_t ControlSession::MatchTimeLeftMs() const {
    return match_.TimeLeftMs(MatchNow());
}

void ControlSession::SetMatchPlan(const MatchPlan& plan) {
    if (match_.SetPlan(plan)) matchPlan_ = match_.plan();
}

// The drive of a match goes to a file named after it, beside the other recordings; one the user started by
// hand goes on as it is.
void ControlSession::RecordMatch() {
    if (!linkRunning() || traffic_->recording()) return;
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    MakeFolders(app_.dataFolder);
    const std::string path =
        QDir(QString::fromStdString(app_.dataFolder))
            .filePath(QString::fromStdString(MatchRecordingName(match_.plan().name, local)))
            .toStdString();
    const SessionHeader header{ProgramVersion(), "COM" + std::to_string(comPortIndex() + 1),
                               traffic_->monitor().device()};
    std::string error;
    matchRecording_ = traffic_->StartRecording(path, header, &error);
    if (!matchRecording_)
        qCWarning(lcControl).noquote() << "the match is not recorded:" << QString::fromStdString(error);
}

bool ControlSession::PauseMatch() {
    const bool done =
        match_.state() == MatchState::kRunning ? match_.Pause(MatchNow()) : match_.Resume(MatchNow());
    if (done) MatchTick();
    return done;
}

bool ControlSession::AbortMatch() {
    if (!match_.Abort(MatchNow())) return false;
    EndMatch();
    return true;
}

void ControlSession::EndMatch() {
    if (matchRecording_) {
        std::string error;
        if (!traffic_->StopRecording(&error))
            qCWarning(lcControl).noquote() << "the match's recording:" << QString::fromStdString(error);
        matchRecording_ = false;
    }
    if (tally_) {
        const std::string summary = MatchSummaryText(*tally_, app_.language);
        qCInfo(lcControl).noquote() << QString::fromStdString(summary);
        traffic_->NoteMatch(summary);
    }
    tally_.reset();
    MatchTick();
}

// Once per control tick while a match is under way, and at each change of it.
void ControlSession::MatchTick() {
    const MatchTime now = MatchNow();
    // The span since the last tick counts as what it was: fed before the events change it.
    if (tally_) {
        MatchSample sample;
        sample.now = now;
        sample.connected = connected();
        sample.portLost = state_.link == LinkState::kPortLost || state_.link == LinkState::kReconnecting;
        if (state_.meterValue != 0 && !state_.meterStale) sample.battery = traffic_->lastLevel();
        sample.stopped = state_.stop.has_value() || !state_.enabled;
        sample.drives = match_.Drives(now);
        tally_->Feed(sample);
    }
    for (const MatchEvent& e : match_.Advance(now)) {
        if (e.kind == MatchEvent::Kind::kEnded) {
            qCInfo(lcControl) << "match ended";
            EmergencyStop(StopBy::kMatchEnd);
            EndMatch();
            return;
        }
        PlayPhaseSound(e.phase);
    }
    const int phase = match_.phase();
    const auto& phases = match_.plan().phases;
    state_.matchState = match_.state();
    state_.matchPhase =
        phase >= 0 && phase < static_cast<int>(phases.size()) ? phases[phase].name : std::string();
    state_.matchTime = Under(match_.state()) ? MatchTimeText(match_.TimeLeftMs(now)) : std::string();
    state_.matchLeftMs = match_.TimeLeftMs(now);
    state_.matchHolds = Under(match_.state()) && !match_.Drives(now);
    PublishDrive();
}

// A phase begins with its sound, through the program's own sound effects (a stall that skipped phases plays
// only the one the match is in).
void ControlSession::PlayPhaseSound(int phase) {
    const auto& phases = match_.plan().phases;
    if (phase < 0 || phase >= static_cast<int>(phases.size())) return;
    const int row = phases[static_cast<std::size_t>(phase)].sound;
    if (row < 0 || row >= model_.soundEffectCount || phase != match_.phase()) return;
    const std::string& file = model_.soundEffects[static_cast<std::size_t>(row)].file;
    if (!file.empty()) sound_->Start(file);
}

}  // namespace zanth
