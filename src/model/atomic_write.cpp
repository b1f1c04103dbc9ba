#include "model/atomic_write.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

#include "model/file_lock.h"

namespace zanth {
namespace {

constexpr std::size_t kNpos = std::string::npos;

mode_t CurrentUmask() {
    // umask() can only be read by setting it, which would race with other threads creating files;
    // the kernel reports it here instead.
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    return 022;
}

SaveResult Failed(int err) {
    return SaveResult{false, std::strerror(err)};
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == kNpos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == kNpos ? path : path.substr(slash + 1);
}

// Temporary files are named "<file>.tmp-" and six letters or digits, as mkstemp() makes them.
constexpr std::string_view kTempInfix = ".tmp-";
constexpr std::size_t kTempSuffixLength = 6;

bool IsTemporaryOf(std::string_view entry, std::string_view base) {
    if (entry.size() != base.size() + kTempInfix.size() + kTempSuffixLength) return false;
    if (entry.substr(0, base.size()) != base || entry.substr(base.size(), kTempInfix.size()) != kTempInfix)
        return false;
    const std::string_view suffix = entry.substr(base.size() + kTempInfix.size());
    return std::all_of(suffix.begin(), suffix.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
}

// A save that was killed between naming its temporary file and renaming it leaves the file behind. A save
// in progress (another instance of the program) holds a lock on its temporary file, which the kernel drops
// when the process dies: whatever can be locked is a leftover.
void RemoveStaleTemporaries(const std::string& dir, const std::string& base) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    const int dfd = ::dirfd(d);
    while (const dirent* e = ::readdir(d)) {
        if (!IsTemporaryOf(e->d_name, base)) continue;
        const int fd = ::openat(dfd, e->d_name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat held {
        }, named{};
        if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && held.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(dfd, e->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == held.st_dev &&
            named.st_ino == held.st_ino) {
            ::unlinkat(dfd, e->d_name, 0);
        }
        ::close(fd);
    }
    ::closedir(d);
}

std::string RandomSuffix() {
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 rng(std::random_device{}());
    std::string s(kTempSuffixLength, '0');
    for (char& c : s) c = kChars[rng() % (sizeof kChars - 1)];
    return s;
}

// An unnamed file in `dir` (O_TMPFILE) that a kill leaves nowhere; -1 with errno EOPNOTSUPP where the file
// system has none.
int OpenUnnamed(const std::string& dir, mode_t mode) {
    const int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd < 0 && (errno == EISDIR || errno == EINVAL)) errno = EOPNOTSUPP;  // older kernels say so
    return fd;
}

// Gives the unnamed file `fd` a temporary name beside `target`; empty on failure (errno set).
std::string NameUnnamed(int fd, const std::string& target) {
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = target + std::string(kTempInfix) + RandomSuffix();
        if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) return temp;
        if (errno != EEXIST) return {};
    }
    return {};
}

// Writes, fixes the mode and syncs the content of `fd`, then locks it so that RemoveStaleTemporaries() of
// another save leaves it alone once it has a name, and so that a lock this process holds on the target can
// pass to it (FileLock::TakeOver). Errno on failure; `locked` tells whether the lock was taken.
int WriteContent(int fd, std::string_view data, mode_t mode, bool& locked) {
    if (!WriteAll(fd, data)) return errno;
    // A new file gets the umask's bits (mkstemp's would be 0600); an existing one keeps its own.
    (void)::fchmod(fd, mode);
    if (::fsync(fd) != 0) return errno;
    locked = ::flock(fd, LOCK_EX) == 0;
    return 0;
}

// The file the content is for: where a symbolic link points, since renaming over the link would replace it
// by a plain file; the permission bits the new file gets; and the inode it replaces (0 when there is none).
SaveResult ResolveTarget(const std::string& path, std::string& target, mode_t& mode, struct stat& old) {
    target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (!resolved) return Failed(errno);
        target = resolved;
        std::free(resolved);
    }
    if (::stat(target.c_str(), &st) == 0) {
        old = st;
        if (S_ISDIR(st.st_mode)) return Failed(EISDIR);
        if (!S_ISREG(st.st_mode)) return SaveResult{false, "Not a regular file"};
        // Rename would replace a file the user made read-only; honour the protection as a plain write would.
        if (::access(target.c_str(), W_OK) != 0) return Failed(errno);
        mode = st.st_mode & 07777;
    } else if (errno == ENOENT) {
        mode = 0666 & ~CurrentUmask();
    } else {
        return Failed(errno);
    }
    return SaveResult{};
}

// A complete, synced and (normally) locked temporary file beside `target`: its name, and its descriptor in
// `fd`.
SaveResult WriteTemporary(const std::string& target, std::string_view data, mode_t mode, int& fd,
                          std::string& temp, bool& locked) {
    fd = OpenUnnamed(DirectoryOf(target), mode);
    if (fd < 0 && errno != EOPNOTSUPP) return Failed(errno);
    if (fd >= 0) {
        if (const int err = WriteContent(fd, data, mode, locked)) {
            ::close(fd);
            return Failed(err);
        }
        temp = NameUnnamed(fd, target);
        if (!temp.empty()) return SaveResult{};
        // Without /proc the unnamed file cannot be named: write a named one instead.
        ::close(fd);
    }
    temp = target + std::string(kTempInfix) + std::string(kTempSuffixLength, 'X');
    // Close-on-exec: a program started later (the manual's viewer) must not inherit a lock that outlives us.
    fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return Failed(errno);
    if (const int err = WriteContent(fd, data, mode, locked)) {
        ::close(fd);
        ::unlink(temp.c_str());
        return Failed(err);
    }
    return SaveResult{};
}

}  // namespace

// The new content goes to a temporary file beside the target and is renamed over it once it is safely on
// disk, so a crash or a full disk mid-write leaves the old file whole. The temporary file has no name until
// it is complete, so a kill leaves nothing behind but in the moment between naming and renaming, and the
// next save clears that up.
SaveResult WriteFileAtomically(const std::string& path, std::string_view data) {
    std::string target;
    mode_t mode = 0;
    struct stat old {};
    if (SaveResult r = ResolveTarget(path, target, mode, old); !r.ok) return r;
    const std::string dir = DirectoryOf(target);
    RemoveStaleTemporaries(dir, BaseName(target));
    int fd = -1;
    std::string temp;
    bool locked = false;
    if (SaveResult r = WriteTemporary(target, data, mode, fd, temp, locked); !r.ok) return r;
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        return Failed(err);
    }
    // A file this process holds locked stays locked: the new inode was locked before it took the name.
    // Otherwise closing drops the lock; the content was synced before the rename, so nothing is lost here.
    if (!(locked && old.st_ino != 0 && FileLock::TakeOver(old.st_dev, old.st_ino, fd))) ::close(fd);
    // Make the rename itself durable; the data is already safe, so a failure here is not reported.
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        (void)::fsync(dirFd);
        ::close(dirFd);
    }
    return SaveResult{};
}

}  // namespace zanth
