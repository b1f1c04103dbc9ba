#include "link/ports.h"

#include <algorithm>
#include <utility>

#include "base/ui_text.h"

namespace zanth {
namespace {

// Number of a device name "<prefix><digits>", or -1 when the name is not of that form.
long long DeviceNumber(const std::string& name, const std::string& prefix) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return -1;
    if (name.size() - prefix.size() > 9) return -1;
    long long number = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return -1;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

// The groups in the order COMn counts them. Bluetooth ports come after the USB ones and before the built-in
// ports, which machines often list by the dozen whether or not a UART is behind them.
constexpr const char* kPrefixes[] = {"ttyUSB", "ttyACM", "rfcomm", "ttyS"};

}  // namespace

std::string DevicePathRefusal(std::string_view device) {
    if (device.size() <= kMaxDevicePathBytes) return {};
    std::string text = UiText(Msg::kReasonPathTooLong, Language::kEnglish);
    if (const std::size_t hole = text.find("%1"); hole != std::string::npos)
        text.replace(hole, 2, std::to_string(kMaxDevicePathBytes));
    return text;
}

bool MaybeSerialName(const std::string& devEntry) {
    for (const char* prefix : kPrefixes)
        if (devEntry.rfind(prefix, 0) == 0) return true;
    return false;
}

std::vector<std::string> OrderSerialNames(const std::vector<std::string>& devEntries) {
    std::vector<std::string> ordered;
    for (const char* prefix : kPrefixes) {
        std::vector<std::pair<long long, std::string>> group;
        for (const std::string& name : devEntries) {
            long long number = DeviceNumber(name, prefix);
            if (number >= 0) group.emplace_back(number, name);
        }
        std::sort(group.begin(), group.end());
        group.erase(std::unique(group.begin(), group.end()), group.end());
        for (auto& [number, name] : group) ordered.push_back(name);
    }
    return ordered;
}

}  // namespace zanth
