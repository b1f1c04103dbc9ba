// Connect, Disconnect, the lost port and the battery meter: the session's side of the link.
#include <algorithm>

#include "base/clock.h"
#include "control/log.h"
#include "control/session.h"
#include "input/devices.h"
#include "link/link_worker.h"
#include "link/port.h"
#include "link/ports.h"

namespace zanth {

ConnectResult ControlSession::ToggleConnection(int selection) {
    if (connected()) {
        Disconnect();
        ConnectResult r;
        r.outcome = ConnectResult::Outcome::kDisconnected;
        return r;
    }
    return Connect(selection);
}

std::string ControlSession::DeviceFor(int number, const std::vector<std::string>& devices) const {
    return ResolveComPort(number, ports_, devices);
}

std::vector<std::string> ControlSession::PortDevices() const {
    const std::vector<std::string> devices = listDevices_();
    std::vector<std::string> out;
    for (int n = 1; n <= kPortCount; ++n) out.push_back(DeviceFor(n, devices));
    return out;
}

ConnectResult ControlSession::Connect(int selection) {
    ConnectResult r;
    if (selection < 0 || selection >= kPortCount) return r;
    r.port = "COM" + std::to_string(selection + 1);
    r.device = DeviceFor(selection + 1, listDevices_());
    r.outcome = ConnectResult::Outcome::kFailed;
    if (r.device.empty()) {
        r.reason = app_.Tr(Msg::kNoDeviceForPort);
        qCWarning(lcControl).noquote() << "connect" << QString::fromStdString(r.port) << "failed: no device";
        return r;
    }
    std::unique_ptr<Port> port = openPort_(r.device, &r.reason);
    if (port == nullptr) {
        qCWarning(lcControl).noquote()
            << "connect" << QString::fromStdString(r.port) << "(" << QString::fromStdString(r.device)
            << ") failed:" << QString::fromStdString(r.reason);
        return r;
    }
    std::string why;
    if (!link_->Start(std::move(port), &why)) {
        r.reason = app_.Tr(Msg::kLinkNotStarted);
        if (!why.empty()) r.reason += " (" + why + ")";
        qCWarning(lcControl).noquote() << "link not started:" << QString::fromStdString(why);
        return r;
    }
    r.outcome = ConnectResult::Outcome::kConnected;
    comPortIndex_ = selection;
    state_.link = LinkState::kConnected;
    state_.failure.reset();
    lastReplyTick_ = TickCount();
    state_.meterStale = false;
    qCInfo(lcControl).noquote() << "connected" << QString::fromStdString(r.port) << "to"
                                << QString::fromStdString(r.device);
    return r;
}

void ControlSession::Disconnect() {
    // Leave the robot with nothing pressed before the port closes.
    link_->Stop(NeutralFrame(model_.ledItem().latched != 0));
    state_.link = LinkState::kDisconnected;
    ClearMeter();
    qCInfo(lcControl) << "disconnected";
}

void ControlSession::ClearMeter() {
    state_.meterValue = 0;
    state_.meterStale = false;
}

void ControlSession::UpdateStale() {
    state_.meterStale =
        connected() && lastInputs_.batteryDisplay &&
        static_cast<std::int32_t>(TickCount() - lastReplyTick_) > static_cast<std::int32_t>(kNoReplyMs);
}

void ControlSession::OnBatteryReply(int value) {
    if (!connected() || !lastInputs_.batteryDisplay) return;
    state_.meterColour = BatteryColour(value);
    state_.meterValue = std::clamp(value, kMeterMin, kMeterMax);
    lastReplyTick_ = TickCount();
    UpdateStale();
    emit stateChanged();
}

void ControlSession::OnLinkFailed(const LinkFailure& failure) {
    if (!connected()) return;
    qCWarning(lcControl).noquote() << "port lost:" << QString::fromStdString(failure.device)
                                   << KindName(failure.kind) << QString::fromStdString(failure.detail);
    // Nothing more can go out on a dead port; the link's thread ends and the port is closed.
    link_->Stop(std::nullopt);
    state_.link = LinkState::kPortLost;
    state_.failure = failure;
    ClearMeter();
    emit stateChanged();
}

SaveResult ControlSession::Close(const std::string& settingsPath) {
    if (!closed_) {
        closed_ = true;
        gamepad_->Shutdown();
        keyboard_->Shutdown();
        if (connected()) Disconnect();
    }
    // The model holds defaults, not what the unreadable file says: saving would replace the user's settings.
    if (!readError_.empty())
        return SaveResult{false, readError_ + "; the file was not read at start, so it was left unchanged"};
    return SaveSettings(settingsPath, model_, comPortIndex_);
}

}  // namespace zanth
