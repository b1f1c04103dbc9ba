#pragma once
#include <map>
#include <string>
#include <vector>

namespace zanth {

// The device that "COM<number>" (1-based) stands for: the entry "COM<number>" of `ports` (section PORTS of
// the settings, keys upper-case) when it is not empty, else the number-th of `devices`
// (ListSerialDevices). Empty when there is none.
std::string ResolveComPort(int number, const std::map<std::string, std::string>& ports,
                           const std::vector<std::string>& devices);
// The serial devices of the system, in the order that ResolveComPort counts.
std::vector<std::string> ListSerialDevices();
// The serial devices among the names of a /dev listing, as full paths: /dev/ttyUSB*, /dev/ttyACM*,
// /dev/rfcomm*, /dev/ttyS*, numeric order in each group.
std::vector<std::string> OrderSerialDevices(const std::vector<std::string>& devEntries);
// The same as names ("ttyUSB0").
std::vector<std::string> OrderSerialNames(const std::vector<std::string>& devEntries);
// True for a name that OrderSerialNames keeps, and for names it may keep once complete ("ttyUSB"): a
// change of such an entry in /dev may change the list.
bool MaybeSerialName(const std::string& devEntry);

}  // namespace zanth
