// The simulated robot: the bundled simulator found, started as the port's own child, carrying messages both
// ways, and gone when the port closes or the program dies.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "device_tree.h"
#include "link/frame.h"
#include "link/simulated_robot.h"

namespace zanth {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kSimulator = ZANTH_BINARY_DIR "/tools/robot_sim/zanth-robot-sim";
constexpr auto kPatience = std::chrono::seconds(10);

// Ended and reaped by someone: no process, or a zombie left to a parent that is not this test.
bool Gone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = all.rfind(')');
    return !stat.is_open() || all.empty() || (close != std::string::npos && all.substr(close + 2, 1) == "Z");
}

bool WaitGone(pid_t pid) {
    for (const auto until = Clock::now() + kPatience; Clock::now() < until;) {
        if (Gone(pid)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return Gone(pid);
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

void MakeProgram(const fs::path& file, fs::perms perms = fs::perms::owner_all) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "#!/bin/sh\n";
    fs::permissions(file, perms);
}

TEST(SimulatedRobot, FoundBesideTheProgramInItsBuildTreeThenOnAbsolutePathEntries) {
    test::DeviceTree tmp;  // a fresh folder
    const fs::path root = tmp.root();
    MakeProgram(root / "build/tools/robot_sim/zanth-robot-sim");
    MakeProgram(root / "bin/zanth-robot-sim");
    MakeProgram(root / "plain/zanth-robot-sim", fs::perms::owner_read | fs::perms::owner_write);
    MakeProgram(root / "onpath/zanth-robot-sim");
    const std::string onPath = (root / "onpath/zanth-robot-sim").string();
    struct Case {
        std::string selfDir, path, found;
    } cases[] = {
        {(root / "bin").string(), onPath, (root / "bin/zanth-robot-sim").string()},
        {(root / "build").string(), "", (root / "build/tools/robot_sim/zanth-robot-sim").string()},
        {(root / "elsewhere").string(),
         "relative:" + (root / "plain").string() + ":" + (root / "onpath").string(), onPath},
        {"", (root / "plain").string(), ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindRobotSimulator(c.selfDir, c.path), c.found) << c.selfDir << " " << c.path;
    EXPECT_TRUE(IsSimulatedRobot("SIM://zanth-robot-sim"));
    EXPECT_FALSE(IsSimulatedRobot("sim://zanth-robot-sim/../../bin/sh"));
}

TEST(SimulatedRobot, CarriesMessagesBothWaysAndLogsWhatTheRobotReceived) {
    test::DeviceTree tmp;
    const fs::path log = fs::path(tmp.root()) / "Data" / kRobotSimLogName;
    std::string reason;
    auto port = SimulatedRobot::Open(kSimulator, log.string(), kRobotSimStartMs, -1, &reason);
    ASSERT_NE(port, nullptr) << reason;
    EXPECT_EQ(port->Device().rfind("/dev/", 0), 0u) << port->Device();
    ASSERT_EQ(port->Write(BuildMessage(NeutralFrame(true), true), 5000, -1).status, PortResult::Status::kOk);
    std::string reply;
    for (const auto until = Clock::now() + kPatience; reply.size() < 3 && Clock::now() < until;) {
        std::uint8_t b[16];
        const PortResult r = port->Read(b, sizeof b, 500, -1);
        reply.append(reinterpret_cast<const char*>(b), static_cast<std::size_t>(r.count));
    }
    EXPECT_EQ(reply.substr(0, 3), "BB ");
    bool logged = false;
    for (const auto until = Clock::now() + kPatience; !logged && Clock::now() < until;) {
        logged = ReadFile(log).rfind("k ", 0) == 0;
        if (!logged) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(logged) << ReadFile(log);
}

TEST(SimulatedRobot, TheChildIsEndedAndReapedWhenThePortCloses) {
    std::string reason;
    auto port = SimulatedRobot::Open(kSimulator, "", kRobotSimStartMs, -1, &reason);
    ASSERT_NE(port, nullptr) << reason;
    const pid_t pid = port->pid();
    port.reset();
    // Reaped, not a zombie: no process of that id is left.
    EXPECT_NE(access(("/proc/" + std::to_string(pid)).c_str(), F_OK), 0);
}

TEST(SimulatedRobot, TheChildEndsWithAProgramThatIsKilled) {
    int pids[2];
    ASSERT_EQ(pipe(pids), 0);
    const pid_t program = fork();
    ASSERT_GE(program, 0);
    if (program == 0) {
        std::string reason;
        auto port = SimulatedRobot::Open(kSimulator, "", kRobotSimStartMs, -1, &reason);
        const pid_t sim = port != nullptr ? port->pid() : -1;
        (void)!write(pids[1], &sim, sizeof sim);
        for (;;) pause();
    }
    close(pids[1]);
    pid_t sim = -1;
    ASSERT_EQ(read(pids[0], &sim, sizeof sim), static_cast<ssize_t>(sizeof sim));
    close(pids[0]);
    ASSERT_GT(sim, 0);
    EXPECT_FALSE(Gone(sim));
    kill(program, SIGKILL);
    waitpid(program, nullptr, 0);
    EXPECT_TRUE(WaitGone(sim));
    if (!Gone(sim)) kill(sim, SIGKILL);
}

TEST(SimulatedRobot, AProgramThatNamesNoLineIsRefusedAndReaped) {
    struct Case {
        std::string program, reason;
    } cases[] = {
        {"", "not installed"},
        {"/bin/echo", "named no device"},  // prints its arguments, no device
        {"/bin/false", "ended at once"},
    };
    for (const Case& c : cases) {
        std::string reason;
        EXPECT_EQ(SimulatedRobot::Open(c.program, "", kRobotSimStartMs, -1, &reason), nullptr) << c.program;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.program << ": " << reason;
    }
}

}  // namespace
}  // namespace zanth
