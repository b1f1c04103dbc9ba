#include "link/simulated_robot.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "link/serial_port.h"

namespace zanth {
namespace {

namespace fs = std::filesystem;

constexpr const char* kProgramName = "zanth-robot-sim";
// A simulator that ignores SIGTERM this long is killed.
constexpr auto kTermGrace = std::chrono::milliseconds(500);
// The first line names a device; anything longer is not the simulator speaking.
constexpr std::size_t kLineLimit = 4096;

std::mutex logMutex;
std::string logPath;  // guarded by logMutex

bool IsExecutableFile(const fs::path& file) {
    struct stat st {};
    return stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(file.c_str(), X_OK) == 0;
}

std::string SelfDir() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : self.parent_path().string();
}

std::string Errno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

// The simulator's process and the thread that keeps it. The child is forked by that thread, which lives
// until the child has ended: PR_SET_PDEATHSIG fires when the forking thread ends, so a thread that opened
// the port and went away must not be the parent. The thread also drains the child's output (a full pipe
// would stop the simulator) and waits for its end without reaping it, so that a signal sent meanwhile can
// never reach another process that took its pid; the owner reaps it.
class SimulatorChild {
  public:
    static std::unique_ptr<SimulatorChild> Start(std::vector<std::string> argv, std::string* reason);
    ~SimulatorChild();
    SimulatorChild(const SimulatorChild&) = delete;
    SimulatorChild& operator=(const SimulatorChild&) = delete;

    pid_t pid() const { return pid_; }
    // The first line the child printed, waiting at most `ms` or until `wakeFd` is readable; false with
    // `reason` when none came.
    bool FirstLine(int ms, int wakeFd, std::string* line, std::string* reason);

  private:
    SimulatorChild() = default;
    void Keep(std::vector<std::string> argv, int out, int in);
    void Spawn(std::vector<std::string>& argv, int in);
    void Drain(int out);
    void SayLineDone();  // under mutex_

    std::thread keeper_;
    int readyFd_ = -1;  // readable once the first line came or the output ended
    std::mutex mutex_;
    std::condition_variable changed_;
    pid_t pid_ = -1;        // set once by the keeper before readyFd_ or started_ says so
    bool started_ = false;  // the fork was tried
    bool exited_ = false;
    bool lineDone_ = false;
    std::string line_;
    std::string error_;
};

std::unique_ptr<SimulatorChild> SimulatorChild::Start(std::vector<std::string> argv, std::string* reason) {
    std::unique_ptr<SimulatorChild> child(new SimulatorChild);
    int out[2];
    child->readyFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (child->readyFd_ < 0 || pipe2(out, O_CLOEXEC) != 0) {
        *reason = Errno("cannot start the robot simulator");
        return nullptr;
    }
    try {
        child->keeper_ = std::thread(&SimulatorChild::Keep, child.get(), std::move(argv), out[0], out[1]);
    } catch (const std::system_error& e) {
        close(out[0]);
        close(out[1]);
        *reason = std::string("cannot start the robot simulator: ") + e.what();
        return nullptr;
    }
    std::unique_lock lock(child->mutex_);
    child->changed_.wait(lock, [&] { return child->started_; });
    if (child->pid_ <= 0) {
        *reason = child->error_;
        lock.unlock();
        return nullptr;
    }
    return child;
}

void SimulatorChild::Keep(std::vector<std::string> argv, int out, int in) {
    Spawn(argv, in);
    close(in);
    if (pid_ <= 0) {
        close(out);
        return;
    }
    Drain(out);
    close(out);
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    std::lock_guard lock(mutex_);
    exited_ = true;
    changed_.notify_all();
}

void SimulatorChild::Spawn(std::vector<std::string>& argv, int in) {
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec: the parent has other threads.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);  // the program ended before the line above took hold
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);  // the program may block SIGTERM for its own handling
        for (int s : {SIGTERM, SIGINT, SIGPIPE, SIGHUP}) signal(s, SIG_DFL);
        const int null = open("/dev/null", O_RDONLY);
        if (null < 0 || dup2(null, STDIN_FILENO) < 0 || dup2(in, STDOUT_FILENO) < 0) _exit(127);
        close_range(3, ~0U, 0);  // nothing of the program's (its port, its settings lock) leaks in
        execv(args[0], args.data());
        _exit(127);
    }
    std::lock_guard lock(mutex_);
    pid_ = pid;
    if (pid < 0) error_ = Errno("cannot start the robot simulator");
    started_ = true;
    changed_.notify_all();
}

void SimulatorChild::Drain(int out) {
    std::string first;
    bool seen = false;
    char chunk[4096];
    for (;;) {
        const ssize_t got = read(out, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        if (seen) continue;
        first.append(chunk, static_cast<std::size_t>(got));
        const auto nl = first.find('\n');
        if (nl == std::string::npos && first.size() < kLineLimit) continue;
        seen = true;
        std::lock_guard lock(mutex_);
        line_ = first.substr(0, std::min(nl, kLineLimit));
        SayLineDone();
    }
    std::lock_guard lock(mutex_);
    if (!lineDone_) SayLineDone();
}

void SimulatorChild::SayLineDone() {
    lineDone_ = true;
    std::uint64_t one = 1;
    while (write(readyFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

bool SimulatorChild::FirstLine(int ms, int wakeFd, std::string* line, std::string* reason) {
    const auto deadline = DeadlineIn(ms);
    for (;;) {
        pollfd fds[2] = {{readyFd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int ready = poll(fds, wakeFd >= 0 ? 2 : 1, MsUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready > 0 && fds[0].revents != 0) break;
        *reason = ready > 0 ? "cancelled" : "the robot simulator did not say which line it made";
        return false;
    }
    std::lock_guard lock(mutex_);
    *line = line_;
    if (line_.empty()) *reason = "the robot simulator ended at once";
    return !line_.empty();
}

SimulatorChild::~SimulatorChild() {
    if (keeper_.joinable()) {
        std::unique_lock lock(mutex_);
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGTERM);
            if (!changed_.wait_for(lock, kTermGrace, [this] { return exited_; })) {
                kill(pid_, SIGKILL);
                changed_.wait(lock, [this] { return exited_; });
            }
        }
        lock.unlock();
        keeper_.join();
    }
    if (pid_ > 0) {
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (readyFd_ >= 0) close(readyFd_);
}

// ---- Finding the simulator

bool IsSimulatedRobot(const std::string& device) {
    const std::string token = kSimulatedRobotDevice;
    if (device.size() != token.size()) return false;
    for (std::size_t i = 0; i < token.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(device[i])) != token[i]) return false;
    return true;
}

std::string FindRobotSimulator(const std::string& selfDir, const std::string& pathEnv) {
    if (!selfDir.empty()) {
        for (const fs::path& dir : {fs::path(selfDir), fs::path(selfDir) / "tools" / "robot_sim"})
            if (IsExecutableFile(dir / kProgramName)) return (dir / kProgramName).string();
    }
    std::size_t from = 0;
    while (from <= pathEnv.size()) {
        const std::size_t colon = std::min(pathEnv.find(':', from), pathEnv.size());
        const std::string dir = pathEnv.substr(from, colon - from);
        // An empty or relative entry would find a program in whatever folder the user started from.
        if (!dir.empty() && dir.front() == '/' && IsExecutableFile(fs::path(dir) / kProgramName))
            return (fs::path(dir) / kProgramName).string();
        from = colon + 1;
    }
    return {};
}

std::string FindRobotSimulator() {
    if (const char* chosen = std::getenv("ZANTH_ROBOT_SIM"); chosen != nullptr)
        return chosen[0] != '\0' && IsExecutableFile(chosen) ? std::string(chosen) : std::string();
    const char* path = std::getenv("PATH");
    return FindRobotSimulator(SelfDir(), path != nullptr ? path : "");
}

void SetRobotSimulatorLog(const std::string& path) {
    std::lock_guard lock(logMutex);
    logPath = path;
}

std::string RobotSimulatorLog() {
    std::lock_guard lock(logMutex);
    return logPath;
}

// ---- The port

std::unique_ptr<SimulatedRobot> SimulatedRobot::Open(const std::string& program, const std::string& logPath,
                                                     int ms, int wakeFd, std::string* reason) {
    std::string ignored;
    if (reason == nullptr) reason = &ignored;
    if (program.empty()) {
        *reason = "the robot simulator (zanth-robot-sim) is not installed";
        return nullptr;
    }
    std::vector<std::string> argv = {program, "--keep-open"};
    if (!logPath.empty()) {
        std::error_code ec;
        fs::create_directories(fs::path(logPath).parent_path(), ec);
        if (!ec) argv.insert(argv.end(), {"--log", logPath});
    }
    std::unique_ptr<SimulatorChild> child = SimulatorChild::Start(std::move(argv), reason);
    std::string line;
    if (child == nullptr || !child->FirstLine(ms, wakeFd, &line, reason)) return nullptr;
    if (line.rfind("/dev/", 0) != 0) {
        *reason = "the robot simulator named no device";
        return nullptr;
    }
    std::unique_ptr<SerialPort> port = SerialPort::Open(line, reason);
    if (port == nullptr) return nullptr;
    return std::unique_ptr<SimulatedRobot>(new SimulatedRobot(std::move(child), std::move(port)));
}

SimulatedRobot::SimulatedRobot(std::unique_ptr<SimulatorChild> child, std::unique_ptr<SerialPort> port)
    : child_(std::move(child)), port_(std::move(port)) {}

SimulatedRobot::~SimulatedRobot() {
    port_.reset();
    child_.reset();
}

pid_t SimulatedRobot::pid() const {
    return child_->pid();
}

const std::string& SimulatedRobot::Device() const {
    return port_->Device();
}

PortResult SimulatedRobot::Discard(int ms, int wakeFd) {
    return port_->Discard(ms, wakeFd);
}

PortResult SimulatedRobot::Read(std::uint8_t* buffer, int n, int ms, int wakeFd) {
    return port_->Read(buffer, n, ms, wakeFd);
}

PortResult SimulatedRobot::Write(const WireMessage& message, int ms, int wakeFd) {
    return port_->Write(message, ms, wakeFd);
}

PortResult SimulatedRobot::Drain(int ms, int wakeFd) {
    return port_->Drain(ms, wakeFd);
}

void SimulatedRobot::Flush() {
    port_->Flush();
}

int SimulatedRobot::NativeHandle() const {
    return port_->NativeHandle();
}

}  // namespace zanth
