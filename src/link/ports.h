#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zanth {

// The longest device path (or tcp:// address) a port opens: what the settings file's values have always been
// read into by every program that reads it (a buffer of 2048 bytes with its end). The system would take
// paths up to PATH_MAX, but a longer value is one that another reader of the same file cuts, and a cut path
// can name another robot's port: such a value is refused whole, so that the file opens one device or none.
inline constexpr std::size_t kMaxDevicePathBytes = 2047;
// Empty when `device` may be opened, else why not (in English, like the system's reasons).
std::string DevicePathRefusal(std::string_view device);

// The serial devices among the names of a /dev listing, in the order that COM1, COM2, ... count them:
// ttyUSB*, ttyACM*, rfcomm*, ttyS*, numeric order in each group.
std::vector<std::string> OrderSerialNames(const std::vector<std::string>& devEntries);
// True for a name that OrderSerialNames keeps, and for names it may keep once complete ("ttyUSB"): a
// change of such an entry in /dev may change the list.
bool MaybeSerialName(const std::string& devEntry);

}  // namespace zanth
