#pragma once
#include <sys/types.h>

#include <memory>
#include <string>

#include "link/port.h"

namespace zanth {

// What the port list's "Simulated robot" entry opens. Only the bundled simulator found by
// FindRobotSimulator() is ever started for it, whatever else the entry's text might name.
inline constexpr const char* kSimulatedRobotDevice = "sim://zanth-robot-sim";
// The simulator's log (every message it received, decoded) in the Data folder.
inline constexpr const char* kRobotSimLogName = "robot-sim.log";
// How long the simulator may take to say which pseudo-terminal it made.
inline constexpr int kRobotSimStartMs = 3000;

// True for kSimulatedRobotDevice (any case of the scheme).
bool IsSimulatedRobot(const std::string& device);

// The robot simulator program: zanth-robot-sim in `selfDir` (an installed program's folder), in
// `selfDir`/tools/robot_sim (a build tree), else the first on `pathEnv` (a ':'-separated list); an
// executable regular file, or empty.
std::string FindRobotSimulator(const std::string& selfDir, const std::string& pathEnv);
// The same for this program and $PATH; $ZANTH_ROBOT_SIM, when set, names the program instead (empty: none).
std::string FindRobotSimulator();

// Where the simulator started from now on writes its log; empty: no log. Any thread.
void SetRobotSimulatorLog(const std::string& path);
std::string RobotSimulatorLog();

class SimulatorChild;
class SerialPort;

// The bundled robot simulator as a port: a child process making a pseudo-terminal, opened as a serial
// device. The port owns the child: closing the port ends and reaps it, and the child ends with this
// program however it ends (a crash or a kill included).
class SimulatedRobot final : public Port {
  public:
    // Starts `program` (writing its log to `logPath` when not empty), waits at most `ms` for the
    // pseudo-terminal it names and opens it. Null with `reason` on failure, or when `wakeFd` (-1: none)
    // becomes readable first; the child is then gone.
    static std::unique_ptr<SimulatedRobot> Open(const std::string& program, const std::string& logPath,
                                                int ms, int wakeFd, std::string* reason);
    ~SimulatedRobot() override;
    SimulatedRobot(const SimulatedRobot&) = delete;
    SimulatedRobot& operator=(const SimulatedRobot&) = delete;

    // The simulator's process id (for tests and the log).
    pid_t pid() const;

    const std::string& Device() const override;
    PortResult Discard(int ms, int wakeFd) override;
    PortResult Read(std::uint8_t* buffer, int n, int ms, int wakeFd) override;
    PortResult Write(const WireMessage& message, int ms, int wakeFd) override;
    PortResult Drain(int ms, int wakeFd) override;
    void Flush() override;
    int NativeHandle() const override;

  private:
    SimulatedRobot(std::unique_ptr<SimulatorChild> child, std::unique_ptr<SerialPort> port);

    std::unique_ptr<SimulatorChild> child_;
    std::unique_ptr<SerialPort> port_;  // closed before the child ends
};

}  // namespace zanth
