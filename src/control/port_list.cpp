#include "control/port_list.h"

#include <algorithm>
#include <cstdlib>

#include "base/app_context.h"
#include "control/log.h"
#include "link/port_watcher.h"
#include "link/simulated_robot.h"

namespace zanth {
namespace {

// COM1..COM48, then the simulated robot when its program is installed.
std::vector<SerialDevice> WithSimulator(std::vector<SerialDevice> table) {
    if (const std::string program = FindRobotSimulator(); !program.empty())
        table.push_back(SimulatedRobotEntry(program));
    return table;
}

}  // namespace

PortList::PortList(const AppContext& app, std::map<std::string, std::string> ports,
                   std::function<std::vector<std::string>()> listDevices, std::string root, int comPortIndex,
                   std::string remembered, QObject* parent)
    : QObject(parent),
      app_(app),
      ports_(std::move(ports)),
      listDevices_(std::move(listDevices)),
      comPortIndex_(comPortIndex),
      remembered_(remembered),
      preferred_(std::move(remembered)) {
    if (root.empty()) {
        if (const char* env = std::getenv("ZANTH_DEVICE_ROOT"); env != nullptr) root = env;
    }
    deviceRoot_ = root.empty() ? "/" : root;
    SetRobotSimulatorLog(app_.dataFolder.empty() ? std::string() : app_.dataFolder + "/" + kRobotSimLogName);
    table_ = Scan();
    if (!listDevices_) Watch();  // the caller's own list has nothing to watch
}

PortList::~PortList() = default;

void PortList::Watch() {
    watcher_ = std::make_unique<PortWatcher>(
        deviceRoot_,
        [root = deviceRoot_, ports = ports_] {
            return WithSimulator(BuildPortTable(kPortCount, ports, ScanSerialDevices(root)));
        },
        table_);
    connect(watcher_.get(), &PortWatcher::changed, this, [this] {
        table_ = watcher_->Latest();
        emit changed();
    });
    connect(watcher_.get(), &PortWatcher::touched, this, &PortList::touched);
    std::string why;
    if (!watcher_->Start(&why))
        qCWarning(lcControl).noquote()
            << "the port list will not follow devices:" << QString::fromStdString(why);
}

void PortList::StopWatching() {
    if (watcher_) watcher_->Stop();
}

std::vector<SerialDevice> PortList::Scan() const {
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

void PortList::Refresh() {
    std::vector<SerialDevice> now = Scan();
    if (now == table_) return;
    table_ = std::move(now);
    emit changed();
}

std::string PortList::Name(int selection) const {
    const auto i = static_cast<std::size_t>(selection);
    if (i < table_.size() && table_[i].kind == SerialDevice::Kind::kSimulated) return table_[i].name;
    return "COM" + std::to_string(selection + 1);
}

std::vector<std::string> PortList::Devices() const {
    std::vector<std::string> out;
    for (const SerialDevice& d : table_) out.push_back(d.path);
    return out;
}

std::vector<std::string> PortList::Labels() const {
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

int PortList::Selection(int current) const {
    const int preferred = FindStableName(table_, preferred_);
    if (preferred >= 0) return preferred;
    if (current >= 0 && current < static_cast<int>(table_.size())) return current;
    return comPortIndex_ >= 0 && comPortIndex_ < kPortCount ? comPortIndex_ : -1;
}

void PortList::NoteChoice(int index) {
    const bool known = index >= 0 && index < static_cast<int>(table_.size());
    preferred_ = known ? table_[static_cast<std::size_t>(index)].stableName : std::string();
}

void PortList::NoteConnected(int selection, const SerialDevice& entry) {
    // PORT holds a COM index, as the Windows program's files do; an entry after COM48 lives on in
    // PORTDEVICE alone.
    if (selection < kPortCount) comPortIndex_ = selection;
    // The next start selects whichever entry opens this device then.
    remembered_ = preferred_ = entry.stableName.empty() ? entry.path : entry.stableName;
}

}  // namespace zanth
