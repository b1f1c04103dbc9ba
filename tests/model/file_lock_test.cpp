#include "model/file_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "model/atomic_write.h"

namespace zanth {
namespace {

namespace fs = std::filesystem;

class LockDir : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "zanth-lock-XXXXXX").string();
        dir_ = ::mkdtemp(tmpl.data());
        path_ = (dir_ / "robot.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }
    static std::string Read(const std::string& path) {
        std::ostringstream text;
        text << std::ifstream(path).rdbuf();
        return text.str();
    }
    fs::path dir_;
    std::string path_;
};

TEST_F(LockDir, OneHolderAtATimeNamedByPidAndCommand) {
    EXPECT_EQ(FileLock::Acquire(path_, false).outcome, FileLock::Outcome::kUnavailable) << "missing file";
    EXPECT_EQ(FileLock::Acquire(dir_.string(), false).outcome, FileLock::Outcome::kUnavailable) << "folder";
    auto first = FileLock::Acquire(path_, true);
    ASSERT_EQ(first.outcome, FileLock::Outcome::kLocked) << first.error;
    EXPECT_TRUE(fs::is_regular_file(path_));
    EXPECT_TRUE(first.lock->Covers(path_));

    const auto second = FileLock::Acquire(path_, true);
    EXPECT_EQ(second.outcome, FileLock::Outcome::kHeld);
    EXPECT_EQ(second.holder.pid, ::getpid());
    EXPECT_EQ(second.holder.command, CommandOfProcess(::getpid()));
    EXPECT_FALSE(second.holder.command.empty());

    first.lock.reset();
    EXPECT_EQ(FileLock::Acquire(path_, false).outcome, FileLock::Outcome::kLocked);
}

// The save renames a new file over the locked one: the lock must come along, not stay on the old inode.
TEST_F(LockDir, HeldAcrossTheHoldersOwnAtomicSaves) {
    auto held = FileLock::Acquire(path_, true);
    ASSERT_EQ(held.outcome, FileLock::Outcome::kLocked);
    for (const char* content : {"[A]\nk=1\n", "[A]\nk=2\n"}) {
        ASSERT_TRUE(WriteFileAtomically(path_, content).ok);
        EXPECT_EQ(Read(path_), content);
        EXPECT_TRUE(held.lock->Covers(path_));
        EXPECT_EQ(FileLock::Acquire(path_, false).outcome, FileLock::Outcome::kHeld);
    }
}

// Editors, `sed -i` and zanth-ini save by renaming a new file over the settings: a second program started
// afterwards is still refused, and named the holder.
TEST_F(LockDir, AnOutsideSaveOverTheFileStillRefusesASecondProgram) {
    auto held = FileLock::Acquire(path_, true);
    ASSERT_EQ(held.outcome, FileLock::Outcome::kLocked);
    std::ofstream(path_ + ".new") << "[SYSTEM]\nBACK=1\n";
    fs::rename(path_ + ".new", path_);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const auto second = FileLock::Acquire(path_, false);
        ::_exit(second.outcome == FileLock::Outcome::kHeld && second.holder.pid == ::getppid() ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the second program was let in";
    held.lock.reset();
    EXPECT_EQ(FileLock::Acquire(path_, false).outcome, FileLock::Outcome::kLocked);
}

// Another process saving over and over while we try: never a moment where the file is ours; killed, its
// lock is gone with it and nothing is left to clean up.
TEST_F(LockDir, AnotherProcessSavingIsNeverOvertakenAndItsCrashFreesTheFile) {
    std::ofstream(path_) << "[A]\n";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto mine = FileLock::Acquire(path_, false);
        const char ok = mine.outcome == FileLock::Outcome::kLocked ? '1' : '0';
        (void)!::write(ready[1], &ok, 1);
        for (int i = 0;; ++i) WriteFileAtomically(path_, "[A]\nk=" + std::to_string(i) + "\n");
    }
    struct Reaper {
        pid_t pid;
        ~Reaper() {
            if (pid <= 0) return;
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    } reaper{child};
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');
    for (int i = 0; i < 3000; ++i) {
        const auto r = FileLock::Acquire(path_, false);
        ASSERT_EQ(r.outcome, FileLock::Outcome::kHeld) << "attempt " << i << ": " << r.error;
        ASSERT_EQ(r.holder.pid, child);
    }
    ::kill(child, SIGKILL);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    reaper.pid = 0;
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(FileLock::Acquire(path_, false).outcome, FileLock::Outcome::kLocked);
}

TEST(FindLockHolder, OnlyAFlockOnThatInodeCounts) {
    struct stat st {};
    st.st_dev = ::makedev(0xfe, 0x01);
    const char* locks =
        "1: POSIX  ADVISORY  WRITE 11 fe:01:1234 0 EOF\n"
        "2: FLOCK  ADVISORY  WRITE 22 fe:02:1234 0 EOF\n"
        "3: FLOCK  ADVISORY  WRITE 33 fe:01:1234 0 EOF\n"
        "3: -> FLOCK  ADVISORY  WRITE 44 fe:01:1234 0 EOF\n";
    EXPECT_EQ(FindLockHolder(locks, st.st_dev, 1234).pid, 33);
    EXPECT_EQ(FindLockHolder(locks, st.st_dev, 999).pid, 0);
    EXPECT_EQ(FindLockHolder("", st.st_dev, 1234).pid, 0);
}

}  // namespace
}  // namespace zanth
