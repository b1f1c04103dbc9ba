#include "model/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <utility>
#include <vector>

#include "base/ui_text.h"

namespace zanth {
namespace {

// The live locks of this process, for TakeOver. Saves may run on any thread.
std::mutex& RegistryMutex() {
    static std::mutex m;
    return m;
}
std::vector<FileLock*>& Registry() {
    static std::vector<FileLock*> locks;
    return locks;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Whether `path` names the file `st` was taken of.
bool Names(const std::string& path, const struct stat& st) {
    struct stat now {};
    return ::stat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino;
}

// How many times a file replaced between opening and locking it is tried again: each round means another
// save landed in that moment, so a handful is plenty.
constexpr int kAttempts = 20;
// Reads of /proc/locks for one holder before the file is opened afresh.
constexpr int kHolderReads = 5;

// /proc/locks is read in pieces, and a lock taken or dropped meanwhile elsewhere (a save of the holder)
// can move the holder's line past the reader: while the inode is still there, it is read again.
template <typename StillThere>
LockHolder HolderOf(const struct stat& held, StillThere stillThere) {
    LockHolder holder;
    for (int read = 0; read < kHolderReads && holder.pid == 0; ++read) {
        if (read > 0 && !stillThere()) break;
        holder = FindLockHolder(ReadWhole("/proc/locks"), held.st_dev, held.st_ino);
    }
    return holder;
}

// The lock that outlives outside saves: editors, `sed -i` and zanth-ini put a new file in the place of the
// settings, which carries no lock, but nothing renames the guard beside it (hidden, so that it does not
// crowd the user's folder). It is never removed: removing it would let two programs lock two guards of one
// name. A folder where it cannot be made leaves the lock on the file alone; such a folder takes no renamed
// file either.
class Guard {
  public:
    Guard() = default;
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    ~Guard() {
        if (fd_ >= 0) ::close(fd_);
    }
    // False (with `r` saying who holds it) when another program holds the guard.
    bool Take(const std::string& path, FileLock::Result& r) {
        const std::string guardPath = GuardPath(path);
        fd_ = ::open(guardPath.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd_ < 0 || ::flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK) {
            ::close(std::exchange(fd_, -1));
            return true;
        }
        struct stat held {};
        r.outcome = FileLock::Outcome::kHeld;
        if (::fstat(fd_, &held) == 0) r.holder = HolderOf(held, [&] { return Names(guardPath, held); });
        r.holder.command = CommandOfProcess(r.holder.pid);
        return false;
    }
    int Release() { return std::exchange(fd_, -1); }

  private:
    static std::string GuardPath(const std::string& path) {
        char* resolved = ::realpath(path.c_str(), nullptr);
        const std::string target = resolved ? resolved : path;
        std::free(resolved);
        const std::size_t slash = target.rfind('/');
        const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
        return target.substr(0, name) + "." + target.substr(name) + ".lock";
    }
    int fd_ = -1;
};

}  // namespace

FileLock::FileLock(int fd, dev_t dev, ino_t ino) : fd_(fd), dev_(dev), ino_(ino) {
    const std::lock_guard<std::mutex> guard(RegistryMutex());
    Registry().push_back(this);
}

FileLock::~FileLock() {
    {
        const std::lock_guard<std::mutex> guard(RegistryMutex());
        std::erase(Registry(), this);
    }
    ::close(fd_);
    if (guardFd_ >= 0) ::close(guardFd_);
}

FileLock::Result FileLock::Acquire(const std::string& path, bool create) {
    Result r;
    // The guard is taken once the file is known to be there, so that a missing one leaves no guard behind.
    Guard guard;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        // Read-only is enough for flock, and O_NONBLOCK keeps a FIFO put there from hanging the start.
        const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (create ? O_CREAT : 0);
        const int fd = ::open(path.c_str(), flags, 0666);
        if (fd < 0) {
            r.error = std::strerror(errno);
            return r;
        }
        struct stat held {};
        if (::fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
            r.error = S_ISDIR(held.st_mode) ? std::strerror(EISDIR) : "Not a regular file";
            ::close(fd);
            return r;
        }
        if (attempt == 0 && !guard.Take(path, r)) {
            ::close(fd);
            return r;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            ::close(fd);
            if (err != EWOULDBLOCK) {
                r.error = std::strerror(err);
                return r;
            }
            r.outcome = Outcome::kHeld;
            r.holder = HolderOf(held, [&] { return Names(path, held); });
            // Unlisted: the holder has put a new file in this one's place meanwhile (or is doing so); that
            // one, or the next look, tells who.
            if (r.holder.pid == 0 && attempt + 1 < kAttempts) continue;
            r.holder.command = CommandOfProcess(r.holder.pid);
            return r;
        }
        // A save of the holder may have put a new file in this one's place after we opened it.
        if (Names(path, held)) {
            r.outcome = Outcome::kLocked;
            r.lock.reset(new FileLock(fd, held.st_dev, held.st_ino));
            r.lock->guardFd_ = guard.Release();
            return r;
        }
        ::close(fd);
    }
    r.error = "The file keeps being replaced";
    return r;
}

bool FileLock::Covers(const std::string& path) const {
    struct stat mine {};
    {
        const std::lock_guard<std::mutex> guard(RegistryMutex());
        mine.st_dev = dev_;
        mine.st_ino = ino_;
    }
    return Names(path, mine);
}

bool FileLock::TakeOver(dev_t dev, ino_t ino, int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    const std::lock_guard<std::mutex> guard(RegistryMutex());
    for (FileLock* lock : Registry()) {
        if (lock->dev_ != dev || lock->ino_ != ino) continue;
        ::close(lock->fd_);
        lock->fd_ = fd;
        lock->dev_ = st.st_dev;
        lock->ino_ = st.st_ino;
        return true;
    }
    return false;
}

// Lines look like "3: FLOCK  ADVISORY  WRITE 4711 fe:01:1234567 0 EOF" (major and minor in hex); a process
// waiting for a lock is listed under the holder as "3: -> FLOCK ...".
LockHolder FindLockHolder(std::string_view locks, dev_t dev, ino_t ino) {
    std::istringstream in{std::string(locks)};
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string number, type, advisory, mode, pid, id;
        fields >> number >> type;
        if (type != "FLOCK") continue;
        fields >> advisory >> mode >> pid >> id;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(id.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3) continue;
        if (major != ::major(dev) || minor != ::minor(dev) || inode != ino) continue;
        LockHolder h;
        h.pid = std::strtol(pid.c_str(), nullptr, 10);
        if (h.pid < 0) h.pid = 0;
        return h;
    }
    return {};
}

std::string DescribeHolder(const LockHolder& holder, Language language) {
    if (holder.pid <= 0) return UiText(Msg::kSettingsHeldUnknown, language);
    std::string text = UiText(Msg::kSettingsHeldBy, language);
    const std::string command = holder.command.empty() ? "?" : holder.command;
    if (const std::size_t at = text.find("%1"); at != std::string::npos) text.replace(at, 2, command);
    if (const std::size_t at = text.find("%2"); at != std::string::npos)
        text.replace(at, 2, std::to_string(holder.pid));
    return text;
}

std::string CommandOfProcess(long pid) {
    if (pid <= 0) return {};
    std::string name = ReadWhole("/proc/" + std::to_string(pid) + "/comm");
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    return name;
}

}  // namespace zanth
