#pragma once
#include <map>
#include <string>
#include <vector>

namespace zanth {

// A device a port of the list opens, with what the system tells about it.
struct SerialDevice {
    enum class Kind {
        kUsb,        // a USB serial adapter or a board's own CDC-ACM port
        kBluetooth,  // an rfcomm port (HC-05, HC-06)
        kBuiltIn,    // a serial port of the machine (ttyS)
        kNetwork,    // a raw TCP bridge, "tcp://host:port"
        kOther,      // anything else named in [PORTS] (a pseudo-terminal, a link of the user's own)
        kSimulated,  // the bundled robot simulator, started at Connect
    };
    std::string path;  // what opening the port opens: a device, a link to one, or "tcp://host:port"
    std::string name;  // short name for people: "ttyUSB0", "host:23"; empty for kOther
    Kind kind = Kind::kOther;
    std::string product;       // USB product string, or the Bluetooth address; empty when none is known
    std::string manufacturer;  // USB manufacturer string
    std::string serialNumber;  // USB serial number
    std::string usbId;         // "0403:6001"
    // The name that keeps opening this device whatever order the system enumerates in: its link in
    // /dev/serial/by-id where it has one, else `path`.
    std::string stableName;
    std::string realPath;  // `path` with every link resolved, to recognise one device under two names

    bool present() const { return !path.empty(); }
    bool operator==(const SerialDevice&) const = default;
};

// The serial devices under `root` (the system: "/"; tests build a tree of their own with dev/ and sys/ in
// it), in the order that COM1, COM2, ... count them: ttyUSB, ttyACM, rfcomm, ttyS, numeric order in each
// group. Names and ids come from sys/class/tty, stable names from dev/serial/by-id.
std::vector<SerialDevice> ScanSerialDevices(const std::string& root);

// What COM1..COM<count> open: a non-empty entry "COM<n>" of `ports` (section PORTS of the settings, keys
// upper-case) names the device itself (described from `devices` when it is one of them, also through a
// link), else the n-th of `devices`. An entry with nothing to open is not present().
std::vector<SerialDevice> BuildPortTable(int count, const std::map<std::string, std::string>& ports,
                                         const std::vector<SerialDevice>& devices);

// The index of the entry whose device goes by `stableName` (also when it is named by its real path), or -1.
int FindStableName(const std::vector<SerialDevice>& table, const std::string& stableName);

// True for "tcp://..." (any case of the scheme).
bool IsTcpAddress(const std::string& device);

// The entry after COM1..COM48 that starts the robot simulator `program` at Connect. It has no COM number:
// PORT keeps the last COM index, and the entry is found again by its stable name (PORTDEVICE).
SerialDevice SimulatedRobotEntry(const std::string& program);
// True for what may take seconds to open and is therefore opened off the GUI thread: a network bridge,
// the simulated robot.
bool OpensInBackground(const std::string& device);

}  // namespace zanth
