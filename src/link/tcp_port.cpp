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
#include <cstring>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>

#include "base/ui_text.h"
#include "link/ports.h"

namespace zanth {
namespace {

using Kind = LinkFailure::Kind;

// Data the bridge has not acknowledged for this long ends the connection (ETIMEDOUT): the robot is out of
// range or the bridge hangs, and the link goes looking for it again.
constexpr unsigned kUnacknowledgedMs = 3000;
// Enough of the last input for a bridge's line about why it closes.
constexpr int kKeptBytes = 256;

PortResult FailureOf(int, int error, int count) {
    // The bridge closed or reset the connection. The rest (time-outs, unreachable networks) are told in the
    // system's words.
    Kind kind = error == ECONNRESET || error == EPIPE ? Kind::kHungUp : Kind::kOther;
    return PortFailure(kind, std::strerror(error), count);
}

constexpr DescriptorPort::Manner kSocket{
    .socket = true,
    .endKind = Kind::kHungUp,
    .endDetail = kBridgeClosedDetail.data(),
    .failureOf = FailureOf,
    // A socket's error or hang-up is told by the next recv or send, in the system's words.
    .eventsFail = false,
    // What the socket has not sent yet: Drain waits for it to be sent, not for the bridge to acknowledge it
    // (a bridge that stops answering is noticed by the connection's own time-out).
    .unsentRequest = SIOCOUTQNSD,
    .drainStepMs = 2,
    .drainBaud = 0,
    // Only the bridge closing or resetting the connection cuts the wait short; the bytes that gathered
    // meanwhile are then read in large blocks (and a flood beyond the socket's buffer is held back by TCP).
    .discardEvents = POLLRDHUP,
    .discardSliceMs = std::numeric_limits<int>::max(),
    .keptBytes = kKeptBytes,
};

// Waits for `events` on `fd`, or `wakeFd`, until `deadline`: 1 ready, 0 time out, -1 woken.
int WaitFor(int fd, short events, int wakeFd, PortClock::time_point deadline) {
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
    int error = 0;  // errno of the lookup's thread, for EAI_SYSTEM
    addrinfo* result = nullptr;
    ~Lookup() {
        if (result != nullptr) freeaddrinfo(result);
        if (doneFd >= 0) close(doneFd);
    }
};

// The addresses of host:port, or null with `reason`.
std::shared_ptr<Lookup> Resolve(const std::string& host, const std::string& port, int wakeFd,
                                PortClock::time_point deadline, std::string* reason) {
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
            const int error = errno;
            std::lock_guard lock(lookup->mutex);
            lookup->status = status;
            lookup->error = error;
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
        *reason = lookup->status == EAI_SYSTEM ? std::strerror(lookup->error) : gai_strerror(lookup->status);
        return nullptr;
    }
    return lookup;
}

// A connected socket to `address`, or -1 with `reason`.
int ConnectTo(const addrinfo& address, int wakeFd, PortClock::time_point deadline, std::string* reason) {
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

std::string LastTextLine(const std::string& bytes) {
    std::string_view text = bytes;
    if (text.empty() || text.back() != '\n') return {};
    text.remove_suffix(1);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    const std::size_t start = text.find_last_of("\r\n");
    if (start != std::string_view::npos) text.remove_prefix(start + 1);
    // A line cut off by the bytes kept is no whole message either.
    if (text.empty() ||
        (start == std::string_view::npos && bytes.size() >= static_cast<std::size_t>(kKeptBytes)))
        return {};
    const bool plain = std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    return plain ? std::string(text) : std::string();
}

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
        if (close == std::string_view::npos) return fail(UiText(Msg::kReasonBadHost, Language::kEnglish));
        name = rest.substr(1, close - 1);
        const std::string_view after = rest.substr(close + 1);
        if (!after.empty() && after.front() != ':')
            return fail(UiText(Msg::kReasonBadHost, Language::kEnglish));
        hasPort = !after.empty();
        if (hasPort) number = after.substr(1);
    } else if (const std::size_t colon = rest.rfind(':'); colon != std::string_view::npos) {
        name = rest.substr(0, colon);
        number = rest.substr(colon + 1);
        hasPort = true;
    }
    if (name.empty()) return fail(UiText(Msg::kReasonNoHost, Language::kEnglish));
    if (name.find_first_of("[]/ ") != std::string_view::npos)
        return fail(UiText(Msg::kReasonBadHost, Language::kEnglish));
    if (!hasPort || number.empty()) return fail(UiText(Msg::kReasonNoTcpPort, Language::kEnglish));
    if (number.size() > 5 || number.find_first_not_of("0123456789") != std::string_view::npos ||
        std::stoi(std::string(number)) < 1 || std::stoi(std::string(number)) > 65535)
        return fail(UiText(Msg::kReasonTcpPortRange, Language::kEnglish));
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
    const auto deadline = DeadlineIn(timeoutMs);
    std::shared_ptr<Lookup> lookup = Resolve(host, port, wakeFd, deadline, &why);
    if (lookup == nullptr) return fail();
    for (const addrinfo* a = lookup->result; a != nullptr; a = a->ai_next) {
        int fd = ConnectTo(*a, wakeFd, deadline, &why);
        if (fd >= 0) return std::unique_ptr<TcpPort>(new TcpPort(address, fd));
        if (why == "cancelled" || MsUntil(deadline) == 0) break;
    }
    return fail();
}

TcpPort::TcpPort(std::string address, int fd) : DescriptorPort(fd, kSocket), address_(std::move(address)) {}

std::string TcpPort::EndDetail() const {
    return BridgeClosedDetail(LastTextLine(LastBytes()));
}

TcpPort::~TcpPort() {
    // Closing a socket with unread input resets the connection, and a reset throws away the output not yet
    // sent: the final frame among it.
    DropQueued(0);
    close(fd_);
}

}  // namespace zanth
