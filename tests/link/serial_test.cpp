#include "link/serial.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "model/ini_file.h"

namespace zanth {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A pseudo-terminal whose master side plays the robot; the port under test opens the terminal side by name.
struct Pty {
    int master = -1;
    int slave = -1;  // kept open so the master never sees a hang-up between our opens
    std::string name;

    // `raw`: the terminal starts raw; otherwise it has the system's default (cooked, echoing) settings and
    // the port under test has to make it raw itself.
    explicit Pty(bool raw = false) {
        char buffer[128];
        termios tio{};
        cfmakeraw(&tio);
        if (openpty(&master, &slave, buffer, raw ? &tio : nullptr, nullptr) == 0) name = buffer;
    }
    ~Pty() {
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
    }
    void CloseMaster() {
        close(master);
        master = -1;
    }
    void Send(const Bytes& bytes) const {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Up to n bytes from the master, waiting at most timeoutMs for each piece.
    Bytes Receive(std::size_t n, int timeoutMs = 5000) const {
        Bytes got;
        while (got.size() < n) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0) break;
            std::uint8_t buffer[256];
            ssize_t r = read(master, buffer, std::min(sizeof buffer, n - got.size()));
            if (r <= 0) break;
            got.insert(got.end(), buffer, buffer + r);
        }
        return got;
    }
};

class SerialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(pty.name.empty());
        std::string reason;
        port = ComOpenNoDiscard(pty.name, 115200, 8, 0, &reason);
        ASSERT_NE(port, nullptr) << reason;
    }
    void TearDown() override { ComClose(port); }

    Pty pty;
    PortHandle port = nullptr;
};

TEST_F(SerialTest, MessageIsAlwaysNineBytes) {
    const Bytes data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    struct Case {
        int length;
        bool reply;
        Bytes expected;
    };
    const Case cases[] = {
        {3, true, {'k', 1, 2, 3, 0, 0, 0, 0, 0}},   {8, false, {'K', 1, 2, 3, 4, 5, 6, 7, 8}},
        {12, true, {'k', 1, 2, 3, 4, 5, 6, 7, 8}},  {0, false, {'K', 0, 0, 0, 0, 0, 0, 0, 0}},
        {-5, false, {'K', 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        EXPECT_EQ(ComWriteMessage(port, data.data(), c.length, c.reply), 9);
        EXPECT_EQ(pty.Receive(9), c.expected);
    }
    // Nothing beyond the ninth byte of the last message.
    EXPECT_TRUE(pty.Receive(1, 50).empty());
}

TEST_F(SerialTest, SendFrameDropsWaitingInputFirst) {
    pty.Send({'B', 'B', ' ', '6', '0', ' '});  // a late reply to an earlier message
    const Bytes frame = {0xFF, 0xFF, 0xFF, 0x80, 0x80, 0x80, 0x80, 0xF3};
    auto start = Clock::now();
    EXPECT_EQ(ComSendFrame(port, frame.data(), 8, true), 9);
    EXPECT_GE(MsSince(start), 100);
    EXPECT_EQ(pty.Receive(9), (Bytes{'k', 0xFF, 0xFF, 0xFF, 0x80, 0x80, 0x80, 0x80, 0xF3}));
    std::uint8_t buffer[16];
    EXPECT_EQ(ComRead(port, buffer, 16, 0), 0);
}

TEST_F(SerialTest, ReadReturnsOnceAllBytesAreIn) {
    pty.Send({'B', 'B', ' ', '7', '0', ' '});
    std::uint8_t buffer[6] = {};
    auto start = Clock::now();
    EXPECT_EQ(ComRead(port, buffer, 6, 20000), 6);
    EXPECT_LT(MsSince(start), 10000);  // far from the 20 s time-out: it did not wait it out
    EXPECT_EQ(Bytes(buffer, buffer + 6), (Bytes{'B', 'B', ' ', '7', '0', ' '}));
}

TEST_F(SerialTest, ReadWithTooFewBytesWaitsOutTheTimeOut) {
    pty.Send({1, 2, 3});
    std::uint8_t buffer[10] = {};
    auto start = Clock::now();
    EXPECT_EQ(ComRead(port, buffer, 10, 60), 3);
    EXPECT_GE(MsSince(start), 60);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{1, 2, 3}));
}

TEST_F(SerialTest, DrainLastsItsDurationAndDropsInput) {
    pty.Send(Bytes(5000, 0x55));  // more than one scratch buffer
    auto start = Clock::now();
    EXPECT_EQ(ComDrain(port, 200), 1);
    EXPECT_GE(MsSince(start), 200);
    std::uint8_t buffer[16];
    EXPECT_EQ(ComRead(port, buffer, 16, 0), 0);
}

// Frame bytes such as 0x0D, 0x11 (XON), 0x13 (XOFF) and 0x03 (interrupt) must cross the line untouched and
// the robot's replies must not be echoed back to it.
TEST_F(SerialTest, LineIsRawBothWays) {
    const Bytes special = {0x0D, 0x0A, 0x11, 0x13, 0x03, 0x1A, 0x7F, 0x00, 0xFF};
    EXPECT_EQ(ComWrite(port, special.data(), static_cast<int>(special.size())), 9);
    EXPECT_EQ(pty.Receive(9), special);

    pty.Send(special);
    std::uint8_t buffer[9] = {};
    EXPECT_EQ(ComRead(port, buffer, 9, 5000), 9);
    EXPECT_EQ(Bytes(buffer, buffer + 9), special);
    EXPECT_TRUE(pty.Receive(1, 50).empty()) << "input was echoed";
}

TEST_F(SerialTest, SecondOpenOfTheSamePortFails) {
    std::string reason;
    EXPECT_EQ(ComOpenNoDiscard(pty.name, 115200, 8, 0, &reason), nullptr);
    EXPECT_EQ(reason, "the port is in use by another program");
    ComClose(port);
    port = ComOpenNoDiscard(pty.name, 115200, 8, 0, &reason);
    EXPECT_NE(port, nullptr) << reason;
}

TEST_F(SerialTest, HungUpPortKeepsTheRhythmAndReportsTheFailure) {
    pty.CloseMaster();
    auto start = Clock::now();
    EXPECT_EQ(ComDrain(port, 100), 1);
    EXPECT_GE(MsSince(start), 100);
    std::uint8_t buffer[8];
    start = Clock::now();
    EXPECT_EQ(ComRead(port, buffer, 8, 50), 0);
    EXPECT_GE(MsSince(start), 50);

    ComResult r = ComReadInterruptible(port, buffer, 8, 20000, -1);
    EXPECT_EQ(r.status, ComStatus::kFailed);
    EXPECT_FALSE(r.reason.empty());
    r = ComWriteMessageInterruptible(port, buffer, 8, false, -1);
    EXPECT_EQ(r.status, ComStatus::kFailed);
}

TEST_F(SerialTest, WakeEndsInterruptibleWaits) {
    int wake = eventfd(1, EFD_CLOEXEC);
    ASSERT_GE(wake, 0);
    std::uint8_t buffer[8];
    auto start = Clock::now();
    EXPECT_EQ(ComDrainInterruptible(port, 20000, wake).status, ComStatus::kWoken);
    EXPECT_EQ(ComReadInterruptible(port, buffer, 8, 20000, wake).status, ComStatus::kWoken);
    EXPECT_LT(MsSince(start), 10000);
    close(wake);
}

TEST(SerialOpen, DiscardsInputOfTheFirst500Ms) {
    Pty pty(true);
    ASSERT_FALSE(pty.name.empty());
    pty.Send({'h', 'e', 'l', 'l', 'o'});  // what the unit says right after the line comes up
    auto start = Clock::now();
    std::string reason;
    PortHandle port = ComOpen(pty.name, 115200, 8, 0, &reason);
    ASSERT_NE(port, nullptr) << reason;
    EXPECT_GE(MsSince(start), 500);
    std::uint8_t buffer[8];
    EXPECT_EQ(ComRead(port, buffer, 8, 20), 0);
    ComClose(port);
}

TEST(SerialOpen, FailuresGiveNullAndAReason) {
    auto dir = std::filesystem::temp_directory_path() / ("zanth_serial_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::string regular = (dir / "plain.txt").string();
    std::FILE* f = std::fopen(regular.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);

    struct Case {
        std::string device;
        int baud;
        std::string reason;
    };
    const Case cases[] = {
        {"/dev/zanth-no-such-device", 115200, "No such file or directory"},
        {"/dev/null", 115200, "not a serial device"},
        {regular, 115200, "not a serial device"},
        {"", 115200, "no such serial device"},
        {"/dev/null", 12345, "unsupported baud rate 12345"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        std::string reason;
        EXPECT_EQ(ComOpenNoDiscard(c.device, c.baud, 8, 0, &reason), nullptr);
        EXPECT_EQ(reason, c.reason);
        EXPECT_EQ(ComOpen(c.device, c.baud, 8, 0), nullptr);  // no reason wanted: must not crash
    }
    std::filesystem::remove_all(dir);
}

TEST(SerialOpen, PermissionDeniedNamesTheDialoutGroup) {
    if (geteuid() == 0) GTEST_SKIP() << "root opens any file; permission denied cannot happen";
    auto path = std::filesystem::temp_directory_path() / ("zanth_locked_" + std::to_string(getpid()));
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    chmod(path.c_str(), 0);
    std::string reason;
    EXPECT_EQ(ComOpenNoDiscard(path.string(), 115200, 8, 0, &reason), nullptr);
    EXPECT_NE(reason.find("Permission denied"), std::string::npos) << reason;
    EXPECT_NE(reason.find("dialout"), std::string::npos) << reason;
    std::filesystem::remove(path);
}

TEST(SerialNullHandle, EveryOperationAnswersAtOnce) {
    std::uint8_t buffer[16] = {};
    auto start = Clock::now();
    EXPECT_EQ(ComDrain(nullptr, 10000), 0);
    EXPECT_EQ(ComRead(nullptr, buffer, 16, 10000), 0);
    EXPECT_EQ(ComWrite(nullptr, buffer, 16), 0);
    EXPECT_EQ(ComClose(nullptr), 1);
    EXPECT_EQ(ComSendFrame(nullptr, buffer, 8, true), -1);
    EXPECT_EQ(ComWriteMessage(nullptr, buffer, 8, false), -1);
    EXPECT_EQ(ComFd(nullptr), -1);
    EXPECT_EQ(ComDrainInterruptible(nullptr, 10000, -1).status, ComStatus::kFailed);
    EXPECT_EQ(ComReadInterruptible(nullptr, buffer, 16, 10000, -1).status, ComStatus::kFailed);
    EXPECT_LT(MsSince(start), 5000);  // none of them waited
}

TEST(SerialPorts, DevicesCountInGroupsInNumericOrder) {
    const std::vector<std::string> listing = {"ttyS1",   "ttyUSB10", "ttyUSB2",  "ttyACM0", "tty0",
                                              "ttyS0",   "ttyUSB",   "ttyUSBx1", "ttyS10",  "ttyS2",
                                              "console", "pts",      "ttyACM1"};
    EXPECT_EQ(OrderSerialDevices(listing),
              (std::vector<std::string>{"/dev/ttyUSB2", "/dev/ttyUSB10", "/dev/ttyACM0", "/dev/ttyACM1",
                                        "/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS10"}));
    EXPECT_TRUE(OrderSerialDevices({}).empty());
}

TEST(SerialPorts, SettingsKeyNamesTheDevice) {
    IniFile settings = IniFile::Parse("[SYSTEM]\nPORT=2\n[ports]\ncom3 = /dev/pts/7\nCOM48=/tmp/robot\n");
    EXPECT_EQ(ResolveComPort(3, settings), "/dev/pts/7");
    EXPECT_EQ(ResolveComPort(48, settings), "/tmp/robot");
    EXPECT_EQ(ResolveComPort(0, settings), "");
    EXPECT_EQ(ResolveComPort(-1, settings), "");
    EXPECT_EQ(ResolveComPort(1000000, settings), "");  // more than the system has
}

}  // namespace
}  // namespace zanth
