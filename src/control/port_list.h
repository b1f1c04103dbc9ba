#pragma once
#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/port_catalog.h"

namespace zanth {

class AppContext;
class PortWatcher;

// What COM1..COM48 (and the simulated robot after them) open, kept current as devices come and go, and
// which entry the list should select: the one that opens the device chosen last.
class PortList : public QObject {
    Q_OBJECT
  public:
    static constexpr int kPortCount = 48;

    // `ports`: [PORTS]. `listDevices`: the system's serial devices in COM order; empty = the scan of
    // `deviceRoot` (empty: $ZANTH_DEVICE_ROOT, else "/"), watched. `comPortIndex` and `remembered`: PORT and
    // PORTDEVICE as read.
    PortList(const AppContext& app, std::map<std::string, std::string> ports,
             std::function<std::vector<std::string>()> listDevices, std::string deviceRoot, int comPortIndex,
             std::string remembered, QObject* parent = nullptr);
    ~PortList() override;

    const std::vector<SerialDevice>& table() const { return table_; }
    std::vector<std::string> Devices() const;
    std::vector<std::string> Labels() const;
    int Selection(int current) const;
    void NoteChoice(int index);
    // The entry's name in the log and the link monitor: "COM3", or the simulator's.
    std::string Name(int selection) const;
    // Scans now (a device plugged in a moment ago, before the watcher caught up); changed() when it differs.
    void Refresh();
    // `entry` (entry `selection` of the list) was connected: saved as PORT and PORTDEVICE, and followed.
    void NoteConnected(int selection, const SerialDevice& entry);
    int comPortIndex() const { return comPortIndex_; }
    const std::string& remembered() const { return remembered_; }
    void StopWatching();

  signals:
    // table() changed.
    void changed();
    // Something happened to a serial device in /dev (it may be back).
    void touched();

  private:
    void Watch();
    std::vector<SerialDevice> Scan() const;

    const AppContext& app_;
    std::map<std::string, std::string> ports_;
    std::function<std::vector<std::string>()> listDevices_;
    std::string deviceRoot_;
    std::vector<SerialDevice> table_;
    std::unique_ptr<PortWatcher> watcher_;
    int comPortIndex_ = 0;
    std::string remembered_;  // saved as SYSTEM/PORTDEVICE
    std::string preferred_;   // the stable name of the device the list follows
};

}  // namespace zanth
