#include "link/descriptor_port.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace zanth {
namespace {

using Status = PortResult::Status;

// Input to be dropped is read in blocks of this size, and at most this many blocks at a time.
constexpr int kDropBlockBytes = 4096;
constexpr int kDropBlocksAtMost = 256;

PortResult WithStatus(Status status, int count) {
    PortResult r;
    r.status = status;
    r.count = count;
    return r;
}

}  // namespace

PortClock::time_point DeadlineIn(int ms) {
    return PortClock::now() + std::chrono::milliseconds(std::max(ms, 0));
}

int MsUntil(PortClock::time_point deadline) {
    auto left = deadline - PortClock::now();
    if (left <= PortClock::duration::zero()) return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<long long>(ms, 1 << 30));
}

PortResult PortFailure(LinkFailure::Kind kind, std::string detail, int count) {
    PortResult r = WithStatus(Status::kFailed, count);
    r.kind = kind;
    r.detail = std::move(detail);
    return r;
}

ssize_t DescriptorPort::ReceiveSome(void* buffer, std::size_t n) const {
    return manner_.socket ? recv(fd_, buffer, n, MSG_DONTWAIT) : read(fd_, buffer, n);
}

ssize_t DescriptorPort::SendSome(const void* data, std::size_t n) const {
    return manner_.socket ? send(fd_, data, n, MSG_NOSIGNAL | MSG_DONTWAIT) : write(fd_, data, n);
}

std::optional<PortResult> DescriptorPort::FailureOfEvents(short revents, int count) const {
    if (!manner_.eventsFail) return std::nullopt;
    if (revents & POLLHUP) return PortFailure(manner_.endKind, "hang-up", count);
    if (revents & POLLNVAL) return PortFailure(LinkFailure::Kind::kOther, "invalid descriptor", count);
    if (revents & POLLERR)
        return PortFailure(LinkFailure::Kind::kIoError, "error condition on the device", count);
    return std::nullopt;
}

void DescriptorPort::Keep(const std::uint8_t* data, ssize_t n) {
    const auto kept = static_cast<std::size_t>(manner_.keptBytes);
    if (kept == 0 || n <= 0) return;
    const auto size = static_cast<std::size_t>(n);
    const std::size_t from = size > kept ? size - kept : 0;
    lastBytes_.append(reinterpret_cast<const char*>(data) + from, size - from);
    if (lastBytes_.size() > kept) lastBytes_.erase(0, lastBytes_.size() - kept);
}

int DescriptorPort::DrainStepMs(int unsent) const {
    if (manner_.drainBaud <= 0) return manner_.drainStepMs;
    // Ten bit times per byte: look again about when the queued bytes should have gone.
    const long long due = static_cast<long long>(unsent) * 10 * 1000 / manner_.drainBaud + 1;
    return static_cast<int>(std::min<long long>(due, manner_.drainStepMs));
}

PortResult DescriptorPort::Read(std::uint8_t* buffer, int n, int ms, int wakeFd) {
    if (buffer == nullptr || n <= 0) return {};
    PortResult result;
    const auto deadline = DeadlineIn(ms);
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        int ready = poll(fds, wakeFd >= 0 ? 2 : 1, MsUntil(deadline));
        if (ready < 0 && errno != EINTR) return FailureOf(errno, result.count);
        if (ready > 0 && wakeFd >= 0 && fds[1].revents != 0) return WithStatus(Status::kWoken, result.count);
        if (ready > 0 && fds[0].revents != 0) {
            ssize_t got = ReceiveSome(buffer + result.count, static_cast<std::size_t>(n - result.count));
            if (got > 0) {
                Keep(buffer + result.count, got);
                result.count += static_cast<int>(got);
                if (result.count >= n) return result;
            } else if (got == 0) {
                return PortFailure(manner_.endKind, EndDetail(), result.count);
            } else if (errno != EAGAIN && errno != EINTR) {
                return FailureOf(errno, result.count);
            } else if (auto failed = FailureOfEvents(fds[0].revents, result.count)) {
                return *failed;
            }
        }
        if (MsUntil(deadline) == 0) return result;
    }
}

// Input to be dropped is not read as it comes: a peer flooding the line would wake the thread for every few
// bytes. It gathers for a while and is read in large blocks; only a hang-up or an error cuts the wait short.
PortResult DescriptorPort::Discard(int ms, int wakeFd) {
    const auto deadline = DeadlineIn(ms);
    int dropped = 0;
    for (;;) {
        pollfd fds[2] = {{fd_, manner_.discardEvents, 0}, {wakeFd, POLLIN, 0}};
        int ready = poll(fds, wakeFd >= 0 ? 2 : 1, std::min(MsUntil(deadline), manner_.discardSliceMs));
        if (ready < 0 && errno != EINTR) return FailureOf(errno, dropped);
        if (ready > 0 && wakeFd >= 0 && fds[1].revents != 0) return WithStatus(Status::kWoken, dropped);
        PortResult r = DropQueued(ready > 0 ? fds[0].revents : 0);
        r.count += dropped;
        if (r.status != Status::kOk || MsUntil(deadline) == 0) return r;
        dropped = r.count;
    }
}

PortResult DescriptorPort::DropQueued(short revents) {
    PortResult result;
    std::uint8_t block[kDropBlockBytes];
    for (int i = 0; i < kDropBlocksAtMost; ++i) {
        ssize_t got = ReceiveSome(block, sizeof block);
        if (got > 0) {
            Keep(block, got);
            result.count += static_cast<int>(got);
            if (got < static_cast<ssize_t>(sizeof block)) break;
        } else if (got == 0) {
            return PortFailure(manner_.endKind, EndDetail(), result.count);
        } else if (errno == EINTR) {
            continue;
        } else if (errno != EAGAIN) {
            return FailureOf(errno, result.count);
        } else {
            break;
        }
    }
    if (auto failed = FailureOfEvents(revents, result.count)) return *failed;
    return result;
}

PortResult DescriptorPort::Write(const WireMessage& message, int ms, int wakeFd) {
    PortResult result;
    const auto deadline = DeadlineIn(ms);
    const int size = static_cast<int>(message.size());
    while (result.count < size) {
        ssize_t put = SendSome(message.data() + result.count, static_cast<std::size_t>(size - result.count));
        if (put > 0) {
            result.count += static_cast<int>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN) return FailureOf(errno, result.count);
        // The buffer below is full (or output is stopped): wait for room.
        int left = MsUntil(deadline);
        if (left == 0) return WithStatus(Status::kTimedOut, result.count);
        // Once part of the message is out, a wake no longer ends the wait: the rest must follow it.
        bool wakeable = wakeFd >= 0 && result.count == 0;
        pollfd fds[2] = {{fd_, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
        int ready = poll(fds, wakeable ? 2 : 1, left);
        if (ready < 0 && errno != EINTR) return FailureOf(errno, result.count);
        if (ready > 0 && wakeable && fds[1].revents != 0) return WithStatus(Status::kWoken, result.count);
        if (ready > 0 && !(fds[0].revents & POLLOUT))
            if (auto failed = FailureOfEvents(fds[0].revents, result.count)) return *failed;
    }
    return result;
}

PortResult DescriptorPort::Drain(int ms, int wakeFd) {
    const auto deadline = DeadlineIn(ms);
    for (;;) {
        int unsent = 0;
        if (ioctl(fd_, manner_.unsentRequest, &unsent) != 0) return FailureOf(errno, 0);
        if (unsent <= 0) return {};
        const int left = MsUntil(deadline);
        if (left == 0) return WithStatus(Status::kTimedOut, 0);
        pollfd wake{wakeFd, POLLIN, 0};
        if (poll(&wake, wakeFd >= 0 ? 1 : 0, std::min(DrainStepMs(unsent), left)) > 0)
            return WithStatus(Status::kWoken, 0);
    }
}

}  // namespace zanth
