#include "link/port_access.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "link/serial_port.h"
#include "link_test_util.h"

extern char** environ;

namespace zanth {
namespace {

// A program of the system run for the length of a test.
class Child {
  public:
    explicit Child(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    }
    ~Child() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

TEST(PortHolder, AHeldPortNamesTheProgramHoldingIt) {
    test::Pty pty(true);
    ASSERT_FALSE(pty.name.empty());
    // flock(1) takes the lock a second emulator would take, and holds the device open meanwhile.
    Child holder({"flock", pty.name, "sleep", "30"});
    ASSERT_GT(holder.pid(), 0);
    std::string reason;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        auto port = SerialPort::Open(pty.name, &reason);
        if (port == nullptr || std::chrono::steady_clock::now() > end) break;
        port.reset();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_NE(reason.find("in use"), std::string::npos) << reason;
    EXPECT_NE(reason.find("flock (pid " + std::to_string(holder.pid()) + ")"), std::string::npos) << reason;
}

TEST(PortHolder, LockFilesNameLiveProgramsOnly) {
    // Started before the terminal exists, so that it does not inherit it.
    Child sleeper({"sleep", "30"});
    ASSERT_GT(sleeper.pid(), 0);
    test::Pty pty(true);
    const std::filesystem::path locks =
        std::filesystem::temp_directory_path() / ("zanth-locks-" + std::to_string(getpid()));
    std::filesystem::create_directories(locks);
    const std::string base = std::filesystem::path(pty.name).filename().string();
    std::ofstream(locks / ("LCK.." + base)) << "      " << sleeper.pid() << "\n";
    // Our own descriptors do not count: the port is held by nobody else.
    EXPECT_EQ(DeviceHolders(pty.name, "/proc", "/nonexistent"), "");
    EXPECT_EQ(DeviceHolders(pty.name, "/proc", locks.string()),
              "sleep (pid " + std::to_string(sleeper.pid()) + ")");
    // A lock left behind by a program that has ended.
    std::ofstream(locks / ("LCK.." + base)) << "999999999\n";
    EXPECT_EQ(DeviceHolders(pty.name, "/proc", locks.string()), "");
    std::filesystem::remove_all(locks);
}

}  // namespace
}  // namespace zanth
