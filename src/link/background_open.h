#pragma once
#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "link/port.h"
#include "link/worker_thread.h"

namespace zanth {

// How long a connect to a network bridge may take, name lookup included.
inline constexpr int kTcpConnectMs = 3000;

// Opens what a port of the list names: "tcp://host:port" as a network bridge, the simulated robot by
// starting the bundled simulator, anything else as a serial device. A network connect ends early, failing,
// when `wakeFd` (-1: none) becomes readable.
std::unique_ptr<Port> OpenLinkPort(const std::string& device, int wakeFd, std::string* reason);

// Opens a port on a thread of its own, and tries again until it opens, so that the GUI thread never waits
// on a device that is not there or a network that does not answer. Every call belongs to the thread that
// owns the object, and so do the signals: each one is for the try under way, never for one cancelled or
// replaced before its result came.
class BackgroundOpener : public QObject {
    Q_OBJECT
  public:
    using OpenFn = std::function<std::unique_ptr<Port>(const std::string& device, int wakeFd, std::string*)>;

    explicit BackgroundOpener(QObject* parent = nullptr);
    ~BackgroundOpener() override;
    BackgroundOpener(const BackgroundOpener&) = delete;
    BackgroundOpener& operator=(const BackgroundOpener&) = delete;

    // Cancels what runs, then tries `open(device)`: after `delayMs` (or a nudge), then `periodMs` after each
    // try began, until a try succeeds (opened()), `tries` tries have failed (gaveUp(); 0 = no limit) or
    // Cancel. False with `reason` when the thread cannot be made.
    bool Begin(std::string device, OpenFn open, int periodMs, int tries, std::string* reason = nullptr,
               int delayMs = 0);
    // Something suggests the device is back (it appeared in /dev): the next try starts now.
    void TryNow();
    // Ends the tries; a try under way is woken (a network connect ends at once) and a port opened meanwhile
    // is closed. Safe when nothing runs.
    void Cancel();
    // The port that opened, once opened() was sent; null before, and after Cancel.
    std::unique_ptr<Port> Take();
    // Tries made since the last Begin (for tests and the log).
    int tries() const { return tries_.load(); }

    enum class Outcome { kOpened, kFailed, kGaveUp };
    Q_ENUM(Outcome)

  signals:
    void opened();
    void gaveUp(QString reason);
    // A try failed and another follows.
    void tryFailed(QString reason);
    // From the opening thread: what a try of the Begin numbered `generation` came to.
    void tried(quint64 generation, zanth::BackgroundOpener::Outcome outcome, QString reason, QPrivateSignal);

  private:
    void Run(std::string device, OpenFn open, int periodMs, int tries, int delayMs, quint64 generation);
    // Asleep until `due`, a nudge or the end; false at the end.
    bool Sleep(std::chrono::steady_clock::time_point due);
    // On the owner's thread: the public signal of a try of the current Begin.
    void OnTried(quint64 generation, Outcome outcome, const QString& reason);
    void Report(quint64 generation, Outcome outcome, const std::string& reason);

    WorkerThread thread_;  // its wake-up descriptor ends the tries
    int nudgeFd_ = -1;
    quint64 generation_ = 0;  // owner's thread only: the Begin whose results count
    std::atomic<int> tries_{0};
    std::mutex mutex_;  // guards port_
    std::unique_ptr<Port> port_;
};

}  // namespace zanth
