// Connect, Disconnect and the lost port found again.
#include "control/link_supervisor.h"

#include <algorithm>

#include "base/app_context.h"
#include "base/clock.h"
#include "control/log.h"
#include "link/background_open.h"
#include "link/port.h"

namespace zanth {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

LinkSupervisor::LinkSupervisor(const AppContext& app, LinkStatus& status, std::unique_ptr<LinkHandle> link,
                               std::unique_ptr<PortOpener> opener, OpenFn openPort,
                               std::unique_ptr<PortList> ports, MonitorModel& monitor, QObject* parent)
    : QObject(parent),
      app_(app),
      status_(status),
      link_(std::move(link)),
      opener_(std::move(opener)),
      openPort_(std::move(openPort)),
      ports_(std::move(ports)),
      monitor_(monitor) {
    if (openPort_) {
        openLink_ = [open = openPort_](const std::string& device, int, std::string* reason) {
            return open(device, reason);
        };
    } else {
        openPort_ = [](const std::string& device, std::string* reason) {
            return OpenLinkPort(device, -1, reason);
        };
        openLink_ = OpenLinkPort;
    }
    PortOpener::Outcomes outcomes;
    outcomes.opened = [this] { OnPortOpened(); };
    outcomes.gaveUp = [this](const QString& reason) { OnOpenGaveUp(reason); };
    outcomes.tryFailed = [this](const QString& reason) {
        if (status_.link == LinkState::kReconnecting) NotePort(PortWhat::kTry, reason.toStdString());
    };
    opener_->Listen(this, std::move(outcomes));
    connect(ports_.get(), &PortList::changed, this, &LinkSupervisor::portsChanged);
    // A device being reopened may be back: try now rather than at the next round.
    connect(ports_.get(), &PortList::touched, this, [this] {
        if (status_.link == LinkState::kReconnecting) opener_->TryNow();
    });
}

LinkSupervisor::~LinkSupervisor() {
    opener_->Cancel();
    ports_->StopWatching();
}

// ---- Connect and Disconnect

ConnectResult LinkSupervisor::Connect(int selection) {
    ConnectResult r;
    const std::vector<SerialDevice>& table = ports_->table();
    if (selection < 0 || selection >= static_cast<int>(table.size())) return r;
    const auto index = static_cast<std::size_t>(selection);
    r.port = ports_->Name(selection);
    // Plugged in a moment ago, before the list caught up.
    if (!table[index].present()) ports_->Refresh();
    const SerialDevice entry = ports_->table()[index];
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
        if (!opener_->Begin(r.device, openLink_, kReopenPeriodMs, 1, 0, &why)) {
            r.reason = app_.Tr(Msg::kLinkNotStarted) + (" (" + why + ")");
            return r;
        }
        status_.link = LinkState::kConnecting;
        status_.failure.reset();
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

bool LinkSupervisor::StartLink(std::unique_ptr<Port> port, std::string* why) {
    if (link_->Start(std::move(port), why)) return true;
    qCWarning(lcControl).noquote() << "link not started:" << Q(*why);
    return false;
}

void LinkSupervisor::Connected(int selection, const SerialDevice& entry) {
    ports_->NoteConnected(selection, entry);
    monitor_.SetPort(ports_->Name(selection));
    linkDevice_ = entry;
    status_.link = LinkState::kConnected;
    status_.failure.reset();
    quickFailures_ = 0;
    LinkOpened();
}

bool LinkSupervisor::linkRunning() const {
    return link_->IsRunning() &&
           (status_.link == LinkState::kConnected || status_.link == LinkState::kReconnecting);
}

// The reply timer starts with the port: a port that opens and says nothing is "No reply" a second later,
// however often it is reopened.
void LinkSupervisor::LinkOpened() {
    openedTick_ = TickCount();
    proof_.Opened(openedTick_, link_->Counts());
    emit linkOpened(openedTick_);
}

void LinkSupervisor::CancelTries() {
    opener_->Cancel();
}

void LinkSupervisor::StopLink(const ControllerFrame& finalFrame) {
    if (linkRunning()) link_->Stop(finalFrame);
}

void LinkSupervisor::Disconnect() {
    opener_->Cancel();
    if (status_.link == LinkState::kReconnecting)
        qCInfo(lcControl).noquote() << "disconnected; no more tries to reopen" << Q(linkDevice_.stableName);
    else
        qCInfo(lcControl) << "disconnected";
    status_.link = LinkState::kDisconnected;
    status_.failure.reset();
    quickFailures_ = 0;
}

// ---- Lost and found again

int LinkSupervisor::ReopenDelayMs(int quickFailures) {
    if (quickFailures <= 0) return 0;  // it had been working: it may be back at once
    if (quickFailures <= kQuickFailuresBeforeBackOff) return kReopenPeriodMs;
    const int doublings = std::min(quickFailures - kQuickFailuresBeforeBackOff, 8);
    return std::min(kReopenPeriodMs << doublings, kReopenSlowestMs);
}

void LinkSupervisor::OnLinkFailed(const LinkFailure& failure) {
    if (!linkRunning()) return;
    const std::uint32_t lived = TickCount() - openedTick_;
    const bool wasConnected = status_.link == LinkState::kConnected;
    // Nothing more can go out on a dead port; the link's thread ends and the port is closed, so that the
    // device, plugged in again, can be opened again.
    link_->Stop(std::nullopt);
    status_.failure = failure;
    emit linkDied(wasConnected);
    // A port that dies before it was proved, or that never answered and ended in garbage or a stall, was a
    // failed try: the next one keeps the rhythm of the tries and slows down with them, so that a bridge that
    // hangs up at once, floods garbage or takes nothing is not reopened in a tight loop.
    const bool failedTry = proof_.FailedTry(wasConnected, lived, failure.kind);
    quickFailures_ = failedTry ? quickFailures_ + 1 : 0;
    const std::string again = linkDevice_.stableName.empty() ? failure.device : linkDevice_.stableName;
    if (wasConnected) {
        lostTick_ = TickCount();
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

void LinkSupervisor::NotePort(PortWhat what, const std::string& reason) {
    if (what == PortWhat::kTry) ++triesSinceLost_;
    monitor_.OnPortEvent({what, LinkClockUs(), triesSinceLost_, reopening_, reason});
}

void LinkSupervisor::Reopen(const std::string& device, int delayMs) {
    reopening_ = device;
    const LinkState was = status_.link;
    std::string why;
    if (opener_->Begin(device, openLink_, kReopenPeriodMs, 0, delayMs, &why)) {
        status_.link = LinkState::kReconnecting;
        if (was != LinkState::kReconnecting)
            qCWarning(lcControl).noquote() << "reopening" << Q(device) << "about once a second";
    } else {
        status_.link = LinkState::kPortLost;
        qCWarning(lcControl).noquote() << "cannot try to reopen" << Q(device) << ":" << Q(why);
    }
}

void LinkSupervisor::OnPortOpened() {
    std::unique_ptr<Port> port = opener_->Take();
    const LinkState was = status_.link;
    if (port == nullptr || (was != LinkState::kConnecting && was != LinkState::kReconnecting)) return;
    std::string why;
    if (!StartLink(std::move(port), &why)) {
        status_.link = was == LinkState::kReconnecting ? LinkState::kPortLost : LinkState::kDisconnected;
        emit stateChanged();
        if (was == LinkState::kConnecting) {
            ConnectResult r{ConnectResult::Outcome::kFailed, ports_->Name(pendingSelection_),
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
void LinkSupervisor::ConfirmLink(bool replied) {
    if (replied) proof_.Answered();
    if (status_.link != LinkState::kReconnecting || !link_->IsRunning()) return;
    if (!proof_.Proved(TickCount(), link_->Counts(), quickFailures_)) return;
    qCWarning(lcControl).noquote() << "port back:" << Q(linkDevice_.stableName) << "after"
                                   << TickCount() - lostTick_ << "ms";
    NotePort(PortWhat::kBack, {});
    status_.link = LinkState::kConnected;
    status_.failure.reset();
    if (proof_.answered()) quickFailures_ = 0;
    emit stateChanged();
}

void LinkSupervisor::OnOpenGaveUp(const QString& reason) {
    if (status_.link != LinkState::kConnecting) return;
    ConnectResult r{ConnectResult::Outcome::kFailed, ports_->Name(pendingSelection_), linkDevice_.path,
                    reason.toStdString()};
    qCWarning(lcControl).noquote() << "connect" << Q(r.port) << "(" << Q(r.device) << ") failed:" << reason;
    status_.link = LinkState::kDisconnected;
    emit stateChanged();
    emit connectFailed(r);
}

}  // namespace zanth
