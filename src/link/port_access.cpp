#include "link/port_access.h"

#include "base/ui_text.h"

#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>
#include <vector>

namespace zanth {
namespace {

namespace fs = std::filesystem;

// Enough to name the culprit; a device held by dozens of processes is rare and the list would not fit.
constexpr std::size_t kMaxHolders = 3;

std::string Command(const fs::path& proc, long pid) {
    std::ifstream in(proc / std::to_string(pid) / "comm");
    std::string name;
    std::getline(in, name);
    if (name.empty()) name.push_back('?');  // not `= "?"`: GCC 12 warns falsely (-Wrestrict) at -O3
    return name + " (pid " + std::to_string(pid) + ")";
}

bool SameDevice(const struct stat& a, const struct stat& b) {
    if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode)) return a.st_rdev == b.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Processes with a descriptor on the device. Other users' descriptors are hidden from us; those are skipped.
void FromOpenFiles(const fs::path& proc, const struct stat& target, std::set<long>& pids) {
    std::error_code ec;
    const long self = static_cast<long>(getpid());
    for (fs::directory_iterator it(proc, ec), end; !ec && it != end && pids.size() < kMaxHolders;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const long pid = std::stol(name);
        if (pid == self) continue;
        std::error_code fdError;
        for (fs::directory_iterator fd(it->path() / "fd", fdError), fdEnd; !fdError && fd != fdEnd;
             fd.increment(fdError)) {
            struct stat st {};
            if (stat(fd->path().c_str(), &st) == 0 && SameDevice(st, target)) {
                pids.insert(pid);
                break;
            }
        }
    }
}

// UUCP-style lock files "LCK..ttyUSB0": the pid in ASCII (or, from old programs, as a binary int).
void FromLockFiles(const std::string& lockDirs, const std::string& base, std::set<long>& pids) {
    std::stringstream dirs(lockDirs);
    for (std::string dir; std::getline(dirs, dir, ':');) {
        std::ifstream in(fs::path(dir) / ("LCK.." + base), std::ios::binary);
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        long pid = 0;
        if (content.size() == sizeof(int) && content.find_first_of("0123456789") == std::string::npos) {
            int raw = 0;
            std::copy(content.begin(), content.end(), reinterpret_cast<char*>(&raw));
            pid = raw;
        } else {
            std::istringstream(content) >> pid;
        }
        // A lock left by a program that has ended holds nothing.
        if (pid > 0 && pid != static_cast<long>(getpid()) &&
            (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM))
            pids.insert(pid);
    }
}

}  // namespace

std::string DeviceHolders(const std::string& device, const std::string& procRoot,
                          const std::string& lockDirs) {
    struct stat target {};
    if (device.empty() || stat(device.c_str(), &target) != 0) return {};
    std::set<long> pids;
    FromOpenFiles(procRoot, target, pids);
    std::error_code ec;
    const fs::path real = fs::weakly_canonical(device, ec);
    FromLockFiles(lockDirs, (ec ? fs::path(device) : real).filename().string(), pids);
    std::string text;
    for (long pid : pids) {
        if (!text.empty()) text += ", ";
        text += Command(procRoot, pid);
    }
    return text;
}

std::string PermissionHint(const std::string& device) {
    // Before udev has given a fresh device its group, the node may still belong to root: the group to join
    // is dialout all the same.
    std::string group = "dialout";
    struct stat st {};
    if (stat(device.c_str(), &st) == 0 && st.st_gid != 0) {
        if (const struct group* g = getgrgid(st.st_gid); g != nullptr && g->gr_name != nullptr)
            group = g->gr_name;
    }
    std::string hint = UiText(Msg::kReasonDialout, Language::kEnglish);
    for (std::size_t hole; (hole = hint.find("%1")) != std::string::npos;) hint.replace(hole, 2, group);
    return hint;
}

}  // namespace zanth
