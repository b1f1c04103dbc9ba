#include "link/serial_port.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/reason_text.h"
#include "link_test_util.h"

namespace zanth {
namespace {

using test::Bytes;
using test::Clock;
using test::MsSince;
using test::Pty;
using Status = PortResult::Status;

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(pty.name.empty());
        std::string reason;
        port = SerialPort::Open(pty.name, &reason);
        ASSERT_NE(port, nullptr) << reason;
    }

    Pty pty;
    std::unique_ptr<SerialPort> port;
};

// Frame bytes such as 0x0D, 0x11 (XON), 0x13 (XOFF) and 0x03 (interrupt) must cross the line untouched, the
// message is all that goes out, and the robot's replies must not be echoed back to it.
TEST_F(SerialPortTest, LineIsRawBothWays) {
    const Bytes special = {0x0D, 0x0A, 0x11, 0x13, 0x03, 0x1A, 0x7F, 0x00};
    const WireMessage message = BuildMessage(special.data(), 8, true);
    PortResult r = port->Write(message, 1000, -1);
    EXPECT_EQ(r.status, Status::kOk);
    EXPECT_EQ(r.count, 9);
    EXPECT_EQ(port->Drain(1000, -1).status, Status::kOk);
    EXPECT_EQ(pty.Receive(10, 200), Bytes(message.begin(), message.end()));

    ASSERT_TRUE(pty.Send(special));
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(port->Read(buffer, 8, 5000, -1).count, 8);
    EXPECT_EQ(Bytes(buffer, buffer + 8), special);
    EXPECT_TRUE(pty.Receive(1, 50).empty()) << "input was echoed";
}

TEST_F(SerialPortTest, ReadEndsWhenAllHaveComeElseAtItsTimeOut) {
    struct Case {
        Bytes waiting;
        int n;
        int timeoutMs;
        bool waitsOut;
    };
    const Case cases[] = {
        {{'B', 'B', ' ', '7', '0', ' '}, 6, 20000, false},
        {{1, 2, 3}, 10, 60, true},
        {{}, 10, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        ASSERT_TRUE(pty.Send(c.waiting));
        std::uint8_t buffer[16] = {};
        auto start = Clock::now();
        PortResult r = port->Read(buffer, c.n, c.timeoutMs, -1);
        EXPECT_EQ(r.status, Status::kOk);
        EXPECT_EQ(Bytes(buffer, buffer + r.count), c.waiting);
        if (c.waitsOut) {
            EXPECT_GE(MsSince(start), c.timeoutMs);
        } else {
            EXPECT_LT(MsSince(start), 10000);  // far from the 20 s time-out: it did not wait it out
        }
    }
}

TEST_F(SerialPortTest, DiscardLastsItsTimeAndDropsInput) {
    ASSERT_TRUE(pty.Send(Bytes(5000, 0x55)));  // more than one scratch buffer
    auto start = Clock::now();
    EXPECT_EQ(port->Discard(200, -1).status, Status::kOk);
    EXPECT_GE(MsSince(start), 200);
    std::uint8_t buffer[16];
    EXPECT_EQ(port->Read(buffer, 16, 0, -1).count, 0);
}

TEST_F(SerialPortTest, StoppedOutputEndsTheWriteAtItsTimeOrOnWake) {
    ASSERT_TRUE(pty.StopOutput());
    port->Discard(50, -1);  // the XOFF reaches the line discipline
    const WireMessage message = BuildMessage(NeutralFrame(true), false);
    PortResult r = port->Write(message, 60, -1);
    EXPECT_EQ(r.status, Status::kTimedOut);
    EXPECT_EQ(r.count, 0);

    int wake = eventfd(1, EFD_CLOEXEC);
    ASSERT_GE(wake, 0);
    auto start = Clock::now();
    EXPECT_EQ(port->Write(message, 20000, wake).status, Status::kWoken);
    EXPECT_EQ(port->Discard(20000, wake).status, Status::kWoken);
    std::uint8_t buffer[8];
    EXPECT_EQ(port->Read(buffer, 8, 20000, wake).status, Status::kWoken);
    EXPECT_LT(MsSince(start), 10000);
    close(wake);
}

TEST_F(SerialPortTest, HungUpLineFailsAsUnplugged) {
    pty.CloseMaster();
    std::uint8_t buffer[8];
    const PortResult results[] = {
        port->Discard(20000, -1),
        port->Read(buffer, 8, 20000, -1),
        port->Write(BuildMessage(NeutralFrame(true), false), 20000, -1),
        port->Drain(20000, -1),
    };
    for (const PortResult& r : results) {
        EXPECT_EQ(r.status, Status::kFailed);
        EXPECT_EQ(r.kind, LinkFailure::Kind::kUnplugged) << r.detail;
        EXPECT_FALSE(r.detail.empty());
    }
}

TEST_F(SerialPortTest, ExclusiveUntilDestroyed) {
    std::string reason;
    EXPECT_EQ(SerialPort::Open(pty.name, &reason), nullptr);
    EXPECT_EQ(reason, "the port is in use by another program");
    port.reset();
    port = SerialPort::Open(pty.name, &reason);
    EXPECT_NE(port, nullptr) << reason;
    EXPECT_EQ(port->Device(), pty.name);
}

TEST(SerialPortOpen, FailuresGiveAReason) {
    auto regular = std::filesystem::temp_directory_path() / ("zanth_plain_" + std::to_string(getpid()));
    std::FILE* f = std::fopen(regular.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    const std::pair<std::string, std::string> cases[] = {
        {"/dev/zanth-no-such-device", "No such file or directory"},
        {"/dev/null", "not a serial device"},
        {regular.string(), "not a serial device"},
        {"", "no such serial device"},
    };
    for (const auto& [device, expected] : cases) {
        SCOPED_TRACE(device);
        std::string reason;
        EXPECT_EQ(SerialPort::Open(device, &reason), nullptr);
        EXPECT_EQ(reason, expected);
        EXPECT_EQ(SerialPort::Open(device, nullptr), nullptr);  // no reason wanted: must not crash
    }
    std::filesystem::remove(regular);
}

// The reason an unprivileged user gets for `path`: root opens any file, so a child process drops to
// `nobody` first.
std::string ReasonAsUnprivileged(const std::string& path) {
    int out[2];
    if (pipe(out) != 0) return "no pipe";
    pid_t pid = fork();
    if (pid == 0) {
        close(out[0]);
        std::string reason = "cannot drop privileges";
        constexpr uid_t kNobody = 65534;
        if (geteuid() != 0 || (setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0)) {
            if (SerialPort::Open(path, &reason) != nullptr) reason = "opened";
        }
        [[maybe_unused]] ssize_t n = write(out[1], reason.data(), reason.size());
        _exit(0);
    }
    close(out[1]);
    std::string reason;
    char chunk[256];
    for (ssize_t got; (got = read(out[0], chunk, sizeof chunk)) > 0;) reason.append(chunk, std::size_t(got));
    close(out[0]);
    if (pid > 0) waitpid(pid, nullptr, 0);
    return reason;
}

TEST(SerialPortOpen, PermissionDeniedNamesTheDialoutGroup) {
    auto path = std::filesystem::temp_directory_path() / ("zanth_locked_" + std::to_string(getpid()));
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    chmod(path.c_str(), 0);
    std::string reason = ReasonAsUnprivileged(path.string());
    EXPECT_NE(reason.find("Permission denied"), std::string::npos) << reason;
    EXPECT_NE(reason.find("usermod -aG dialout"), std::string::npos) << reason;
    // In Japanese only the command and the group's name stay as they are.
    std::string ja = ReasonText(reason, Language::kJapanese);
    EXPECT_NE(ja.find("usermod -aG dialout"), std::string::npos) << ja;
    for (const std::string name : {"sudo", "usermod", "-aG", "$USER", "dialout"})
        for (std::size_t at; (at = ja.find(name)) != std::string::npos;) ja.erase(at, name.size());
    EXPECT_EQ(std::count_if(ja.begin(), ja.end(), [](unsigned char c) { return std::isalpha(c); }), 0) << ja;
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace zanth
