#include "link/background_open.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

#include "link/port_catalog.h"
#include "link/serial_port.h"
#include "link/simulated_robot.h"
#include "link/tcp_port.h"

namespace zanth {
namespace {

using Clock = std::chrono::steady_clock;

void Signal(int fd) {
    std::uint64_t one = 1;
    while (fd >= 0 && write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Consume(int fd) {
    std::uint64_t count = 0;
    while (read(fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

}  // namespace

std::unique_ptr<Port> OpenLinkPort(const std::string& device, int wakeFd, std::string* reason) {
    if (IsTcpAddress(device)) return TcpPort::Open(device, kTcpConnectMs, wakeFd, reason);
    // Only the simulator found here is started, never a program a settings file might name.
    if (IsSimulatedRobot(device))
        return SimulatedRobot::Open(FindRobotSimulator(), RobotSimulatorLog(), kRobotSimStartMs, wakeFd,
                                    reason);
    return SerialPort::Open(device, reason);
}

BackgroundOpener::BackgroundOpener(QObject* parent) : QObject(parent) {}

BackgroundOpener::~BackgroundOpener() {
    Cancel();
}

bool BackgroundOpener::Begin(std::string device, OpenFn open, int periodMs, int tries, std::string* reason,
                             int delayMs) {
    Cancel();
    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    nudgeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    tries_ = 0;
    try {
        if (stopFd_ < 0 || nudgeFd_ < 0) throw std::system_error(errno, std::generic_category());
        thread_ = std::thread(&BackgroundOpener::Run, this, std::move(device), std::move(open), periodMs,
                              tries, delayMs);
    } catch (const std::system_error& e) {
        if (reason != nullptr) *reason = e.what();
        Join();
        return false;
    }
    return true;
}

void BackgroundOpener::TryNow() {
    Signal(nudgeFd_);
}

void BackgroundOpener::Cancel() {
    Signal(stopFd_);
    Join();
    std::lock_guard lock(mutex_);
    port_.reset();
}

void BackgroundOpener::Join() {
    if (thread_.joinable()) thread_.join();
    for (int* fd : {&stopFd_, &nudgeFd_}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

std::unique_ptr<Port> BackgroundOpener::Take() {
    std::lock_guard lock(mutex_);
    return std::move(port_);
}

void BackgroundOpener::Run(std::string device, OpenFn open, int periodMs, int tries, int delayMs) {
    if (delayMs > 0 && !Sleep(Clock::now() + std::chrono::milliseconds(delayMs))) return;
    std::string reason;
    for (;;) {
        const auto began = Clock::now();
        ++tries_;
        Consume(nudgeFd_);
        std::unique_ptr<Port> port = open(device, stopFd_, &reason);
        pollfd stop{stopFd_, POLLIN, 0};
        if (poll(&stop, 1, 0) > 0) return;  // cancelled: a port that opened meanwhile closes here
        if (port != nullptr) {
            {
                std::lock_guard lock(mutex_);
                port_ = std::move(port);
            }
            emit opened();
            return;
        }
        if (tries > 0 && tries_ >= tries) {
            emit gaveUp(QString::fromStdString(reason));
            return;
        }
        emit tryFailed(QString::fromStdString(reason));
        if (!Sleep(began + std::chrono::milliseconds(periodMs))) return;
    }
}

bool BackgroundOpener::Sleep(Clock::time_point due) {
    pollfd fds[2] = {{stopFd_, POLLIN, 0}, {nudgeFd_, POLLIN, 0}};
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
        const int ready = poll(fds, 2, static_cast<int>(std::max<long long>(left, 0)));
        if (ready < 0 && errno == EINTR) continue;
        return !(ready > 0 && fds[0].revents != 0);
    }
}

}  // namespace zanth
