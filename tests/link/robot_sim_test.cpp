#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "link/frame.h"
#include "link/serial_port.h"
#include "sim_process.h"

namespace zanth {
namespace {

using test::SimProcess;
using Clock = std::chrono::steady_clock;

std::unique_ptr<SerialPort> Connect(const SimProcess& sim) {
    std::string reason;
    auto port = SerialPort::Open(sim.path(), &reason);
    EXPECT_NE(port, nullptr) << sim.path() << ": " << reason;
    return port;
}

bool Send(Port& port, const ControllerFrame& frame, bool replyWanted) {
    return port.Write(BuildMessage(frame, replyWanted), 5000, -1).status == PortResult::Status::kOk;
}

TEST(RobotSim, DecodesEveryMessageIntoOneLine) {
    SimProcess sim({"--silent"});
    ASSERT_FALSE(sim.path().empty());
    // Noise goes through a descriptor of its own, opened before the port makes the line exclusive.
    int noise = open(sim.path().c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(noise, 0);
    auto port = Connect(sim);
    ASSERT_NE(port, nullptr);

    struct Case {
        ControllerFrame frame;
        bool reply;
        std::string noise;  // bytes before the message that are not a message start
        std::string line;
    };
    const Case cases[] = {
        {NeutralFrame(true), true, "",
         "k FF FF FF 80 80 80 80 F3 | buttons: - | RX=128 RY=128 LX=128 LY=128 | LED on"},
        // SELECT, PAD LEFT, "4" and F1 held, LED off.
        {{0xFF, 0x7E, 0x7F, 0x00, 0xFF, 0x10, 0xF0, 0xFA},
         false,
         "",
         "K FF 7E 7F 00 FF 10 F0 FA | buttons: SELECT PAD_LEFT 4 F1 | RX=0 RY=255 LX=16 LY=240 | LED off"},
        {{0xFF, 0x00, 0x00, 0x80, 0x80, 0x80, 0x80, 0xF0},
         false,
         "xy\r\n",
         "K FF 00 00 80 80 80 80 F0 | buttons: SELECT L3 R3 START PAD_UP PAD_RIGHT PAD_DOWN PAD_LEFT L2 R2 "
         "L1 R1 1 2 3 4 "
         "F1 F2 | RX=128 RY=128 LX=128 LY=128 | LED on"},
        {{0x00, 0xFF, 0xFF, 0x80, 0x80, 0x80, 0x80, 0xFB},
         false,
         "",
         "K 00 FF FF 80 80 80 80 FB | buttons: - | RX=128 RY=128 LX=128 LY=128 | LED off | bad start byte"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        if (!c.noise.empty()) {
            ASSERT_EQ(write(noise, c.noise.data(), c.noise.size()), ssize_t(c.noise.size()));
        }
        ASSERT_TRUE(Send(*port, c.frame, c.reply));
        EXPECT_EQ(sim.ReadLine(5000), c.line);
    }
    close(noise);
}

// The example lines of --help and of the manual page are what the simulator prints for their bytes.
TEST(RobotSim, TheExamplesItShowsAreWhatItPrints) {
    std::vector<std::string> examples;
    const std::regex line(R"(^\s+([kK](?: [0-9A-F]{2}){8} \| buttons: .*)$)");
    auto collect = [&](std::istream& in) {
        const std::size_t before = examples.size();
        std::smatch m;
        for (std::string text; std::getline(in, text);)
            if (std::regex_match(text, m, line)) examples.push_back(m[1]);
        return examples.size() - before;
    };
    std::string help;
    FILE* out = popen(ZANTH_BINARY_DIR "/tools/robot_sim/zanth-robot-sim --help", "r");
    ASSERT_NE(out, nullptr);
    for (char chunk[512]; std::fgets(chunk, sizeof chunk, out) != nullptr;) help += chunk;
    pclose(out);
    std::istringstream helpText(help);
    EXPECT_GE(collect(helpText), 2u) << help;
    std::ifstream manual(ZANTH_SOURCE_DIR "/docs/zanth-robot-sim.1.md");
    EXPECT_GE(collect(manual), 2u);

    SimProcess sim({"--silent"});
    auto port = Connect(sim);
    ASSERT_NE(port, nullptr);
    for (const std::string& example : examples) {
        WireMessage message{};
        message[0] = static_cast<std::uint8_t>(example[0]);
        for (std::size_t i = 1; i < message.size(); ++i)
            message[i] = static_cast<std::uint8_t>(std::stoi(example.substr(3 * i - 1, 2), nullptr, 16));
        ASSERT_EQ(port->Write(message, 5000, -1).status, PortResult::Status::kOk);
        EXPECT_EQ(sim.ReadLine(5000), example);
    }
}

TEST(RobotSim, AnswersAsTold) {
    struct Case {
        std::vector<std::string> options;
        std::optional<int> value;  // the battery value read back, none for no (valid) reply
        bool anyBytes;
        int atLeastMs;
    };
    const Case cases[] = {
        {{}, 70, true, 0},
        {{"--level", "55"}, 55, true, 0},
        {{"--delay", "200"}, 70, true, 200},
        {{"--garbage"}, std::nullopt, true, 0},
        {{"--silent"}, std::nullopt, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.empty() ? "defaults" : c.options[0]);
        SimProcess sim(c.options);
        ASSERT_FALSE(sim.path().empty());
        auto port = Connect(sim);
        ASSERT_NE(port, nullptr);
        auto start = Clock::now();
        ASSERT_TRUE(Send(*port, NeutralFrame(true), true));
        std::uint8_t reply[128];
        // A valid reply ("BB nn ") is 6 bytes; stop there, or give the others time to show what they send.
        int got = port->Read(reply, c.value ? 6 : 128, c.value ? 10000 : 300, -1).count;
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_EQ(ParseBatteryReply(reply, static_cast<std::size_t>(got)), c.value);
        EXPECT_EQ(got > 0, c.anyBytes);
        EXPECT_GE(elapsed, c.atLeastMs);
    }
}

TEST(RobotSim, EndsWhenItsPeerClosesAndLogs) {
    auto log = std::filesystem::temp_directory_path() / ("zanth_sim_" + std::to_string(getpid()) + ".log");
    std::filesystem::remove(log);
    SimProcess sim({"--log", log.string()});
    ASSERT_FALSE(sim.path().empty());
    auto port = Connect(sim);
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(Send(*port, NeutralFrame(false), false));
    port.reset();
    int status = -1;
    std::vector<std::string> lines = sim.LinesUntilExit(10000, &status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(lines.size(), 1u);
    std::ifstream in(log);
    std::string logged;
    std::getline(in, logged);
    EXPECT_EQ(logged, lines[0]);
    std::filesystem::remove(log);
}

double MonotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// A measurement compares the arrival with its own clock: the stamp lies between the send and the line read.
TEST(RobotSim, TimestampsTellTheArrivalOnTheMonotonicClock) {
    SimProcess sim({"--silent", "--timestamps"});
    ASSERT_FALSE(sim.path().empty());
    auto port = Connect(sim);
    ASSERT_NE(port, nullptr);
    const double before = MonotonicSeconds();
    ASSERT_TRUE(Send(*port, NeutralFrame(true), true));
    const std::string line = sim.ReadLine(5000);
    const double after = MonotonicSeconds();
    std::smatch m;
    ASSERT_TRUE(
        std::regex_match(line, m, std::regex(R"((k FF FF FF 80 80 80 80 F3 \| .*) \| at (\d+\.\d{6}))")))
        << line;
    const double at = std::stod(m[2].str());
    EXPECT_GE(at, before - 1e-6);
    EXPECT_LE(at, after + 1e-6);
}

TEST(RobotSim, WaitsForAPeerAndEndsOnSigterm) {
    SimProcess sim({});
    ASSERT_FALSE(sim.path().empty());
    // A peer that opens and closes without sending does not end it (the emulator connecting and disconnecting
    // within its start-up discard).
    Connect(sim).reset();
    auto port = Connect(sim);
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(Send(*port, NeutralFrame(true), false));
    EXPECT_EQ(sim.ReadLine(5000).substr(0, 1), "K");
    EXPECT_EQ(sim.Kill(SIGTERM), 0);
}

}  // namespace
}  // namespace zanth
