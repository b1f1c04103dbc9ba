#include "link/port_catalog.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/text.h"
#include "link/ports.h"
#include "link/simulated_robot.h"

namespace zanth {
namespace {

namespace fs = std::filesystem;
using Kind = SerialDevice::Kind;

// USB strings are the device's own: they may hold anything and be of any length.
constexpr std::size_t kTextLimit = 64;

// The first line of a small system file, control characters blanked and cut to a label's length; empty
// when the file cannot be read.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return CutUtf8(line, kTextLimit);
}

std::string Canonical(const fs::path& path) {
    std::error_code ec;
    fs::path real = fs::weakly_canonical(path, ec);
    return ec ? path.lexically_normal().string() : real.string();
}

Kind KindOfName(const std::string& name) {
    if (name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0) return Kind::kUsb;
    if (name.rfind("rfcomm", 0) == 0) return Kind::kBluetooth;
    if (name.rfind("ttyS", 0) == 0) return Kind::kBuiltIn;
    return Kind::kOther;
}

// The USB device a tty belongs to: up from the tty's own device (the adapter's port, or the CDC-ACM
// interface) to the first folder that carries the USB ids.
void DescribeUsb(const fs::path& sysTty, SerialDevice& d) {
    std::error_code ec;
    fs::path dir = fs::canonical(sysTty / "device", ec);
    for (int up = 0; !ec && up < 4 && !dir.empty() && dir != dir.root_path(); ++up, dir = dir.parent_path()) {
        if (!fs::exists(dir / "idVendor", ec)) continue;
        const std::string vendor = ReadAttribute(dir / "idVendor");
        const std::string product = ReadAttribute(dir / "idProduct");
        if (!vendor.empty() && !product.empty()) d.usbId = vendor + ":" + product;
        d.product = ReadAttribute(dir / "product");
        d.manufacturer = ReadAttribute(dir / "manufacturer");
        d.serialNumber = ReadAttribute(dir / "serial");
        return;
    }
}

// Real path of a device -> its links in dev/serial/by-id, in name order.
std::map<std::string, std::vector<std::string>> ByIdLinks(const fs::path& dev) {
    std::map<std::string, std::vector<std::string>> links;
    std::error_code ec;
    for (fs::directory_iterator it(dev / "serial" / "by-id", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string target = Canonical(it->path());
        links[target].push_back(it->path().string());
    }
    for (auto& [target, names] : links) std::sort(names.begin(), names.end());
    return links;
}

SerialDevice Describe(const fs::path& root, const std::string& name,
                      const std::map<std::string, std::vector<std::string>>& byId) {
    SerialDevice d;
    d.path = (root / "dev" / name).lexically_normal().string();
    d.name = name;
    d.kind = KindOfName(name);
    d.realPath = Canonical(d.path);
    const fs::path sysTty = root / "sys" / "class" / "tty" / name;
    if (d.kind == Kind::kUsb) DescribeUsb(sysTty, d);
    if (d.kind == Kind::kBluetooth) d.product = ReadAttribute(sysTty / "address");
    auto links = byId.find(d.realPath);
    d.stableName = links != byId.end() ? links->second.front() : d.path;
    return d;
}

// An entry of [PORTS]: described from the system's list when it names one of its devices.
SerialDevice Mapped(const std::string& device, const std::vector<SerialDevice>& devices) {
    SerialDevice d;
    d.path = device;
    d.stableName = device;
    if (!DevicePathRefusal(device).empty()) {
        // Opening refuses it; it is not resolved either, or the entry would show, and be chosen for, the
        // device a part of it names. The list shows its start.
        d.realPath = device;
        d.name = CutUtf8(device, kTextLimit) + "\u2026";
        return d;
    }
    if (IsTcpAddress(device)) {
        d.kind = Kind::kNetwork;
        d.name = device.substr(6);
        d.realPath = device;
        return d;
    }
    d.realPath = Canonical(device);
    const std::string file = fs::path(device).filename().string();
    if (KindOfName(file) != Kind::kOther) {
        d.kind = KindOfName(file);
        d.name = file;
    }
    for (const SerialDevice& known : devices) {
        if (known.path == device || known.stableName == device || known.realPath == d.realPath) {
            d = known;
            d.path = device;
            return d;
        }
    }
    return d;
}

}  // namespace

bool IsTcpAddress(const std::string& device) {
    if (device.size() < 6) return false;
    std::string scheme = device.substr(0, 6);
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return scheme == "tcp://";
}

SerialDevice SimulatedRobotEntry(const std::string& program) {
    SerialDevice d;
    d.path = d.stableName = d.realPath = kSimulatedRobotDevice;
    d.name = fs::path(program).filename().string();
    d.kind = Kind::kSimulated;
    d.product = program;
    return d;
}

bool OpensInBackground(const std::string& device) {
    return IsTcpAddress(device) || IsSimulatedRobot(device);
}

std::vector<SerialDevice> ScanSerialDevices(const std::string& root) {
    const fs::path top = root.empty() ? fs::path("/") : fs::path(root);
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(top / "dev", ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    const auto byId = ByIdLinks(top / "dev");
    std::vector<SerialDevice> devices;
    for (const std::string& name : OrderSerialNames(names)) devices.push_back(Describe(top, name, byId));
    return devices;
}

std::vector<SerialDevice> BuildPortTable(int count, const std::map<std::string, std::string>& ports,
                                         const std::vector<SerialDevice>& devices) {
    std::vector<SerialDevice> table(static_cast<std::size_t>(std::max(count, 0)));
    for (int n = 1; n <= count; ++n) {
        SerialDevice& entry = table[static_cast<std::size_t>(n - 1)];
        auto mapped = ports.find("COM" + std::to_string(n));
        if (mapped != ports.end() && !mapped->second.empty())
            entry = Mapped(mapped->second, devices);
        else if (static_cast<std::size_t>(n) <= devices.size())
            entry = devices[static_cast<std::size_t>(n - 1)];
    }
    return table;
}

int FindStableName(const std::vector<SerialDevice>& table, const std::string& stableName) {
    if (stableName.empty()) return -1;
    for (std::size_t i = 0; i < table.size(); ++i)
        if (table[i].present() && table[i].stableName == stableName) return static_cast<int>(i);
    for (std::size_t i = 0; i < table.size(); ++i)
        if (table[i].present() && (table[i].path == stableName || table[i].realPath == stableName))
            return static_cast<int>(i);
    return -1;
}

}  // namespace zanth
