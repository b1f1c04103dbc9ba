#include "link/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "link/port_access.h"
#include "link/ports.h"

namespace zanth {
namespace {

using Clock = std::chrono::steady_clock;
using Status = PortResult::Status;
using Kind = LinkFailure::Kind;

Clock::time_point DeadlineIn(int ms) {
    return Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
}

// Milliseconds left until `deadline`, rounded up so that a wait never ends just short of it (and a loop never
// polls with a zero timeout while time remains).
int MsUntil(Clock::time_point deadline) {
    auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<long long>(ms, 1 << 30));
}

PortResult Failed(Kind kind, std::string detail, int count = 0) {
    PortResult r;
    r.status = Status::kFailed;
    r.count = count;
    r.kind = kind;
    r.detail = std::move(detail);
    return r;
}

// A failure that poll reported without an error number.
PortResult FailedFromEvents(short revents, int count) {
    if (revents & POLLHUP) return Failed(Kind::kUnplugged, "hang-up", count);
    if (revents & POLLNVAL) return Failed(Kind::kOther, "invalid descriptor", count);
    return Failed(Kind::kIoError, "error condition on the device", count);
}

// Input to be dropped is read in blocks of this size, and at most this many blocks at a time.
constexpr int kDropBlockBytes = 4096;
constexpr int kDropBlocksAtMost = 256;
// The line discipline holds only 4 KiB of input and passes the rest on as it is read; at 115200 baud this
// gap lets about 600 bytes gather, so that whatever came in a discard's time is gone at its end.
constexpr int kDropEveryMs = 50;

// Flow control and the rest stay as the driver had them; raw mode is needed all the same, or the line
// discipline would echo the robot's replies back to it and translate frame bytes such as 0x0D.
void ConfigureLine(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return;
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &tio);  // a driver that refuses keeps its settings; the link goes on
}

// The programs holding the device, where the system tells.
std::string AddHolders(std::string text, const std::string& device) {
    const std::string holders = DeviceHolders(device);
    return holders.empty() ? text : text + ": " + holders;
}

}  // namespace

static_assert(kBaudRate == 115200, "ConfigureLine sets B115200");

std::unique_ptr<SerialPort> SerialPort::Open(const std::string& device, std::string* reason) {
    auto fail = [&](std::string text) -> std::unique_ptr<SerialPort> {
        if (reason != nullptr) *reason = std::move(text);
        return nullptr;
    };
    if (device.empty()) return fail("no such serial device");
    // Refused although the system would take it: other readers of the settings file cut such a path, so it
    // would open another device for them.
    if (std::string refused = DevicePathRefusal(device); !refused.empty()) return fail(refused);

    // Non-blocking, so that opening a modem line never waits for carrier; every wait below sleeps in poll.
    // Close-on-exec, so that a program we start (the manual's viewer) never holds the robot's port.
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        std::string text = std::strerror(error);
        if (error == EACCES) text += " (" + PermissionHint(device) + ")";
        if (error == EBUSY) text = AddHolders(text, device);
        return fail(text);
    }
    if (!isatty(fd)) {
        close(fd);
        return fail("not a serial device");
    }
    // Two programs writing frames to one robot would interleave their messages. flock holds for everyone,
    // TIOCEXCL also stops programs that do not lock (root excepted).
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        close(fd);
        return fail(error == EWOULDBLOCK ? AddHolders("the port is in use by another program", device)
                                         : std::strerror(error));
    }
    ioctl(fd, TIOCEXCL);
    ConfigureLine(fd);
    return std::unique_ptr<SerialPort>(new SerialPort(device, fd));
}

SerialPort::~SerialPort() {
    // The exclusive flag outlives our descriptor when someone else (a simulator) keeps the terminal open.
    ioctl(fd_, TIOCNXCL);
    // A driver may hold close() until queued output has gone out, which on a line that takes nothing is for
    // ever (or its closing wait of many seconds).
    Flush();
    close(fd_);
}

PortResult SerialPort::Failure(int error) const {
    // A hung-up terminal answers reads with end of file but writes and ioctls with EIO; poll tells them
    // apart (POLLHUP is reported even when not asked for).
    pollfd p{fd_, 0, 0};
    bool hungUp = poll(&p, 1, 0) > 0 && (p.revents & POLLHUP) != 0;
    Kind kind = Kind::kOther;
    if (hungUp || error == ENXIO || error == ENODEV)
        kind = Kind::kUnplugged;
    else if (error == EIO)
        kind = Kind::kIoError;
    return Failed(kind, std::strerror(error));
}

// Reads into `buffer` until `n` bytes have come, or, with a null buffer, drops everything, until the time
// runs out, `wakeFd` fires or the port fails.
PortResult SerialPort::Collect(std::uint8_t* buffer, int n, int ms, int wakeFd) {
    PortResult result;
    const auto deadline = DeadlineIn(ms);
    std::uint8_t scratch[4096];
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        int ready = poll(fds, wakeFd >= 0 ? 2 : 1, MsUntil(deadline));
        if (ready < 0 && errno != EINTR) return Failure(errno);
        if (ready > 0 && wakeFd >= 0 && fds[1].revents != 0) {
            result.status = Status::kWoken;
            return result;
        }
        if (ready > 0 && fds[0].revents != 0) {
            std::uint8_t* target = buffer != nullptr ? buffer + result.count : scratch;
            std::size_t room =
                buffer != nullptr ? static_cast<std::size_t>(n - result.count) : sizeof scratch;
            ssize_t got = read(fd_, target, room);
            if (got > 0) {
                if (buffer != nullptr) result.count += static_cast<int>(got);
                if (buffer != nullptr && result.count >= n) return result;
            } else if (got == 0) {
                // End of file on a terminal: the other end hung up (USB adapter pulled, pty master closed).
                return Failed(Kind::kUnplugged, "end of file", result.count);
            } else if (errno != EAGAIN && errno != EINTR) {
                PortResult failed = Failure(errno);
                failed.count = result.count;
                return failed;
            } else if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
                return FailedFromEvents(fds[0].revents, result.count);
            }
        }
        if (MsUntil(deadline) == 0) return result;
    }
}

// Input to be dropped is not read as it comes: a line flooded with bytes would wake the thread for every few
// of them. It gathers for a while and is read in large blocks; only a hang-up or an error (reported without
// being asked for) cuts the wait short.
PortResult SerialPort::Discard(int ms, int wakeFd) {
    const auto deadline = DeadlineIn(ms);
    int dropped = 0;
    for (;;) {
        pollfd fds[2] = {{fd_, 0, 0}, {wakeFd, POLLIN, 0}};
        int ready = poll(fds, wakeFd >= 0 ? 2 : 1, std::min(MsUntil(deadline), kDropEveryMs));
        if (ready < 0 && errno != EINTR) return Failure(errno);
        if (ready > 0 && wakeFd >= 0 && fds[1].revents != 0) {
            PortResult r;
            r.status = Status::kWoken;
            r.count = dropped;
            return r;
        }
        PortResult r = DropQueued(ready > 0 ? fds[0].revents : 0);
        r.count += dropped;
        if (r.status != Status::kOk || MsUntil(deadline) == 0) return r;
        dropped = r.count;
    }
}

// Reads what the driver holds, a block at a time, until it holds no more (at most a bounded amount, so that
// a line faster than the reads cannot keep the thread here).
PortResult SerialPort::DropQueued(short revents) {
    PortResult result;
    std::uint8_t block[kDropBlockBytes];
    for (int i = 0; i < kDropBlocksAtMost; ++i) {
        ssize_t got = read(fd_, block, sizeof block);
        if (got > 0) {
            result.count += static_cast<int>(got);
            if (got < static_cast<ssize_t>(sizeof block)) break;
        } else if (got == 0) {
            return Failed(Kind::kUnplugged, "end of file", result.count);
        } else if (errno == EINTR) {
            continue;
        } else if (errno != EAGAIN) {
            PortResult failed = Failure(errno);
            failed.count = result.count;
            return failed;
        } else {
            break;
        }
    }
    if (revents & (POLLERR | POLLHUP | POLLNVAL)) return FailedFromEvents(revents, result.count);
    return result;
}

PortResult SerialPort::Read(std::uint8_t* buffer, int n, int ms, int wakeFd) {
    if (buffer == nullptr || n <= 0) return {};
    return Collect(buffer, n, ms, wakeFd);
}

PortResult SerialPort::Write(const WireMessage& message, int ms, int wakeFd) {
    PortResult result;
    const auto deadline = DeadlineIn(ms);
    const int size = static_cast<int>(message.size());
    while (result.count < size) {
        ssize_t put =
            write(fd_, message.data() + result.count, static_cast<std::size_t>(size - result.count));
        if (put > 0) {
            result.count += static_cast<int>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN) {
            PortResult failed = Failure(errno);
            failed.count = result.count;
            return failed;
        }
        // The driver's buffer is full (or output is stopped): wait for room.
        int left = MsUntil(deadline);
        if (left == 0) {
            result.status = Status::kTimedOut;
            return result;
        }
        bool wakeable = wakeFd >= 0 && result.count == 0;
        pollfd fds[2] = {{fd_, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
        int ready = poll(fds, wakeable ? 2 : 1, left);
        if (ready < 0 && errno != EINTR) return Failure(errno);
        if (ready > 0 && wakeable && fds[1].revents != 0) {
            result.status = Status::kWoken;
            return result;
        }
        short events = fds[0].revents;
        if (ready > 0 && (events & (POLLERR | POLLHUP | POLLNVAL)) && !(events & POLLOUT))
            return FailedFromEvents(events, result.count);
    }
    return result;
}

PortResult SerialPort::Drain(int ms, int wakeFd) {
    const auto deadline = DeadlineIn(ms);
    for (;;) {
        int queued = 0;
        if (ioctl(fd_, TIOCOUTQ, &queued) != 0) return Failure(errno);
        if (queued <= 0) return {};
        int left = MsUntil(deadline);
        if (left == 0) {
            PortResult r;
            r.status = Status::kTimedOut;
            return r;
        }
        // Ten bit times per byte: look again about when the queued bytes should have gone.
        long long due = static_cast<long long>(queued) * 10 * 1000 / kBaudRate + 1;
        pollfd wake{wakeFd, POLLIN, 0};
        int ready = poll(&wake, wakeFd >= 0 ? 1 : 0, static_cast<int>(std::min<long long>({due, 10, left})));
        if (ready > 0) {
            PortResult r;
            r.status = Status::kWoken;
            return r;
        }
    }
}

void SerialPort::Flush() {
    // Only when the driver still holds output: on a pseudo-terminal, whose driver never does, TCOFLUSH
    // throws away what has reached the other side and not been read there yet.
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued > 0) tcflush(fd_, TCOFLUSH);
}

}  // namespace zanth
