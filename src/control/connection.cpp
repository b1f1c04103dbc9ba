// Connect, Disconnect, the lost port found again, the port list and the battery meter: the session's side
// of the link.
#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "base/clock.h"
#include "control/link_traffic.h"
#include "control/log.h"
#include "control/session.h"
#include "input/devices.h"
#include "link/background_open.h"
#include "link/link_worker.h"
#include "link/port.h"
#include "link/port_watcher.h"
#include "link/simulated_robot.h"
#include "sound/sound_output.h"

namespace zanth {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

LinkProof::Counts CountsOf(const LinkWorker& link) {
    return {link.MessagesLeft(), link.GarbageTurns()};
}

// COM1..COM48, then the simulated robot when its program is installed.
std::vector<SerialDevice> WithSimulator(std::vector<SerialDevice> table) {
    if (const std::string program = FindRobotSimulator(); !program.empty())
        table.push_back(SimulatedRobotEntry(program));
    return table;
}

// The entry's name in the log and the link monitor: "COM3", or the simulator's.
std::string PortName(const std::vector<SerialDevice>& table, int selection) {
    const auto i = static_cast<std::size_t>(selection);
    if (i < table.size() && table[i].kind == SerialDevice::Kind::kSimulated) return table[i].name;
    return "COM" + std::to_string(selection + 1);
}

}  // namespace

// ---- The port list

void ControlSession::SetUpPorts(std::string root) {
    if (root.empty()) {
        if (const char* env = std::getenv("ZANTH_DEVICE_ROOT"); env != nullptr) root = env;
    }
    deviceRoot_ = root.empty() ? "/" : root;
    SetRobotSimulatorLog(app_.dataFolder.empty() ? std::string() : app_.dataFolder + "/" + kRobotSimLogName);
    table_ = ScanPorts();
    if (listDevices_) return;  // the caller's own list: nothing to watch
    watcher_ = std::make_unique<PortWatcher>(
        deviceRoot_,
        [root = deviceRoot_, ports = ports_] {
            return WithSimulator(BuildPortTable(kPortCount, ports, ScanSerialDevices(root)));
        },
        table_);
    connect(watcher_.get(), &PortWatcher::changed, this, &ControlSession::OnPortsChanged);
    // A device being reopened may be back: try now rather than at the next round.
    connect(watcher_.get(), &PortWatcher::touched, this, [this] {
        if (state_.link == LinkState::kReconnecting) opener_->TryNow();
    });
    std::string why;
    if (!watcher_->Start(&why))
        qCWarning(lcControl).noquote() << "the port list will not follow devices:" << Q(why);
}

std::vector<SerialDevice> ControlSession::ScanPorts() const {
    if (!listDevices_)
        return WithSimulator(BuildPortTable(kPortCount, ports_, ScanSerialDevices(deviceRoot_)));
    std::vector<SerialDevice> devices;
    for (const std::string& path : listDevices_()) {
        SerialDevice d;
        d.path = d.stableName = d.realPath = path;
        devices.push_back(d);
    }
    return WithSimulator(BuildPortTable(kPortCount, ports_, devices));
}

void ControlSession::RefreshPorts() {
    std::vector<SerialDevice> now = ScanPorts();
    if (now == table_) return;
    table_ = std::move(now);
    emit portsChanged();
}

void ControlSession::OnPortsChanged() {
    table_ = watcher_->Latest();
    emit portsChanged();
}

std::vector<std::string> ControlSession::PortDevices() const {
    std::vector<std::string> out;
    for (const SerialDevice& d : table_) out.push_back(d.path);
    return out;
}

std::vector<std::string> ControlSession::PortLabels() const {
    auto what = [this](const SerialDevice& d) -> std::string {
        using Kind = SerialDevice::Kind;
        if (d.kind == Kind::kBluetooth) return d.product.empty() ? "Bluetooth" : "Bluetooth " + d.product;
        if (!d.product.empty()) return d.product;
        switch (d.kind) {
            case Kind::kUsb:
                return app_.Tr(Msg::kPortUsbSerial);
            case Kind::kBuiltIn:
                return app_.Tr(Msg::kPortBuiltIn);
            case Kind::kNetwork:
                return "TCP";
            default:
                return {};
        }
    };
    std::vector<std::string> labels;
    for (std::size_t i = 0; i < table_.size(); ++i) {
        const SerialDevice& d = table_[i];
        if (d.kind == SerialDevice::Kind::kSimulated) {
            labels.push_back(app_.Tr(Msg::kPortSimulatedRobot));
            continue;
        }
        std::string label = "COM" + std::to_string(i + 1);
        if (d.present()) {
            std::string kind = what(d);
            // Two adapters of one make read alike: their serial numbers tell them apart.
            const bool twin = std::count_if(table_.begin(), table_.end(), [&](const SerialDevice& o) {
                                  return o.present() && what(o) == kind && !o.serialNumber.empty();
                              }) > 1;
            if (twin && !d.serialNumber.empty()) kind += " " + d.serialNumber;
            const std::string& name = d.name.empty() ? d.path : d.name;
            label += kind.empty() ? " \u2014 " + name : " \u2014 " + kind + " (" + name + ")";
        }
        labels.push_back(label);
    }
    return labels;
}

int ControlSession::PortSelection(int current) const {
    const int preferred = FindStableName(table_, preferred_);
    if (preferred >= 0) return preferred;
    if (current >= 0 && current < static_cast<int>(table_.size())) return current;
    return comPortIndex_ >= 0 && comPortIndex_ < kPortCount ? comPortIndex_ : -1;
}

void ControlSession::NotePortChoice(int index) {
    const bool known = index >= 0 && index < static_cast<int>(table_.size());
    preferred_ = known ? table_[static_cast<std::size_t>(index)].stableName : std::string();
}

// ---- Connect and Disconnect

ConnectResult ControlSession::ToggleConnection(int selection) {
    if (state_.engaged()) {
        Disconnect();
        ConnectResult r;
        r.outcome = ConnectResult::Outcome::kDisconnected;
        return r;
    }
    return Connect(selection);
}

ConnectResult ControlSession::Connect(int selection) {
    ConnectResult r;
    if (selection < 0 || selection >= static_cast<int>(table_.size())) return r;
    const auto index = static_cast<std::size_t>(selection);
    r.port = PortName(table_, selection);
    // Plugged in a moment ago, before the list caught up.
    if (!table_[index].present()) RefreshPorts();
    const SerialDevice entry = table_[index];
    r.device = entry.path;
    r.outcome = ConnectResult::Outcome::kFailed;
    if (r.device.empty()) {
        r.reason = app_.Tr(Msg::kNoDeviceForPort);
        qCWarning(lcControl).noquote() << "connect" << Q(r.port) << "failed: no device";
        return r;
    }
    if (OpensInBackground(r.device)) {
        // Name lookup and connect, or the simulator's start, may take seconds: they run on a thread of
        // their own.
        std::string why;
        if (!opener_->Begin(r.device, openLink_, kReopenPeriodMs, 1, &why)) {
            r.reason = app_.Tr(Msg::kLinkNotStarted) + (" (" + why + ")");
            return r;
        }
        state_.link = LinkState::kConnecting;
        state_.failure.reset();
        pendingSelection_ = selection;
        linkDevice_ = entry;
        r.outcome = ConnectResult::Outcome::kConnecting;
        qCInfo(lcControl).noquote() << "connecting" << Q(r.port) << "to" << Q(r.device);
        return r;
    }
    std::unique_ptr<Port> port = openPort_(r.device, &r.reason);
    if (port == nullptr) {
        qCWarning(lcControl).noquote()
            << "connect" << Q(r.port) << "(" << Q(r.device) << ") failed:" << Q(r.reason);
        return r;
    }
    std::string why;
    if (!StartLink(std::move(port), &why)) {
        r.reason = app_.Tr(Msg::kLinkNotStarted);
        if (!why.empty()) r.reason += " (" + why + ")";
        return r;
    }
    r.outcome = ConnectResult::Outcome::kConnected;
    Connected(selection, entry);
    qCInfo(lcControl).noquote() << "connected" << Q(r.port) << "to" << Q(r.device);
    return r;
}

bool ControlSession::StartLink(std::unique_ptr<Port> port, std::string* why) {
    if (link_->Start(std::move(port), why)) return true;
    qCWarning(lcControl).noquote() << "link not started:" << Q(*why);
    return false;
}

void ControlSession::Connected(int selection, const SerialDevice& entry) {
    // PORT holds a COM index, as the Windows program's files do; an entry after COM48 lives on in
    // PORTDEVICE alone.
    if (selection < kPortCount) comPortIndex_ = selection;
    traffic_->monitor().SetPort(PortName(table_, selection));
    linkDevice_ = entry;
    // The next start selects whichever entry opens this device then.
    remembered_ = preferred_ = entry.stableName.empty() ? entry.path : entry.stableName;
    state_.link = LinkState::kConnected;
    state_.failure.reset();
    quickFailures_ = 0;
    LinkOpened();
}

bool ControlSession::linkRunning() const {
    return link_->IsRunning() &&
           (state_.link == LinkState::kConnected || state_.link == LinkState::kReconnecting);
}

// The reply timer starts with the port: a port that opens and says nothing is "No reply" a second later,
// however often it is reopened.
void ControlSession::LinkOpened() {
    openedTick_ = lastReplyTick_ = TickCount();
    proof_.Opened(openedTick_, CountsOf(*link_));
    state_.meterStale = false;
}

void ControlSession::Disconnect() {
    // Tries to reopen end at once, a network connect under way included.
    opener_->Cancel();
    // Remote clients let go too: after a new Connect they must press again.
    remote_->ReleaseAll(RemoteRelease::kDisconnect);
    FoldRemoteItems(model_, {}, true);
    // Leave the robot with nothing pressed before the port closes.
    if (linkRunning()) link_->Stop(NeutralFrame(model_.ledItem().latched != 0));
    // A recording ends here: the next Connect is another drive, perhaps of another robot.
    traffic_->EndWithLink();
    if (state_.link == LinkState::kReconnecting)
        qCInfo(lcControl).noquote() << "disconnected; no more tries to reopen" << Q(linkDevice_.stableName);
    else
        qCInfo(lcControl) << "disconnected";
    state_.link = LinkState::kDisconnected;
    state_.failure.reset();
    quickFailures_ = 0;
    ClearMeter();
}

// ---- Lost and found again

int ControlSession::ReopenDelayMs(int quickFailures) {
    if (quickFailures <= 0) return 0;  // it had been working: it may be back at once
    if (quickFailures <= kQuickFailuresBeforeBackOff) return kReopenPeriodMs;
    const int doublings = std::min(quickFailures - kQuickFailuresBeforeBackOff, 8);
    return std::min(kReopenPeriodMs << doublings, kReopenSlowestMs);
}

void ControlSession::OnLinkFailed(const LinkFailure& failure) {
    if (!linkRunning()) return;
    const std::uint32_t lived = TickCount() - openedTick_;
    const bool wasConnected = state_.link == LinkState::kConnected;
    // Nothing more can go out on a dead port; the link's thread ends and the port is closed, so that the
    // device, plugged in again, can be opened again.
    link_->Stop(std::nullopt);
    state_.failure = failure;
    ClearMeter();
    // A port that dies before it was proved, or that never answered and ended in garbage or a stall, was a
    // failed try: the next one keeps the rhythm of the tries and slows down with them, so that a bridge that
    // hangs up at once, floods garbage or takes nothing is not reopened in a tight loop.
    const bool failedTry = proof_.FailedTry(wasConnected, lived, failure.kind);
    quickFailures_ = failedTry ? quickFailures_ + 1 : 0;
    const std::string again = linkDevice_.stableName.empty() ? failure.device : linkDevice_.stableName;
    if (wasConnected) {
        lostTick_ = TickCount();
        portJustLost_ = true;
        triesSinceLost_ = 0;
        reopening_ = failure.device;
        NotePort(PortWhat::kLost, failure.detail);
        qCWarning(lcControl).noquote()
            << "port lost:" << Q(failure.device) << KindName(failure.kind) << Q(failure.detail);
    } else {
        NotePort(PortWhat::kTry, failure.detail);
        qCDebug(lcControl).noquote() << "reopened port failed again after" << lived
                                     << "ms:" << KindName(failure.kind) << Q(failure.detail);
    }
    // A quick failure keeps the rhythm from try to try; a try that held the port for a while waits after it.
    const int spent = lived < kLinkProvedMs ? static_cast<int>(lived) : 0;
    Reopen(again, std::max(0, ReopenDelayMs(quickFailures_) - spent));
    emit stateChanged();
}

void ControlSession::NotePort(PortWhat what, const std::string& reason) {
    if (what == PortWhat::kTry) ++triesSinceLost_;
    traffic_->monitor().OnPortEvent({what, LinkClockUs(), triesSinceLost_, reopening_, reason});
}

void ControlSession::Reopen(const std::string& device, int delayMs) {
    reopening_ = device;
    const LinkState was = state_.link;
    std::string why;
    if (opener_->Begin(device, openLink_, kReopenPeriodMs, 0, &why, delayMs)) {
        state_.link = LinkState::kReconnecting;
        if (was != LinkState::kReconnecting)
            qCWarning(lcControl).noquote() << "reopening" << Q(device) << "about once a second";
    } else {
        state_.link = LinkState::kPortLost;
        qCWarning(lcControl).noquote() << "cannot try to reopen" << Q(device) << ":" << Q(why);
    }
}

void ControlSession::OnPortOpened() {
    std::unique_ptr<Port> port = opener_->Take();
    const LinkState was = state_.link;
    if (port == nullptr || (was != LinkState::kConnecting && was != LinkState::kReconnecting)) return;
    std::string why;
    if (!StartLink(std::move(port), &why)) {
        state_.link = was == LinkState::kReconnecting ? LinkState::kPortLost : LinkState::kDisconnected;
        emit stateChanged();
        if (was == LinkState::kConnecting) {
            ConnectResult r{ConnectResult::Outcome::kFailed, PortName(table_, pendingSelection_),
                            linkDevice_.path, app_.Tr(Msg::kLinkNotStarted) + (" (" + why + ")")};
            emit connectFailed(r);
        }
        return;
    }
    if (was == LinkState::kConnecting) {
        Connected(pendingSelection_, linkDevice_);
        qCInfo(lcControl).noquote() << "connected to" << Q(linkDevice_.path);
        emit stateChanged();
        return;
    }
    // As after Connect: the link discards the first 500 ms, then keeps its rhythm. The state stays
    // "Reconnecting" until the port has proved itself (ConfirmLink).
    qCDebug(lcControl).noquote() << "reopened" << Q(linkDevice_.stableName) << "; waiting for it to hold";
    LinkOpened();
}

// A reopened port is back once the robot answered, or once messages have left it with no garbage coming back
// for a while (LinkProof). Failed tries in a row are counted on until a link ends well: a bridge that takes
// messages and stalls later must hold longer each time before silence proves it.
void ControlSession::ConfirmLink(bool replied) {
    if (replied) proof_.Answered();
    if (state_.link != LinkState::kReconnecting || !link_->IsRunning()) return;
    if (!proof_.Proved(TickCount(), CountsOf(*link_), quickFailures_)) return;
    qCWarning(lcControl).noquote() << "port back:" << Q(linkDevice_.stableName) << "after"
                                   << TickCount() - lostTick_ << "ms";
    NotePort(PortWhat::kBack, {});
    state_.link = LinkState::kConnected;
    state_.failure.reset();
    if (proof_.answered()) quickFailures_ = 0;
    emit stateChanged();
}

void ControlSession::OnOpenGaveUp(const QString& reason) {
    if (state_.link != LinkState::kConnecting) return;
    ConnectResult r{ConnectResult::Outcome::kFailed, PortName(table_, pendingSelection_), linkDevice_.path,
                    reason.toStdString()};
    qCWarning(lcControl).noquote() << "connect" << Q(r.port) << "(" << Q(r.device) << ") failed:" << reason;
    state_.link = LinkState::kDisconnected;
    emit stateChanged();
    emit connectFailed(r);
}

// ---- The battery meter

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
    if (!linkRunning()) return;
    ConfirmLink(true);
    if (!connected() || !lastInputs_.batteryDisplay) return;
    state_.meterColour = BatteryColour(value);
    state_.meterValue = std::clamp(value, kMeterMin, kMeterMax);
    lastReplyTick_ = TickCount();
    UpdateStale();
    emit stateChanged();
}

SaveResult ControlSession::SaveCopy(const std::string& settingsPath, const std::string& path) const {
    const RemoteSettings* remote = remoteTouched_ ? &remoteSettings_ : nullptr;
    if (readError_.empty())
        return SaveSettingsAs(settingsPath, path, model_, comPortIndex_, remembered_, remote);
    // The unread file keeps what it holds, also when it is chosen as the copy's place.
    std::error_code ec;
    if (std::filesystem::equivalent(path, settingsPath, ec))
        return SaveResult{false, readError_ + "; the file was not read at start, so it was left unchanged"};
    return SaveSettingsAs({}, path, model_, comPortIndex_, remembered_, remote);
}

SaveResult ControlSession::Close(const std::string& settingsPath) {
    if (!closed_) {
        closed_ = true;
        // The robot is left with the neutral frame before anything else: stopping a thread or touching a
        // file may wait, and the robot must not wait with a press on it. Remote input is let go of first, so
        // that nothing a client says can reach the last frame.
        remote_->blockSignals(true);
        remote_->ReleaseAll();
        FoldRemoteItems(model_, {}, true);
        gamepad_->Shutdown();
        keyboard_->Shutdown();
        if (state_.engaged()) Disconnect();
        StopRemoteForClose();
        if (watcher_) watcher_->Stop();
    }
    // The model holds defaults, not what the unreadable file says: saving would replace the user's settings.
    const SaveResult saved =
        readError_.empty()
            ? SaveSettings(settingsPath, model_, comPortIndex_, remembered_,
                           remoteTouched_ ? &remoteSettings_ : nullptr)
            : SaveResult{false, readError_ + "; the file was not read at start, so it was left unchanged"};
    // Last: closing the sound may wait for a file being decoded, and the settings must not.
    sound_->Close();
    return saved;
}

}  // namespace zanth
