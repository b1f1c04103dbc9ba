#include "link/serial.h"

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
#include <filesystem>
#include <optional>
#include <system_error>

#include "model/ini_file.h"

namespace zanth {

struct SerialPort {
    int fd = -1;
};

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kOpenDiscardMs = 500;
constexpr int kFrameDiscardMs = 100;
constexpr int kMessageBytes = 9;
constexpr int kMaxFrameBytes = 8;
// A port that takes no output for this long (hardware flow control held off) gives up the write; the original
// would wait for ever and freeze the program with it.
constexpr int kWriteStallMs = 2000;

std::string ErrnoText(int error) {
    return std::strerror(error);
}

// Milliseconds left until `deadline`, rounded up so that a wait never ends just short of it (and a loop never
// polls with a zero timeout while time remains).
int MsUntil(Clock::time_point deadline) {
    auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<long long>(ms, 1 << 30));
}

void SleepUntil(Clock::time_point deadline) {
    for (int ms = MsUntil(deadline); ms > 0; ms = MsUntil(deadline)) poll(nullptr, 0, ms);
}

std::optional<speed_t> SpeedFor(int baudRate) {
    switch (baudRate) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 921600:
            return B921600;
        default:
            return std::nullopt;
    }
}

std::optional<tcflag_t> SizeFor(int byteSize) {
    switch (byteSize) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        case 8:
            return CS8;
        default:
            return std::nullopt;
    }
}

// The input side of one wait: up to `capacity` bytes into `buffer` (nullptr discards them), returning when
// `wanted` bytes have come (0 = never), at the deadline, on `wakeFd`, or when the port fails.
ComResult Collect(int fd, std::uint8_t* buffer, int capacity, int wanted, Clock::time_point deadline,
                  int wakeFd) {
    ComResult result;
    std::uint8_t scratch[4096];
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        int ready = poll(fds, wakeFd >= 0 ? 2 : 1, MsUntil(deadline));
        if (ready < 0 && errno != EINTR) {
            result.status = ComStatus::kFailed;
            result.reason = ErrnoText(errno);
            return result;
        }
        if (ready > 0 && wakeFd >= 0 && fds[1].revents != 0) {
            result.status = ComStatus::kWoken;
            return result;
        }
        if (ready > 0 && fds[0].revents != 0) {
            std::uint8_t* target = scratch;
            std::size_t room = sizeof scratch;
            if (buffer != nullptr) {
                target = buffer + result.count;
                room = static_cast<std::size_t>(capacity - result.count);
            }
            ssize_t got = read(fd, target, room);
            if (got > 0) {
                if (buffer != nullptr) result.count += static_cast<int>(got);
                if (wanted > 0 && result.count >= wanted) return result;
            } else if (got == 0) {
                // End of file on a terminal: the other end hung up (USB adapter pulled, pty master closed).
                result.status = ComStatus::kFailed;
                result.reason = "the device was disconnected";
                return result;
            } else if (errno != EAGAIN && errno != EINTR) {
                result.status = ComStatus::kFailed;
                result.reason = ErrnoText(errno);
                return result;
            } else if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
                result.status = ComStatus::kFailed;
                result.reason =
                    (fds[0].revents & POLLHUP) ? "the device was disconnected" : "input/output error";
                return result;
            }
        }
        if (MsUntil(deadline) == 0) return result;
    }
}

// Writes all of `data`, waiting (sleeping) while the driver's buffer is full, then waits until it has sent
// them. On failure the count says how much went out. `wakeFd` may end a wait only while nothing has been
// written yet: once started, a message goes out whole.
ComResult WriteAll(int fd, const std::uint8_t* data, int n, int wakeFd) {
    ComResult result;
    while (result.count < n) {
        ssize_t put = write(fd, data + result.count, static_cast<std::size_t>(n - result.count));
        if (put > 0) {
            result.count += static_cast<int>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN) {
            result.status = ComStatus::kFailed;
            result.reason = ErrnoText(errno);
            return result;
        }
        pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
        bool wakeable = wakeFd >= 0 && result.count == 0;
        int ready = poll(fds, wakeable ? 2 : 1, kWriteStallMs);
        const pollfd& p = fds[0];
        if (ready > 0 && wakeable && fds[1].revents != 0) {
            result.status = ComStatus::kWoken;
            return result;
        }
        if (ready == 0) {
            result.status = ComStatus::kFailed;
            result.reason = "the device takes no output";
            return result;
        }
        if (ready > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT)) {
            result.status = ComStatus::kFailed;
            result.reason = "the device was disconnected";
            return result;
        }
    }
    while (tcdrain(fd) != 0) {
        if (errno == EINTR) continue;
        result.status = ComStatus::kFailed;
        result.reason = ErrnoText(errno);
        break;
    }
    return result;
}

// The message on the wire: command byte, then exactly 8 frame bytes.
void BuildMessage(std::uint8_t (&message)[16], const std::uint8_t* data, int length, bool replyWanted) {
    std::memset(message, 0, sizeof message);
    message[0] = replyWanted ? 'k' : 'K';
    int copy = data == nullptr ? 0 : std::clamp(length, 0, kMaxFrameBytes);
    if (copy > 0) std::memcpy(message + 1, data, static_cast<std::size_t>(copy));
}

// Number of a device name "<prefix><digits>", or -1 when the name is not of that form.
long long DeviceNumber(const std::string& name, const std::string& prefix) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return -1;
    if (name.size() - prefix.size() > 9) return -1;
    long long number = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return -1;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

}  // namespace

PortHandle ComOpenNoDiscard(const std::string& device, int baudRate, int byteSize, int parity,
                            std::string* reason) {
    auto fail = [&](std::string text) -> PortHandle {
        if (reason != nullptr) *reason = std::move(text);
        return nullptr;
    };
    auto speed = SpeedFor(baudRate);
    auto size = SizeFor(byteSize);
    if (!speed) return fail("unsupported baud rate " + std::to_string(baudRate));
    if (!size) return fail("unsupported byte size " + std::to_string(byteSize));
    if (parity < 0 || parity > 2) return fail("unsupported parity " + std::to_string(parity));
    if (device.empty()) return fail("no such serial device");

    // Non-blocking, so that opening a modem line never waits for carrier; every wait below sleeps in poll.
    // Close-on-exec, so that a program we start (the manual's viewer) never holds the robot's port.
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        std::string text = ErrnoText(error);
        if (error == EACCES) text += " (the user may need to be in the dialout group)";
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
        return fail(error == EWOULDBLOCK ? "the port is in use by another program" : ErrnoText(error));
    }
    ioctl(fd, TIOCEXCL);

    // Flow control and the rest stay as the driver had them; raw mode is needed all the same, or the line
    // discipline would echo the robot's replies back to it and translate frame bytes such as 0x0D.
    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, *speed);
        cfsetospeed(&tio, *speed);
        tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
        tio.c_cflag |= *size | CLOCAL | CREAD;
        if (parity != 0) {
            tio.c_cflag |= PARENB | (parity == 1 ? PARODD : 0);
            tio.c_iflag |= INPCK;
        }
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &tio);  // a driver that refuses keeps its settings; the link goes on
    }
    return new SerialPort{fd};
}

PortHandle ComOpen(const std::string& device, int baudRate, int byteSize, int parity, std::string* reason) {
    PortHandle port = ComOpenNoDiscard(device, baudRate, byteSize, parity, reason);
    ComDrain(port, kOpenDiscardMs);
    return port;
}

int ComDrain(PortHandle port, int durationMs) {
    if (port == nullptr) return 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(std::max(durationMs, 0));
    ComResult r = Collect(port->fd, nullptr, 0, 0, deadline, -1);
    // A failed port answers every poll at once; sleep out the rest so that callers keep their rhythm and
    // never spin on it.
    if (r.status == ComStatus::kFailed) SleepUntil(deadline);
    return 1;
}

int ComRead(PortHandle port, std::uint8_t* buffer, int n, int timeoutMs) {
    if (port == nullptr || buffer == nullptr || n <= 0) return 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    ComResult r = Collect(port->fd, buffer, n, n, deadline, -1);
    if (r.status == ComStatus::kFailed) SleepUntil(deadline);
    return r.count;
}

int ComWrite(PortHandle port, const std::uint8_t* buffer, int n) {
    if (port == nullptr || buffer == nullptr || n <= 0) return 0;
    return WriteAll(port->fd, buffer, n, -1).count;
}

int ComClose(PortHandle port) {
    if (port == nullptr) return 1;
    // The exclusive flag outlives our descriptor when someone else (a simulator) keeps the terminal open.
    ioctl(port->fd, TIOCNXCL);
    close(port->fd);
    delete port;
    return 1;
}

int ComWriteMessage(PortHandle port, const std::uint8_t* data, int length, bool replyWanted) {
    if (port == nullptr) return -1;
    std::uint8_t message[16];
    BuildMessage(message, data, length, replyWanted);
    return ComWrite(port, message, kMessageBytes);
}

int ComSendFrame(PortHandle port, const std::uint8_t* data, int length, bool replyWanted) {
    if (port == nullptr) return -1;
    ComDrain(port, kFrameDiscardMs);
    return ComWriteMessage(port, data, length, replyWanted);
}

int ComFd(PortHandle port) {
    return port == nullptr ? -1 : port->fd;
}

ComResult ComDrainInterruptible(PortHandle port, int durationMs, int wakeFd) {
    if (port == nullptr) return {ComStatus::kFailed, 0, "not connected"};
    auto deadline = Clock::now() + std::chrono::milliseconds(std::max(durationMs, 0));
    return Collect(port->fd, nullptr, 0, 0, deadline, wakeFd);
}

ComResult ComReadInterruptible(PortHandle port, std::uint8_t* buffer, int n, int timeoutMs, int wakeFd) {
    if (port == nullptr) return {ComStatus::kFailed, 0, "not connected"};
    if (buffer == nullptr || n <= 0) return {};
    auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    return Collect(port->fd, buffer, n, n, deadline, wakeFd);
}

ComResult ComWriteMessageInterruptible(PortHandle port, const std::uint8_t* data, int length,
                                       bool replyWanted, int wakeFd) {
    if (port == nullptr) return {ComStatus::kFailed, 0, "not connected"};
    std::uint8_t message[16];
    BuildMessage(message, data, length, replyWanted);
    return WriteAll(port->fd, message, kMessageBytes, wakeFd);
}

std::vector<std::string> OrderSerialDevices(const std::vector<std::string>& devEntries) {
    std::vector<std::string> ordered;
    for (const char* prefix : {"ttyUSB", "ttyACM", "ttyS"}) {
        std::vector<std::pair<long long, std::string>> group;
        for (const std::string& name : devEntries) {
            long long number = DeviceNumber(name, prefix);
            if (number >= 0) group.emplace_back(number, name);
        }
        std::sort(group.begin(), group.end());
        group.erase(std::unique(group.begin(), group.end()), group.end());
        for (auto& [number, name] : group) ordered.push_back("/dev/" + name);
    }
    return ordered;
}

std::vector<std::string> ListSerialDevices() {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/dev", ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    return OrderSerialDevices(names);
}

std::string ResolveComPort(int number, const IniFile& settings, const std::vector<std::string>& devices) {
    if (number < 1) return {};
    std::string mapped = settings.GetString("PORTS", "COM" + std::to_string(number), "", 2048);
    if (!mapped.empty()) return mapped;
    if (static_cast<std::size_t>(number) > devices.size()) return {};
    return devices[static_cast<std::size_t>(number) - 1];
}

std::string ResolveComPort(int number, const IniFile& settings) {
    return ResolveComPort(number, settings, ListSerialDevices());
}

}  // namespace zanth
