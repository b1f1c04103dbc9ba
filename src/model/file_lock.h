#pragma once
#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>

#include "base/ui_text.h"

namespace zanth {

// Who holds a lock: the process id (0 when it cannot be told, e.g. from another pid namespace) and its
// command name ("" when unknown).
struct LockHolder {
    long pid = 0;
    std::string command;
};

// An exclusive advisory lock (flock) on a file, held by this process for as long as the object lives. The
// kernel drops it when the process dies, however it dies, so nothing is left behind to clean up.
//
// The lock lies on the file's inode, and an atomic save puts a new inode in the file's place. A file this
// process holds stays held across such a save: WriteFileAtomically locks its temporary file before renaming
// it over the path and hands that descriptor over here (TakeOver), so that at no moment is the inode under
// the path unlocked. Another process that opened the old inode just before the rename finds, once it has the
// lock, that the path names another inode, and tries again.
//
// A save by another program (an editor, `sed -i`, zanth-ini) puts an unlocked inode in the file's place. So
// the lock is also held on a guard file beside it (".NAME.lock", never renamed and never removed), which
// keeps refusing a second program whatever happened to the file.
class FileLock {
  public:
    enum class Outcome {
        kLocked,       // the lock is ours
        kHeld,         // another open file (another process, or another FileLock) holds it
        kUnavailable,  // the file cannot be opened or locked; `error` says why
    };
    struct Result {
        Outcome outcome = Outcome::kUnavailable;
        std::unique_ptr<FileLock> lock;  // set when kLocked
        LockHolder holder;               // when kHeld
        std::string error;               // when kUnavailable
    };

    // Locks the regular file at `path` and its guard without waiting. With `create`, a missing file is made
    // empty first (so that two first starts on one path cannot both run); the folder must exist.
    static Result Acquire(const std::string& path, bool create);

    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Whether `path` names the file this lock holds (following links).
    bool Covers(const std::string& path) const;

    // For WriteFileAtomically: when a live FileLock holds the inode (dev, ino), it takes `fd` (a descriptor
    // of the file renamed into that inode's place, already locked) and closes the old one; true then.
    static bool TakeOver(dev_t dev, ino_t ino, int fd);

  private:
    FileLock(int fd, dev_t dev, ino_t ino);
    int fd_;
    dev_t dev_;
    ino_t ino_;
    int guardFd_ = -1;  // the guard beside the file; -1 where none could be made
};

// The holder of a FLOCK lock on the inode (dev, ino) as /proc/locks lists it (`locks` is that file's text);
// pid 0 when none is listed. The command is left empty.
LockHolder FindLockHolder(std::string_view locks, dev_t dev, ino_t ino);

// "Held by zanth-emulator (process 4711)." in the language given; without a pid, that another
// program holds it.
std::string DescribeHolder(const LockHolder& holder, Language language);

// The process's command name from /proc/PID/comm; "" when it cannot be read.
std::string CommandOfProcess(long pid);

}  // namespace zanth
