// The [PORTS] lookup as the program makes it: any bytes up to the first NUL as the settings file, the rest
// as the names of a /dev listing, one a line. Every COMn must stand for a device that the file's [PORTS] or
// the listing names, or for nothing; a device named for COMn in the file wins over the listing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "link/ports.h"
#include "model/ini_file.h"
#include "model/settings.h"

namespace {

std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.emplace_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return lines;
}

bool Among(const std::string& device, const std::map<std::string, std::string>& ports,
           const std::vector<std::string>& devices) {
    for (const auto& [key, value] : ports)
        if (value == device) return true;
    for (const std::string& d : devices)
        if (d == device) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = all.find('\0');
    const std::string_view ini = all.substr(0, nul);
    const std::string_view listing = nul == std::string_view::npos ? std::string_view() : all.substr(nul + 1);

    const zanth::Settings settings = zanth::ReadSettings(zanth::IniFile::Parse(ini));
    const std::vector<std::string> entries = Lines(listing);
    const std::vector<std::string> devices = zanth::OrderSerialDevices(entries);
    if (devices.size() > entries.size()) std::abort();
    for (const std::string& d : devices)
        if (d.rfind("/dev/", 0) != 0) std::abort();

    for (int n = -1; n <= 50; ++n) {
        const std::string device = zanth::ResolveComPort(n, settings.ports, devices);
        if (n < 1 && !device.empty()) std::abort();
        if (!device.empty() && !Among(device, settings.ports, devices)) std::abort();
        const auto named = settings.ports.find("COM" + std::to_string(n));
        if (n >= 1 && named != settings.ports.end() && !named->second.empty() && device != named->second)
            std::abort();
    }
    return 0;
}
