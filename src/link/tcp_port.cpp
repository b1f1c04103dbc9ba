#include "link/tcp_port.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "base/ui_text.h"
#include "link/ports.h"

namespace zanth {
namespace {

using Clock = std::chrono::steady_clock;
using Status = PortResult::Status;
using Kind = LinkFailure::Kind;

// Input to be dropped is read in blocks of this size, and at most this many blocks at a time.
constexpr int kDropBlockBytes = 4096;
constexpr int kDropBlocksAtMost = 256;

// Data the bridge has not acknowledged for this long ends the connection (ETIMEDOUT): the robot is out of
// range or the bridge hangs, and the link goes looking for it again.
constexpr unsigned kUnacknowledgedMs = 3000;

int MsUntil(Clock::time_point deadline) {
    auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    return static_cast<int>(
        std::min<long long>(std::chrono::ceil<std::chrono::milliseconds>(left).count(), 1 << 30));
}

PortResult Failed(Kind kind, std::string detail, int count = 0) {
    PortResult r;
    r.status = Status::kFailed;
    r.count = count;
    r.kind = kind;
    r.detail = std::move(detail);
    return r;
}

PortResult FromErrno(int error, int count = 0) {
    // The bridge closed or reset the connection. The rest (time-outs, unreachable networks) are told in the
    // system's words.
    Kind kind = error == ECONNRESET || error == EPIPE ? Kind::kHungUp : Kind::kOther;
    return Failed(kind, std::strerror(error), count);
}

PortResult Woken() {
    PortResult r;
    r.status = Status::kWoken;
    return r;
}

// Waits for `events` on `fd`, or `wakeFd`, until `deadline`: 1 ready, 0 time out, -1 woken.
int WaitFor(int fd, short events, int wakeFd, Clock::time_point deadline) {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        int ready = poll(fds, wakeFd >= 0 ? 2 : 1, MsUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready > 0 && wakeFd >= 0 && fds[1].revents != 0) return -1;
        return ready > 0 ? 1 : 0;
    }
}

// A name lookup that may outlive the wait for it: getaddrinfo cannot be interrupted, so a wait that gives
// up leaves the lookup to finish on its own thread, which then frees what it found.
struct Lookup {
    int doneFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::mutex mutex;
    int status = EAI_SYSTEM;
    addrinfo* result = nullptr;
    ~Lookup() {
        if (result != nullptr) freeaddrinfo(result);
        if (doneFd >= 0) close(doneFd);
    }
};

// The addresses of host:port, or null with `reason`.
std::shared_ptr<Lookup> Resolve(const std::string& host, const std::string& port, int wakeFd,
                                Clock::time_point deadline, std::string* reason) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
    auto lookup = std::make_shared<Lookup>();
    // A numeric address needs no lookup and never waits.
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &lookup->result) == 0) return lookup;
    lookup->result = nullptr;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    if (lookup->doneFd < 0) {
        *reason = std::strerror(errno);
        return nullptr;
    }
    try {
        std::thread([lookup, host, port, hints] {
            addrinfo* found = nullptr;
            int status = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
            std::lock_guard lock(lookup->mutex);
            lookup->status = status;
            lookup->result = found;
            std::uint64_t one = 1;
            [[maybe_unused]] ssize_t n = write(lookup->doneFd, &one, sizeof one);
        }).detach();
    } catch (const std::system_error& e) {
        *reason = e.what();
        return nullptr;
    }
    const int ready = WaitFor(lookup->doneFd, POLLIN, wakeFd, deadline);
    if (ready <= 0) {
        *reason = ready < 0 ? "cancelled" : "the name " + host + " was not found in time";
        return nullptr;
    }
    std::lock_guard lock(lookup->mutex);
    if (lookup->status != 0) {
        *reason = lookup->status == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(lookup->status);
        return nullptr;
    }
    return lookup;
}

// A connected socket to `address`, or -1 with `reason`.
int ConnectTo(const addrinfo& address, int wakeFd, Clock::time_point deadline, std::string* reason) {
    int fd = socket(address.ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *reason = std::strerror(errno);
        return -1;
    }
    int error = 0;
    if (connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            const int ready = WaitFor(fd, POLLOUT, wakeFd, deadline);
            socklen_t size = sizeof error;
            if (ready > 0 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
            if (ready == 0) error = ETIMEDOUT;
            if (ready < 0) {
                close(fd);
                *reason = "cancelled";
                return -1;
            }
        }
    }
    if (error != 0) {
        close(fd);
        *reason = std::strerror(error);
        return -1;
    }
    // Every message goes out at once, not when the one before has been acknowledged.
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    unsigned limit = kUnacknowledgedMs;
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &limit, sizeof limit);
    return fd;
}

}  // namespace

bool ParseTcpAddress(const std::string& address, std::string* host, std::string* port, std::string* reason) {
    auto fail = [&](std::string text) {
        if (reason != nullptr) *reason = std::move(text);
        return false;
    };
    if (address.size() < 6 || !std::equal(address.begin(), address.begin() + 6, "tcp://", [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == b;
        }))
        return fail("not a tcp:// address");
    if (std::string refused = DevicePathRefusal(address); !refused.empty()) return fail(refused);
    const std::string_view rest = std::string_view(address).substr(6);
    std::string_view name = rest, number;
    bool hasPort = false;
    if (!rest.empty() && rest.front() == '[') {
        // An IPv6 address holds colons of its own: only one after the brackets starts the port.
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) return fail(UiText(Msg::kReasonBadHost, 0));
        name = rest.substr(1, close - 1);
        const std::string_view after = rest.substr(close + 1);
        if (!after.empty() && after.front() != ':') return fail(UiText(Msg::kReasonBadHost, 0));
        hasPort = !after.empty();
        if (hasPort) number = after.substr(1);
    } else if (const std::size_t colon = rest.rfind(':'); colon != std::string_view::npos) {
        name = rest.substr(0, colon);
        number = rest.substr(colon + 1);
        hasPort = true;
    }
    if (name.empty()) return fail(UiText(Msg::kReasonNoHost, 0));
    if (name.find_first_of("[]/ ") != std::string_view::npos) return fail(UiText(Msg::kReasonBadHost, 0));
    if (!hasPort || number.empty()) return fail(UiText(Msg::kReasonNoTcpPort, 0));
    if (number.size() > 5 || number.find_first_not_of("0123456789") != std::string_view::npos ||
        std::stoi(std::string(number)) < 1 || std::stoi(std::string(number)) > 65535)
        return fail(UiText(Msg::kReasonTcpPortRange, 0));
    *host = name;
    *port = number;
    return true;
}

std::unique_ptr<TcpPort> TcpPort::Open(const std::string& address, int timeoutMs, int wakeFd,
                                       std::string* reason) {
    std::string why, host, port;
    auto fail = [&]() -> std::unique_ptr<TcpPort> {
        if (reason != nullptr) *reason = why;
        return nullptr;
    };
    if (!ParseTcpAddress(address, &host, &port, &why)) return fail();
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    std::shared_ptr<Lookup> lookup = Resolve(host, port, wakeFd, deadline, &why);
    if (lookup == nullptr) return fail();
    for (const addrinfo* a = lookup->result; a != nullptr; a = a->ai_next) {
        int fd = ConnectTo(*a, wakeFd, deadline, &why);
        if (fd >= 0) return std::unique_ptr<TcpPort>(new TcpPort(address, fd));
        if (why == "cancelled" || MsUntil(deadline) == 0) break;
    }
    return fail();
}

TcpPort::~TcpPort() {
    // Closing a socket with unread input resets the connection, and a reset throws away the output not yet
    // sent: the final frame among it.
    DropQueued();
    close(fd_);
}

PortResult TcpPort::Collect(std::uint8_t* buffer, int n, int ms, int wakeFd) {
    PortResult result;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
    std::uint8_t scratch[4096];
    for (;;) {
        const int ready = WaitFor(fd_, POLLIN, wakeFd, deadline);
        if (ready < 0) return Woken();
        if (ready > 0) {
            std::uint8_t* target = buffer != nullptr ? buffer + result.count : scratch;
            std::size_t room =
                buffer != nullptr ? static_cast<std::size_t>(n - result.count) : sizeof scratch;
            ssize_t got = recv(fd_, target, room, MSG_DONTWAIT);
            if (got == 0) return Failed(Kind::kHungUp, "the bridge closed the connection", result.count);
            if (got < 0 && errno != EAGAIN && errno != EINTR) return FromErrno(errno, result.count);
            if (got > 0 && buffer != nullptr) {
                result.count += static_cast<int>(got);
                if (result.count >= n) return result;
            }
        }
        if (MsUntil(deadline) == 0) return result;
    }
}

// Input to be dropped is not read as it comes: a bridge flooding garbage would wake the thread for every
// segment. Only the bridge closing or resetting the connection cuts the wait short; the bytes that gathered
// meanwhile are then read in large blocks (and a flood beyond the socket's buffer is held back by TCP).
PortResult TcpPort::Discard(int ms, int wakeFd) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
    int dropped = 0;
    for (;;) {
        const int ready = WaitFor(fd_, POLLRDHUP, wakeFd, deadline);
        if (ready < 0) {
            PortResult woken = Woken();
            woken.count = dropped;
            return woken;
        }
        PortResult r = DropQueued();
        r.count += dropped;
        if (r.status != Status::kOk || MsUntil(deadline) == 0) return r;
        dropped = r.count;
    }
}

// Reads what the socket holds, a block at a time, until it holds no more (at most a bounded amount, so that
// a peer faster than the reads cannot keep the thread here).
PortResult TcpPort::DropQueued() {
    PortResult result;
    std::uint8_t block[kDropBlockBytes];
    for (int i = 0; i < kDropBlocksAtMost; ++i) {
        ssize_t got = recv(fd_, block, sizeof block, MSG_DONTWAIT);
        if (got == 0) return Failed(Kind::kHungUp, "the bridge closed the connection", result.count);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno != EAGAIN) return FromErrno(errno, result.count);
        if (got < 0) break;
        result.count += static_cast<int>(got);
        if (got < static_cast<ssize_t>(sizeof block)) break;
    }
    return result;
}

PortResult TcpPort::Read(std::uint8_t* buffer, int n, int ms, int wakeFd) {
    if (buffer == nullptr || n <= 0) return {};
    return Collect(buffer, n, ms, wakeFd);
}

PortResult TcpPort::Write(const WireMessage& message, int ms, int wakeFd) {
    PortResult result;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
    const int size = static_cast<int>(message.size());
    while (result.count < size) {
        ssize_t put = send(fd_, message.data() + result.count, static_cast<std::size_t>(size - result.count),
                           MSG_NOSIGNAL | MSG_DONTWAIT);
        if (put > 0) {
            result.count += static_cast<int>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN) return FromErrno(errno, result.count);
        // Once part of the message is out, a wake no longer ends the wait: the rest must follow it.
        const int ready = WaitFor(fd_, POLLOUT, result.count == 0 ? wakeFd : -1, deadline);
        if (ready < 0) return Woken();
        if (ready == 0) {
            result.status = Status::kTimedOut;
            return result;
        }
    }
    return result;
}

PortResult TcpPort::Drain(int ms, int wakeFd) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
    for (;;) {
        int unsent = 0;
        if (ioctl(fd_, SIOCOUTQNSD, &unsent) != 0) return FromErrno(errno);
        if (unsent <= 0) return {};
        if (MsUntil(deadline) == 0) {
            PortResult r;
            r.status = Status::kTimedOut;
            return r;
        }
        pollfd wake{wakeFd, POLLIN, 0};
        if (poll(&wake, wakeFd >= 0 ? 1 : 0, std::min(2, MsUntil(deadline))) > 0) return Woken();
    }
}

}  // namespace zanth
