#include "link/link_worker.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "link/log.h"

namespace zanth {
namespace {

using Status = PortResult::Status;

// The driver takes a 9-byte message at once unless its buffer is full or its output stopped; a message that
// finds no room for this long waits on a stuck line.
constexpr int kWriteRoomMs = 100;
// A 9-byte message needs under a millisecond on the wire; output that has not left after this long waits on
// a line that takes nothing (hardware flow control held off), and the link gives up on it.
constexpr int kOutputStallMs = 1000;
// The part of Stop's budget that the link thread may spend on the way out (the message under way and the
// final frame); the rest covers waking the thread, closing the port and joining.
constexpr int kStopWorkMs = kStopBudgetMs - 100;
// A write in progress ignores the wake-up once its first byte is out, so it must end within the budget too.
static_assert(kWriteRoomMs < kStopWorkMs);

int MsUntil(std::chrono::steady_clock::time_point deadline) {
    auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

bool Broken(const PortResult& r) {
    return r.status == Status::kFailed || r.status == Status::kTimedOut;
}

std::string DetailOf(const PortResult& r) {
    return r.status == Status::kTimedOut ? "output did not leave the port in time" : r.detail;
}

}  // namespace

LinkWorker::LinkWorker(QObject* parent) : QObject(parent) {
    qRegisterMetaType<zanth::LinkFailure>();
}

LinkWorker::~LinkWorker() {
    Stop(std::nullopt);
}

bool LinkWorker::Start(std::unique_ptr<Port> port, std::string* reason) {
    // On every way out below `port` is destroyed, which closes it.
    auto fail = [&](std::string text) {
        if (reason != nullptr) *reason = std::move(text);
        return false;
    };
    if (port == nullptr) return fail("no port");
    if (thread_.joinable()) return fail("a link is already running");
    int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) return fail(std::strerror(errno));
    {
        // A frame of an earlier link is stale: the robot gets nothing until the next SetFrame.
        std::lock_guard lock(mutex_);
        frame_.reset();
        replyWanted_ = false;
        finalFrame_.reset();
        // For the last message of a crash; armed by the first frame.
        lastWord_ = emergency::Publish(port->NativeHandle());
    }
    stopping_ = false;
    wakeFd_ = wake;
    try {
        thread_ = std::thread(&LinkWorker::Run, this, std::move(port));
    } catch (const std::system_error& e) {
        {
            std::lock_guard lock(mutex_);
            emergency::Withdraw(std::exchange(lastWord_, 0));  // never armed: no frame was set
        }
        close(wakeFd_);
        wakeFd_ = -1;
        return fail(e.what());
    }
    return true;
}

void LinkWorker::SetFrame(const ControllerFrame& frame, bool replyWanted) {
    std::lock_guard lock(mutex_);
    frame_ = frame;
    replyWanted_ = replyWanted;
    emergency::SetLed(lastWord_, LedLit(frame));
}

void LinkWorker::Stop(std::optional<ControllerFrame> finalFrame) {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        finalFrame_ = finalFrame;
        stopCalled_ = Clock::now();
        if (finalFrame) emergency::SetLed(lastWord_, LedLit(*finalFrame));
    }
    stopping_ = true;
    // The eventfd stays readable once written, so every wait the thread is in or enters ends at once.
    std::uint64_t one = 1;
    while (write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
    close(wakeFd_);
    wakeFd_ = -1;
}

void LinkWorker::Run(std::unique_ptr<Port> port) {
    cutShort_ = false;
    qCInfo(lcLink, "link started on %s", port->Device().c_str());
    PortResult r = Pump(*port);
    if (Broken(r) && !Stopping()) {
        LinkFailure failure;
        failure.kind = r.status == Status::kTimedOut ? LinkFailure::Kind::kStalled : r.kind;
        failure.device = port->Device();
        failure.detail = DetailOf(r);
        qCWarning(lcLink, "link failed on %s: %s (%s)", failure.device.c_str(), KindName(failure.kind),
                  failure.detail.c_str());
        emit linkFailed(failure);
        // Asleep until Stop: a dead port answers every poll at once, so touching it again would spin.
        pollfd p{wakeFd_, POLLIN, 0};
        while (!Stopping()) poll(&p, 1, -1);
    }
    Finish(*port);
    emergency::Token lastWord = 0;
    {
        std::lock_guard lock(mutex_);
        std::swap(lastWord, lastWord_);
    }
    // A crash handler writing the last message keeps the descriptor: the process is ending anyway.
    if (!emergency::Withdraw(lastWord)) {
        [[maybe_unused]] Port* kept = port.release();
        return;
    }
    port.reset();  // closed before Stop returns
}

// The link's rhythm until Stop or a failure; the result of the call that ended it.
PortResult LinkWorker::Pump(Port& port) {
    PortResult r = port.Discard(kOpenDiscardMs, wakeFd_);
    while (r.status == Status::kOk && !Stopping()) r = SendOne(port);
    return r;
}

PortResult LinkWorker::SendOne(Port& port) {
    PortResult r = port.Discard(kFrameDiscardMs - kSampleLeadMs, wakeFd_);
    if (r.status != Status::kOk || Stopping()) return r;
    emit frameWanted();
    r = port.Discard(kSampleLeadMs, wakeFd_);
    if (r.status != Status::kOk || Stopping()) return r;

    std::optional<ControllerFrame> frame;
    bool replyWanted = false;
    {
        std::lock_guard lock(mutex_);
        frame = frame_;
        replyWanted = replyWanted_;
    }
    if (!frame) return r;
    r = WriteMessage(port, BuildMessage(*frame, replyWanted), kWriteRoomMs, wakeFd_);
    if (r.status != Status::kOk) {
        cutShort_ = r.count > 0;
        return r;
    }
    ++messagesSent_;
    r = port.Drain(kOutputStallMs, wakeFd_);
    if (r.status != Status::kOk || !replyWanted) return r;

    // The whole 25 ms are read unless 128 bytes come, as the robot may answer in pieces.
    std::uint8_t reply[kReplyBytes];
    r = port.Read(reply, kReplyBytes, kReplyTimeoutMs, wakeFd_);
    if (r.status == Status::kOk && !Stopping()) {
        if (auto value = ParseBatteryReply(reply, static_cast<std::size_t>(r.count)))
            emit batteryReply(*value);
    }
    return r;
}

// Every message passes the gate of a crash's last message: none may start once that has begun.
PortResult LinkWorker::WriteMessage(Port& port, const WireMessage& message, int ms, int wakeFd) {
    const emergency::WriteGate gate;
    if (gate.open()) return port.Write(message, ms, wakeFd);
    PortResult halted;
    halted.status = Status::kWoken;
    halted.detail = "the process is ending";
    return halted;
}

// The way out, on the link thread: the final frame goes after the message under way, and both get until the
// end of the stop's share of the budget to leave. The wake-up descriptor is
// readable for good now, so none of these waits is given it.
void LinkWorker::Finish(Port& port) {
    std::optional<ControllerFrame> finalFrame;
    Clock::time_point deadline;
    {
        std::lock_guard lock(mutex_);
        finalFrame = finalFrame_;
        deadline = stopCalled_ + std::chrono::milliseconds(kStopWorkMs);
    }
    PortResult written;
    if (finalFrame && cutShort_) {
        // Behind half a message the robot would read the final frame's first bytes as the rest of it.
        written.status = Status::kFailed;
        written.detail = "the message before it was cut short";
    } else if (finalFrame) {
        written = WriteMessage(port, BuildMessage(*finalFrame, false), MsUntil(deadline), -1);
        if (written.status == Status::kOk) ++messagesSent_;
    }
    PortResult drained = port.Drain(MsUntil(deadline), -1);
    // What could not leave is thrown away, so that closing the port cannot wait on it.
    if (drained.status != Status::kOk) port.Flush();

    const char* device = port.Device().c_str();
    if (!finalFrame) {
        qCInfo(lcLink, "link stopped on %s", device);
    } else if (written.status == Status::kOk && drained.status == Status::kOk) {
        qCInfo(lcLink, "link stopped on %s; final frame sent", device);
    } else {
        std::string why = DetailOf(written.status != Status::kOk ? written : drained);
        qCWarning(lcLink, "link stopped on %s; final frame not sent (%s)", device, why.c_str());
    }
}

}  // namespace zanth
