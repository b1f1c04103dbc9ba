#include "link/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "link/port_access.h"
#include "link/ports.h"

namespace zanth {
namespace {

using Kind = LinkFailure::Kind;

PortResult FailureOf(int fd, int error, int count) {
    // A hung-up terminal answers reads with end of file but writes and ioctls with EIO; poll tells them
    // apart (POLLHUP is reported even when not asked for).
    pollfd p{fd, 0, 0};
    bool hungUp = poll(&p, 1, 0) > 0 && (p.revents & POLLHUP) != 0;
    Kind kind = Kind::kOther;
    if (hungUp || error == ENXIO || error == ENODEV)
        kind = Kind::kUnplugged;
    else if (error == EIO)
        kind = Kind::kIoError;
    return PortFailure(kind, std::strerror(error), count);
}

constexpr DescriptorPort::Manner kTerminal{
    .socket = false,
    // End of file on a terminal: the other end hung up (USB adapter pulled, pty master closed).
    .endKind = Kind::kUnplugged,
    .endDetail = "end of file",
    .failureOf = FailureOf,
    .eventsFail = true,
    .unsentRequest = TIOCOUTQ,
    .drainStepMs = 10,
    .drainBaud = kBaudRate,
    // Nothing is asked for: only a hang-up or an error, reported unasked, cuts a slice short. The line
    // discipline holds only 4 KiB of input and passes the rest on as it is read; at 115200 baud a slice of
    // 50 ms lets about 600 bytes gather, so that whatever came in a discard's time is gone at its end.
    .discardEvents = 0,
    .discardSliceMs = 50,
};

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

SerialPort::SerialPort(std::string device, int fd)
    : DescriptorPort(fd, kTerminal), device_(std::move(device)) {}

SerialPort::~SerialPort() {
    // The exclusive flag outlives our descriptor when someone else (a simulator) keeps the terminal open.
    ioctl(fd_, TIOCNXCL);
    // A driver may hold close() until queued output has gone out, which on a line that takes nothing is for
    // ever (or its closing wait of many seconds).
    Flush();
    close(fd_);
}

void SerialPort::Flush() {
    // Only when the driver still holds output: on a pseudo-terminal, whose driver never does, TCOFLUSH
    // throws away what has reached the other side and not been read there yet.
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued > 0) tcflush(fd_, TCOFLUSH);
}

}  // namespace zanth
