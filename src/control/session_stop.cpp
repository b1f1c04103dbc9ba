// The emergency stop and enable: what the session does with the drive gate's rules.
#include <QMetaObject>
#include <cstdlib>

#include "control/input_mixer.h"
#include "control/link_traffic.h"
#include "control/log.h"
#include "control/session.h"
#include "input/devices.h"
#include "input/stop_key.h"
#include "link/link_worker.h"

namespace zanth {
namespace {

// A stick this far from its centre is held; closer is let go of (a pad's stick at rest may not read 128).
constexpr int kStickLetGo = 16;
// The gamepad's Back and Start, in the program's button numbering.
constexpr std::size_t kPadBack = 8;
constexpr std::size_t kPadStart = 9;

bool OffCentre(int value) {
    return std::abs(value - 128) > kStickLetGo;
}

}  // namespace

void ControlSession::SetUpStop(SessionParts& parts) {
    gate_ = std::make_unique<DriveGate>(stopSettings_.startDisabled);
    // A client may stop the robot; none may release it. The server's thread halts the link as it reads the
    // stop, as the stop key's thread does: a busy GUI thread does not delay it.
    remote_->SetStopHook([link = link_.get()] { link->StopNow(); });
    connect(remote_.get(), &RemoteServer::stopAsked, this,
            [this](quint64, const QString& name) { EmergencyStop(StopBy::kRemote, name.toStdString()); });
    if (!parts.stopKey) return;
    // The key's thread halts the link itself: the robot gets the neutral frame at its next message even
    // when the GUI thread is busy. The rest (the banner, the monitor, a played session) follows on the GUI
    // thread; a session gone meanwhile takes the queued call with it.
    stopKey_ = parts.stopKey([this] {
        link_->StopNow();
        QMetaObject::invokeMethod(
            this, [this] { EmergencyStop(StopBy::kKey); }, Qt::QueuedConnection);
    });
}

void ControlSession::EmergencyStop(StopBy by, const std::string& who) {
    link_->StopNow();
    const bool first = gate_->Stop(by, who, std::chrono::system_clock::now());
    state_.stop = gate_->stop();
    state_.driving = false;
    StopPlayback(PlayEnd::kStop);
    if (!first) return;
    qCWarning(lcControl).noquote() << "emergency stop by"
                                   << QString::fromStdString(StopperText(*state_.stop, Language::kEnglish));
    traffic_->NoteDrive(DriveNote::kStopped, StopperText(*state_.stop, app_.language));
    PublishDrive();
    emit stateChanged();
}

bool ControlSession::ReleaseStop() {
    if (!gate_->Release(ReleaseBy::kWindow)) return false;
    link_->ClearStop();  // Halt still holds the robot until every source has let go
    mixer_->ClearTaps();
    state_.stop.reset();
    qCInfo(lcControl) << "emergency stop released";
    traffic_->NoteDrive(DriveNote::kReleased, {});
    PublishDrive();
    emit stateChanged();
    return true;
}

void ControlSession::SetEnabled(bool on) {
    if (on == gate_->enabled()) return;
    gate_->SetEnabled(on);
    state_.enabled = on;
    mixer_->ClearTaps();
    if (!on) {
        state_.driving = false;
        link_->Halt(true);
        StopPlayback(PlayEnd::kStop);
    }
    traffic_->NoteDrive(on ? DriveNote::kEnabled : DriveNote::kDisabled, {});
    PublishDrive();
    emit stateChanged();
}

void ControlSession::StopKeyPressed() {
    // With the key grabbed for the whole desktop this event never comes: the grab's thread had it.
    EmergencyStop(StopBy::kKey);
}

void ControlSession::SetStopSettings(const StopSettings& settings) {
    const bool keyChanged = settings.key != stopSettings_.key;
    stopSettings_ = settings;
    if (keyChanged && stopKeyGrabbed_) {
        stopKey_->Release();
        stopKeyGrabbed_ = false;
    }
    GrabStopKey();
}

// The key is taken from other programs only while a robot is on the line.
void ControlSession::GrabStopKey() {
    const bool want = linkRunning();
    if (want == stopKeyGrabbed_) return;
    if (!want) {
        if (stopKey_) stopKey_->Release();
        stopKeyGrabbed_ = false;
        state_.stopKeyProblem.clear();
        return;
    }
    std::string reason = "no X server";
    stopKeyGrabbed_ = true;  // tried once per connection, not on every tick
    if (stopKey_ && stopKey_->Grab(stopSettings_.key, &reason)) {
        state_.stopKeyProblem.clear();
        return;
    }
    state_.stopKeyProblem = reason;
    qCWarning(lcControl).noquote() << "the stop key works only in the window:"
                                   << QString::fromStdString(reason);
}

Holding ControlSession::WhatSourcesHold() const {
    Holding h{};
    auto at = [&h](DriveSource s) -> bool& { return h[static_cast<std::size_t>(s)]; };
    for (int i = 0; i < kInputItemCount; ++i) {
        const ControllerItem& item = model_.item(i);
        at(DriveSource::kKeyboard) = at(DriveSource::kKeyboard) || item.keyDown != 0;
        at(DriveSource::kGamepad) = at(DriveSource::kGamepad) || item.padDown != 0;
        at(DriveSource::kMouse) = at(DriveSource::kMouse) || item.mouseDown != 0;
        at(DriveSource::kRemote) = at(DriveSource::kRemote) || item.remoteDown != 0;
    }
    // A device that cannot be read now (the window inactive, at the foreground level) is not seen letting
    // go: what it holds shows once it is read again, and must be let go of then.
    at(DriveSource::kKeyboard) = at(DriveSource::kKeyboard) || !state_.keyboardReadable;
    at(DriveSource::kGamepad) = at(DriveSource::kGamepad) || (model_.gamepadReady && !state_.gamepadReadable);
    at(DriveSource::kSticks) = OffCentre(model_.leftStickX) || OffCentre(model_.leftStickY) ||
                               OffCentre(model_.rightStickX) || OffCentre(model_.rightStickY);
    return h;
}

void ControlSession::GateTick(int ledBefore) {
    if (stopSettings_.padChord && model_.gamepadReady) {
        const auto& b = gamepad_->state.buttons;
        const bool chord = b[kPadBack] != 0 && b[kPadStart] != 0;
        if (chord && !chordHeld_) EmergencyStop(StopBy::kGamepad);
        chordHeld_ = chord;
    }
    const bool wasDriving = state_.driving;
    // A match's countdown or pause holds the robot too, without a stop to leave.
    const bool driving = gate_->Drives(WhatSourcesHold()) && !state_.matchHolds;
    // Nothing a source does while the robot is held changes it, the LED included.
    if (!wasDriving) model_.ledItem().latched = ledBefore;
    link_->Halt(!driving);
    if (!driving) {
        // A press made while the robot is held went nowhere: it must not come out as a tap once it drives
        // (the key that answers Release is one). A played session started meanwhile ends.
        mixer_->ClearTaps();
        StopPlayback(PlayEnd::kStop);
    }
    if (driving && !state_.driving) qCInfo(lcControl) << "driving again: every source let go";
    state_.driving = driving;
    state_.enabled = gate_->enabled();
    state_.letGo = gate_->waiting();
    GrabStopKey();
}

void ControlSession::PublishDrive() {
    RemoteDriveState drive;
    if (state_.stop) {
        drive.stopped = true;
        drive.stoppedBy = StopperText(*state_.stop, app_.language);
        drive.stoppedAt = StopTimeText(*state_.stop);
    }
    drive.enabled = gate_->enabled();
    drive.matchPhase = state_.matchTime.empty() ? std::string() : state_.matchPhase;
    drive.matchTime = state_.matchTime;
    remote_->SetDriveState(drive);
}

ControllerFrame ControlSession::Gated(const ControllerFrame& frame) const {
    return state_.driving ? frame : NeutralFrame(LedLit(frame));
}

}  // namespace zanth
