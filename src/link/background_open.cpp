#include "link/background_open.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "link/port_catalog.h"
#include "link/serial_port.h"
#include "link/simulated_robot.h"
#include "link/tcp_port.h"

namespace zanth {
namespace {

using Clock = std::chrono::steady_clock;

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

BackgroundOpener::BackgroundOpener(QObject* parent) : QObject(parent) {
    connect(this, &BackgroundOpener::tried, this, &BackgroundOpener::OnTried, Qt::QueuedConnection);
}

BackgroundOpener::~BackgroundOpener() {
    Cancel();
}

bool BackgroundOpener::Begin(std::string device, OpenFn open, int periodMs, int tries, std::string* reason,
                             int delayMs) {
    Cancel();
    tries_ = 0;
    nudgeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (nudgeFd_ < 0) {
        if (reason != nullptr) *reason = std::strerror(errno);
        return false;
    }
    const quint64 generation = generation_;
    auto run = [=, this, device = std::move(device), open = std::move(open)]() mutable {
        Run(std::move(device), std::move(open), periodMs, tries, delayMs, generation);
    };
    if (!thread_.Start(std::move(run), reason)) {
        Cancel();
        return false;
    }
    return true;
}

void BackgroundOpener::TryNow() {
    std::uint64_t one = 1;
    while (nudgeFd_ >= 0 && write(nudgeFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void BackgroundOpener::Cancel() {
    thread_.Stop();
    if (nudgeFd_ >= 0) close(nudgeFd_);
    nudgeFd_ = -1;
    // Results the ended tries sent may still be on their way: they count for no try now.
    ++generation_;
    std::lock_guard lock(mutex_);
    port_.reset();
}

std::unique_ptr<Port> BackgroundOpener::Take() {
    std::lock_guard lock(mutex_);
    return std::move(port_);
}

void BackgroundOpener::Report(quint64 generation, Outcome outcome, const std::string& reason) {
    emit tried(generation, outcome, QString::fromStdString(reason), QPrivateSignal{});
}

void BackgroundOpener::OnTried(quint64 generation, Outcome outcome, const QString& reason) {
    if (generation != generation_) return;
    switch (outcome) {
        case Outcome::kOpened:
            emit opened();
            break;
        case Outcome::kFailed:
            emit tryFailed(reason);
            break;
        case Outcome::kGaveUp:
            emit gaveUp(reason);
            break;
    }
}

void BackgroundOpener::Run(std::string device, OpenFn open, int periodMs, int tries, int delayMs,
                           quint64 generation) {
    if (delayMs > 0 && !Sleep(Clock::now() + std::chrono::milliseconds(delayMs))) return;
    const int stopFd = thread_.wakeFd();
    std::string reason;
    for (;;) {
        const auto began = Clock::now();
        ++tries_;
        Consume(nudgeFd_);
        std::unique_ptr<Port> port = open(device, stopFd, &reason);
        pollfd stop{stopFd, POLLIN, 0};
        if (poll(&stop, 1, 0) > 0) return;  // cancelled: a port that opened meanwhile closes here
        if (port != nullptr) {
            {
                std::lock_guard lock(mutex_);
                port_ = std::move(port);
            }
            Report(generation, Outcome::kOpened, {});
            return;
        }
        if (tries > 0 && tries_ >= tries) {
            Report(generation, Outcome::kGaveUp, reason);
            return;
        }
        Report(generation, Outcome::kFailed, reason);
        if (!Sleep(began + std::chrono::milliseconds(periodMs))) return;
    }
}

bool BackgroundOpener::Sleep(Clock::time_point due) {
    pollfd fds[2] = {{thread_.wakeFd(), POLLIN, 0}, {nudgeFd_, POLLIN, 0}};
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
        const int ready = poll(fds, 2, static_cast<int>(std::max<long long>(left, 0)));
        if (ready < 0 && errno == EINTR) continue;
        return !(ready > 0 && fds[0].revents != 0);
    }
}

}  // namespace zanth
