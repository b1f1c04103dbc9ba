// The session's side of the link: its supervisor tied in, Disconnect with what the session lets go of first,
// the battery meter, and the save at close.
#include <algorithm>
#include <filesystem>

#include "base/clock.h"
#include "control/devices_factory.h"
#include "control/input_mixer.h"
#include "control/link_traffic.h"
#include "control/log.h"
#include "control/session.h"
#include "input/devices.h"
#include "link/link_worker.h"
#include "sound/sound_output.h"

namespace zanth {

// ---- The link: its supervisor, Connect and Disconnect

void ControlSession::SetUpSupervisor(SessionParts& parts, const Settings& settings) {
    auto ports = std::make_unique<PortList>(app_, settings.ports, std::move(parts.listDevices),
                                            std::move(parts.deviceRoot), settings.port, settings.portDevice);
    supervisor_ = std::make_unique<LinkSupervisor>(
        app_, state_, MakeLinkHandle(*link_), parts.opener ? std::move(parts.opener) : MakePortOpener(),
        std::move(parts.openPort), std::move(ports), traffic_->monitor());
    connect(link_.get(), &LinkWorker::linkFailed, supervisor_.get(), &LinkSupervisor::OnLinkFailed);
    connect(supervisor_.get(), &LinkSupervisor::stateChanged, this, &ControlSession::stateChanged);
    connect(supervisor_.get(), &LinkSupervisor::portsChanged, this, &ControlSession::portsChanged);
    connect(supervisor_.get(), &LinkSupervisor::connectFailed, this, &ControlSession::connectFailed);
    // The reply timer starts with the port: a port that opens and says nothing is "No reply" a second
    // later, however often it is reopened.
    connect(supervisor_.get(), &LinkSupervisor::linkOpened, this, [this](std::uint32_t at) {
        meter_.Opened(at);
        ShowMeter();
    });
    connect(supervisor_.get(), &LinkSupervisor::linkDied, this, [this](bool wasConnected) {
        meter_.Clear();
        ShowMeter();
        if (wasConnected) portJustLost_ = true;
    });
}

ConnectResult ControlSession::ToggleConnection(int selection) {
    if (state_.engaged()) {
        Disconnect();
        ConnectResult r;
        r.outcome = ConnectResult::Outcome::kDisconnected;
        return r;
    }
    // A drive team that starts disabled does so at every connect: the robot on the line may be another.
    if (stopSettings_.startDisabled) SetEnabled(false);
    return supervisor_->Connect(selection);
}

void ControlSession::Disconnect() {
    // Tries to reopen end at once, a network connect under way included.
    supervisor_->CancelTries();
    // Remote clients let go too: after a new Connect they must press again.
    remote_->ReleaseAll(RemoteRelease::kDisconnect);
    InputMixer::LetGoOfRemote(model_);
    // Leave the robot with nothing pressed before the port closes.
    supervisor_->StopLink(NeutralFrame(model_.ledItem().latched != 0));
    // A recording ends here: the next Connect is another drive, perhaps of another robot.
    traffic_->EndWithLink();
    supervisor_->Disconnect();
    meter_.Clear();
    ShowMeter();
}

// ---- The battery meter

void ControlSession::ShowMeter() {
    state_.meterValue = meter_.value();
    state_.meterColour = meter_.colour();
    state_.meterStale = meter_.stale();
}

void ControlSession::OnBatteryReply(int value) {
    if (!linkRunning()) return;
    supervisor_->ConfirmLink(true);
    if (!connected() || !lastInputs_.batteryDisplay) return;
    meter_.Reply(value, TickCount());
    meter_.Update(TickCount(), true);
    ShowMeter();
    emit stateChanged();
}

SaveResult ControlSession::SaveCopy(const std::string& settingsPath, const std::string& path) const {
    const RemoteSettings* remote = remoteTouched_ ? &remoteSettings_ : nullptr;
    if (readError_.empty())
        return SaveSettingsAs(settingsPath, path, model_, comPortIndex(), rememberedDevice(), remote);
    // The unread file keeps what it holds, also when it is chosen as the copy's place.
    std::error_code ec;
    if (std::filesystem::equivalent(path, settingsPath, ec))
        return SaveResult{false, readError_ + "; the file was not read at start, so it was left unchanged"};
    return SaveSettingsAs({}, path, model_, comPortIndex(), rememberedDevice(), remote);
}

SaveResult ControlSession::Close(const std::string& settingsPath) {
    if (!closed_) {
        closed_ = true;
        // The robot is left with the neutral frame before anything else: stopping a thread or touching a
        // file may wait, and the robot must not wait with a press on it. Remote input is let go of first, so
        // that nothing a client says can reach the last frame.
        remote_->blockSignals(true);
        remote_->ReleaseAll();
        InputMixer::LetGoOfRemote(model_);
        gamepad_->Shutdown();
        keyboard_->Shutdown();
        if (state_.engaged()) Disconnect();
        StopRemoteForClose();
        supervisor_->ports().StopWatching();
    }
    // The model holds defaults, not what the unreadable file says: saving would replace the user's settings.
    const SaveResult saved =
        readError_.empty()
            ? SaveSettings(settingsPath, model_, comPortIndex(), rememberedDevice(),
                           remoteTouched_ ? &remoteSettings_ : nullptr, &stopSettings_, &matchPlan_)
            : SaveResult{false, readError_ + "; the file was not read at start, so it was left unchanged"};
    // Last: closing the sound may wait for a file being decoded, and the settings must not.
    sound_->Close();
    return saved;
}

}  // namespace zanth
