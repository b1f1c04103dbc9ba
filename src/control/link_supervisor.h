#pragma once
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "control/link_proof.h"
#include "control/monitor_model.h"
#include "control/port_list.h"
#include "link/frame.h"
#include "link/link_failure.h"

namespace zanth {

class AppContext;
class Port;

// kConnecting: a network bridge is being reached (off the GUI thread). kReconnecting: the port was lost and
// is reopened about once a second until it is back or the user disconnects. kPortLost: lost, and no
// reopening could be started.
enum class LinkState { kDisconnected, kConnected, kPortLost, kConnecting, kReconnecting };

// The link's part of what the window shows.
struct LinkStatus {
    LinkState link = LinkState::kDisconnected;
    std::optional<LinkFailure> failure;  // why the port was lost (kPortLost, kReconnecting)

    // Connect was pressed and Disconnect was not: the button offers Disconnect.
    bool engaged() const {
        return link == LinkState::kConnected || link == LinkState::kConnecting ||
               link == LinkState::kReconnecting;
    }
    // The two settings dialogs change what the link sends, so they stay shut while it runs or may run again.
    bool settingsEnabled() const { return !engaged(); }
};

struct ConnectResult {
    // kConnecting: a network bridge is being reached; connectFailed() or stateChanged() tells how it ended.
    enum class Outcome { kIgnored, kConnected, kDisconnected, kFailed, kConnecting };
    Outcome outcome = Outcome::kIgnored;
    std::string port;    // "COM3"
    std::string device;  // what it stands for; empty when none
    std::string reason;  // kFailed: why, in the active language where the system gives no text
};

// The link thread as the supervisor drives it (LinkWorker in the program). Its failures come back through
// LinkSupervisor::OnLinkFailed, its replies through ConfirmLink(true).
class LinkHandle {
  public:
    virtual ~LinkHandle() = default;
    virtual bool Start(std::unique_ptr<Port> port, std::string* why) = 0;
    virtual void Stop(std::optional<ControllerFrame> finalFrame) = 0;
    virtual bool IsRunning() const = 0;
    virtual LinkProof::Counts Counts() const = 0;
};

// Opens ports off the GUI thread and tries again until one opens (BackgroundOpener in the program). Every
// call and every outcome belongs to the GUI thread; an outcome is always of the try under way.
class PortOpener {
  public:
    using OpenFn = std::function<std::unique_ptr<Port>(const std::string& device, int wakeFd, std::string*)>;
    struct Outcomes {
        std::function<void()> opened;
        std::function<void(const QString&)> gaveUp;
        std::function<void(const QString&)> tryFailed;  // and another try follows
    };
    virtual ~PortOpener() = default;
    virtual void Listen(QObject* context, Outcomes outcomes) = 0;
    // Tries after `delayMs`, then every `periodMs`, until one opens or `tries` failed (0: no limit).
    virtual bool Begin(const std::string& device, OpenFn open, int periodMs, int tries, int delayMs,
                       std::string* why) = 0;
    virtual void TryNow() = 0;
    virtual void Cancel() = 0;
    virtual std::unique_ptr<Port> Take() = 0;
};

// Connect and Disconnect, the port lost and reopened with its back-off until it proves itself back, and the
// port list. It keeps `status` (the session's state) current and says so with stateChanged() between ticks.
class LinkSupervisor : public QObject {
    Q_OBJECT
  public:
    static constexpr int kPortCount = PortList::kPortCount;
    // A lost port is tried again this often: a little under a second, so that a device back just after a
    // try is open again within a second.
    static constexpr int kReopenPeriodMs = 900;
    // What proves a reopened port back, and which links were failed tries: LinkProof.
    // After this many failed tries in a row the tries slow down, up to kReopenSlowestMs apart.
    static constexpr int kQuickFailuresBeforeBackOff = 3;
    static constexpr int kReopenSlowestMs = 4000;
    // How long after a reopened link died the next try may start, after `quickFailures` such deaths in a row.
    static int ReopenDelayMs(int quickFailures);

    using OpenFn = std::function<std::unique_ptr<Port>(const std::string& device, std::string* reason)>;
    // `openPort` opens what a serial entry of the list stands for, on the GUI thread (empty: the serial
    // port); the opener's tries run it too.
    LinkSupervisor(const AppContext& app, LinkStatus& status, std::unique_ptr<LinkHandle> link,
                   std::unique_ptr<PortOpener> opener, OpenFn openPort, std::unique_ptr<PortList> ports,
                   MonitorModel& monitor, QObject* parent = nullptr);
    ~LinkSupervisor() override;

    PortList& ports() { return *ports_; }
    const PortList& ports() const { return *ports_; }
    bool connected() const { return status_.link == LinkState::kConnected; }
    // The link runs on an open port: connected, or a reopened port not yet proved.
    bool linkRunning() const;

    ConnectResult Connect(int selection);
    // Ends the tries to open or reopen at once, a network connect under way included.
    void CancelTries();
    // The link, when it runs, sends `finalFrame` last and closes the port.
    void StopLink(const ControllerFrame& finalFrame);
    // The tries end and the state is kDisconnected.
    void Disconnect();
    void OnLinkFailed(const LinkFailure& failure);
    // A tick (`replied`: false) or a valid battery reply: a reopened port may have proved itself back.
    void ConfirmLink(bool replied);

  signals:
    void stateChanged();
    void portsChanged();
    // A connect that went on off the GUI thread (a network bridge) failed; the state is kDisconnected.
    void connectFailed(const zanth::ConnectResult& result);
    // A port opened under the link; the robot has had no chance to answer yet.
    void linkOpened(std::uint32_t at);
    // The link ended on a dead port (`wasConnected`: it had been proved, and is lost now).
    void linkDied(bool wasConnected);

  private:
    bool StartLink(std::unique_ptr<Port> port, std::string* why);
    void Connected(int selection, const SerialDevice& entry);
    void LinkOpened();
    void Reopen(const std::string& device, int delayMs);
    using PortWhat = MonitorModel::PortEvent::What;
    // A row of the monitor about the lost port: its loss, a try that failed, its return.
    void NotePort(PortWhat what, const std::string& reason);
    void OnPortOpened();
    void OnOpenGaveUp(const QString& reason);

    const AppContext& app_;
    LinkStatus& status_;
    std::unique_ptr<LinkHandle> link_;
    std::unique_ptr<PortOpener> opener_;
    OpenFn openPort_;
    // The same off the GUI thread, woken when the tries end.
    PortOpener::OpenFn openLink_;
    std::unique_ptr<PortList> ports_;
    MonitorModel& monitor_;
    SerialDevice linkDevice_;    // what the link opened; reopened by its stable name
    int pendingSelection_ = -1;  // kConnecting: the entry being connected
    std::uint32_t lostTick_ = 0;
    std::uint32_t openedTick_ = 0;  // when the running link's port opened
    LinkProof proof_;               // what the running link has shown since then
    std::string reopening_;         // what the tries to reopen a lost port open
    int triesSinceLost_ = 0;
    int quickFailures_ = 0;  // failed tries in a row (LinkProof::FailedTry)
};

}  // namespace zanth
