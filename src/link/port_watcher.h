#pragma once
#include <QObject>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "link/port_catalog.h"
#include "link/worker_thread.h"

namespace zanth {

// Keeps the list of what the ports open current while devices come and go. A thread of its own watches
// dev, dev/serial and dev/serial/by-id under `root` with inotify (where inotify is not to be had, it looks
// once a second) and, a moment after a change to a serial device there, builds the list anew with `scan`;
// the GUI thread never waits for a scan.
class PortWatcher : public QObject {
    Q_OBJECT
  public:
    using ScanFn = std::function<std::vector<SerialDevice>()>;
    // Changes are gathered this long before a scan: udev makes the node, then its links, a few ms apart.
    static constexpr int kSettleMs = 50;
    static constexpr int kFallbackPollMs = 1000;

    // `initial`: the list as the owner has it now; only a list that differs from the last one is reported.
    PortWatcher(std::string root, ScanFn scan, std::vector<SerialDevice> initial, QObject* parent = nullptr);
    ~PortWatcher() override;
    PortWatcher(const PortWatcher&) = delete;
    PortWatcher& operator=(const PortWatcher&) = delete;

    // False with `reason` when the thread cannot be made. Start and Stop belong to the owner's thread.
    bool Start(std::string* reason = nullptr);
    void Stop();
    // The newest list; any thread.
    std::vector<SerialDevice> Latest() const;

  signals:
    // Latest() now differs from the list reported before.
    void changed();
    // A serial device under dev was made, removed, renamed or given other permissions, whether or not the
    // list changed: a device being reopened may be there now.
    void touched();

  private:
    void Run();
    void Rescan(bool touchedByEvent);

    std::string root_;
    ScanFn scan_;
    WorkerThread thread_;       // its wake-up descriptor ends the watch
    mutable std::mutex mutex_;  // guards latest_
    std::vector<SerialDevice> latest_;
};

}  // namespace zanth
