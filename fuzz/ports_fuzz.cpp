// The port list as the program builds it: any bytes up to the first NUL as the settings file, the rest as the
// names of a /dev listing, one a line. COMn opens what the file's [PORTS] names for it, whole, else the n-th
// serial device of the listing, else nothing; and the entry found again by its stable name opens it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "link/port_catalog.h"
#include "link/ports.h"
#include "model/ini_file.h"
#include "model/settings.h"

namespace {

constexpr int kComPorts = 48;

std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.emplace_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return lines;
}

// The listing's serial devices as the scan describes them where the system tells nothing more.
std::vector<zanth::SerialDevice> Devices(const std::vector<std::string>& entries) {
    const std::vector<std::string> names = zanth::OrderSerialNames(entries);
    if (names.size() > entries.size()) std::abort();
    std::vector<zanth::SerialDevice> devices;
    for (const std::string& name : names) {
        if (!zanth::MaybeSerialName(name)) std::abort();
        zanth::SerialDevice d;
        d.path = d.stableName = d.realPath = "/dev/" + name;
        d.name = name;
        devices.push_back(d);
    }
    return devices;
}

void Check(int n, const zanth::SerialDevice& entry, const std::map<std::string, std::string>& ports,
           const std::vector<zanth::SerialDevice>& devices) {
    const auto named = ports.find("COM" + std::to_string(n));
    if (named != ports.end() && !named->second.empty()) {
        if (entry.path != named->second) std::abort();  // used whole, never cut nor replaced
        const bool refused = !zanth::DevicePathRefusal(entry.path).empty();
        if (refused && entry.realPath != entry.path) std::abort();  // never resolved to what its start names
        if (!refused &&
            zanth::IsTcpAddress(entry.path) != (entry.kind == zanth::SerialDevice::Kind::kNetwork))
            std::abort();
    } else if (static_cast<std::size_t>(n) <= devices.size()) {
        if (entry != devices[static_cast<std::size_t>(n - 1)]) std::abort();
    } else if (entry.present()) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = all.find('\0');
    const std::string_view ini = all.substr(0, nul);
    const std::string_view listing = nul == std::string_view::npos ? std::string_view() : all.substr(nul + 1);

    const zanth::Settings settings = zanth::ReadSettings(zanth::IniFile::Parse(ini));
    const std::vector<zanth::SerialDevice> devices = Devices(Lines(listing));
    const std::vector<zanth::SerialDevice> table = zanth::BuildPortTable(kComPorts, settings.ports, devices);
    if (table.size() != static_cast<std::size_t>(kComPorts)) std::abort();
    for (int n = 1; n <= kComPorts; ++n) {
        const zanth::SerialDevice& entry = table[static_cast<std::size_t>(n - 1)];
        Check(n, entry, settings.ports, devices);
        if (!entry.present()) continue;
        const int found = zanth::FindStableName(table, entry.stableName);
        if (found < 0 || found >= n || !table[static_cast<std::size_t>(found)].present()) std::abort();
    }
    return 0;
}
