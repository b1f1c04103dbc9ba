#pragma once
#include <string>

namespace zanth {

// The programs that hold `device` open, as "minicom (pid 1234)", found in the open files of the processes
// the system lets us see (`procRoot`, normally /proc) and in the lock files of `lockDirs` (':'-separated,
// normally /run/lock:/var/lock); this process is left out. Empty when the system does not tell.
std::string DeviceHolders(const std::string& device, const std::string& procRoot = "/proc",
                          const std::string& lockDirs = "/run/lock:/var/lock");

// What a user denied access to `device` can do: the group that owns it (dialout on Debian) and the command
// that adds them to it.
std::string PermissionHint(const std::string& device);

}  // namespace zanth
