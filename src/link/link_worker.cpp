#include "link/link_worker.h"

#include <poll.h>

#include <algorithm>
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
// A peer that sends bytes all the time and never a battery reply for this long is given up on, as a lost
// port is: a bridge whose serial side runs at another speed, or a device that is no robot.
constexpr auto kGarbageOnlyFor = std::chrono::seconds(3);

bool Broken(const PortResult& r) {
    return r.status == Status::kFailed || r.status == Status::kTimedOut;
}

std::string DetailOf(const PortResult& r) {
    return r.status == Status::kTimedOut ? "output did not leave the port in time" : r.detail;
}

}  // namespace

LinkWorker::LinkWorker(QObject* parent) : QObject(parent) {
    qRegisterMetaType<zanth::LinkFailure>();
    qRegisterMetaType<zanth::SentMessage>();
    qRegisterMetaType<zanth::ReplyRead>();
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
    if (thread_.Running()) return fail("a link is already running");
    {
        // A frame of an earlier link is stale: the robot gets nothing until the next SetFrame.
        std::lock_guard lock(mutex_);
        frame_.reset();
        frameStale_ = false;
        replyWanted_ = false;
        finalFrame_.reset();
        // For the last message of a crash; armed by the first frame.
        lastWord_ = emergency::Publish(port->NativeHandle());
        played_.clear();
        ++playGeneration_;
        playing_ = false;
    }
    stopping_ = false;
    const QString device = QString::fromStdString(port->Device());
    if (!thread_.Start([this, port = std::move(port)]() mutable { Run(std::move(port)); }, reason)) {
        std::lock_guard lock(mutex_);
        emergency::Withdraw(std::exchange(lastWord_, 0));  // never armed: no frame was set
        return false;
    }
    emit started(device);
    return true;
}

void LinkWorker::SetFrame(const ControllerFrame& frame, bool replyWanted) {
    std::lock_guard lock(mutex_);
    frame_ = frame;
    frameSetAt_ = Clock::now();
    replyWanted_ = replyWanted;
    emergency::SetLed(lastWord_, LedLit(frame));
}

void LinkWorker::Stop(std::optional<ControllerFrame> finalFrame) {
    if (!thread_.Running()) return;
    {
        std::lock_guard lock(mutex_);
        finalFrame_ = finalFrame;
        stopCalled_ = Clock::now();
        if (finalFrame) emergency::SetLed(lastWord_, LedLit(*finalFrame));
    }
    stopping_ = true;
    thread_.Stop();
    StopPlaying();
}

bool LinkWorker::Play(std::vector<TimedMessage> messages) {
    if (!thread_.Running() || messages.empty()) return false;
    std::lock_guard lock(mutex_);
    played_.swap(messages);
    playedNext_ = 0;
    ++playGeneration_;
    playing_ = true;
    return true;  // the session replaced, if any, is freed outside the lock
}

void LinkWorker::StopPlaying() {
    std::vector<TimedMessage> old;
    std::lock_guard lock(mutex_);
    played_.swap(old);
    playedNext_ = 0;
    ++playGeneration_;
    playing_ = false;
}

void LinkWorker::Run(std::unique_ptr<Port> port) {
    cutShort_ = false;
    replyPending_ = false;
    qCInfo(lcLink, "link started on %s", port->Device().c_str());
    PortResult r = Pump(*port);
    if (Broken(r) && !Stopping()) {
        LinkFailure failure;
        failure.kind = r.status == Status::kTimedOut ? LinkFailure::Kind::kStalled : r.kind;
        failure.device = port->Device();
        failure.detail = DetailOf(r);
        qCInfo(lcLink, "link failed on %s: %s (%s)", failure.device.c_str(), KindName(failure.kind),
               failure.detail.c_str());
        emit linkFailed(failure);
        // Asleep until Stop: a dead port answers every poll at once, so touching it again would spin.
        pollfd p{thread_.wakeFd(), POLLIN, 0};
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
    PortResult r = port.Discard(kOpenDiscardMs, thread_.wakeFd());
    garbageSince_.reset();
    while (r.status == Status::kOk && !Stopping()) r = SendOne(port);
    return r;
}

PortResult LinkWorker::SendOne(Port& port) {
    turnInput_ = 0;
    PortResult r = AwaitTurn(port);
    if (r.status != Status::kOk || Stopping()) return r;
    emit frameWanted();
    r = port.Discard(LeadMs(), thread_.wakeFd());
    turnInput_ += r.count;
    if (r.status != Status::kOk || Stopping()) return r;

    Outgoing out;
    if (!TakeMessage(out)) return r;
    r = WriteMessage(port, out.message, kWriteRoomMs, thread_.wakeFd());
    if (r.status != Status::kOk) {
        cutShort_ = r.count > 0;
        return r;
    }
    ++messagesSent_;
    MarkSent(out, Clock::now());
    r = port.Drain(kOutputStallMs, thread_.wakeFd());
    if (r.status != Status::kOk) return r;
    ++messagesLeft_;
    const bool replyWanted = out.message[0] == 'k';
    ReplyRead::Status reply = ReplyRead::Status::kNone;
    if (replyWanted) r = ReadReply(port, &reply);
    if (r.status != Status::kOk || Stopping()) return r;
    return JudgeInput(replyWanted, reply);
}

// Counts the time a peer sends nothing but garbage: bytes in the discard before the message and in its reply
// window, and never a battery reply. A quiet discard or a reply window, or any valid reply, starts the count
// afresh. A "K" message asks for nothing, so it only carries on a count a "k" message started.
PortResult LinkWorker::JudgeInput(bool replyWanted, ReplyRead::Status reply) {
    if (replyWanted ? reply == ReplyRead::Status::kGarbage : turnInput_ > 0) ++garbageTurns_;
    if (turnInput_ == 0 || (replyWanted && reply != ReplyRead::Status::kGarbage)) {
        garbageSince_.reset();
        return {};
    }
    const Clock::time_point now = Clock::now();
    if (!garbageSince_) {
        if (replyWanted) garbageSince_ = now;
        return {};
    }
    if (now - *garbageSince_ < kGarbageOnlyFor) return {};
    PortResult r;
    r.status = Status::kFailed;
    r.kind = LinkFailure::Kind::kGarbage;
    r.detail = "only garbage, no battery reply, for " + std::to_string(kGarbageOnlyFor.count()) + " s";
    return r;
}

bool LinkWorker::TakeMessage(Outgoing& out) {
    bool turnedStale = false;
    bool turnedFresh = false;
    {
        std::lock_guard lock(mutex_);
        if (Halted()) {
            if (!frame_) return false;
            out.message = BuildMessage(NeutralFrame(LedLit(*frame_)), replyWanted_);
            return true;
        }
        if (playing_ && playedNext_ < played_.size()) {
            out.message = played_[playedNext_].bytes;
            out.playedIndex = static_cast<int>(playedNext_);
            out.generation = playGeneration_;
            return true;
        }
        if (!frame_) return false;
        out.message = BuildMessage(FreshOrNeutral(Clock::now(), &turnedStale, &turnedFresh), replyWanted_);
    }
    // Said once per stall, outside the lock: logging may wait on stderr.
    if (turnedStale)
        qCWarning(lcLink, "no fresh frame for %d ms: sending the neutral frame until one comes",
                  kStaleFrameMs);
    if (turnedFresh) qCInfo(lcLink, "fresh frames again");
    return true;
}

// The frame set, or, once it is older than kStaleFrameMs, the neutral frame with its LED. Under mutex_.
ControllerFrame LinkWorker::FreshOrNeutral(Clock::time_point now, bool* turnedStale, bool* turnedFresh) {
    const bool stale = now - frameSetAt_ > std::chrono::milliseconds(kStaleFrameMs);
    *turnedStale = stale && !frameStale_;
    *turnedFresh = !stale && frameStale_;
    frameStale_ = stale;
    return stale ? NeutralFrame(LedLit(*frame_)) : *frame_;
}

void LinkWorker::MarkSent(const Outgoing& out, Clock::time_point at) {
    if (out.playedIndex >= 0) {
        std::vector<TimedMessage> done;
        std::lock_guard lock(mutex_);
        // A session stopped or replaced meanwhile is not advanced.
        if (playing_ && out.generation == playGeneration_) {
            if (playedNext_ == 0) playedEpoch_ = at - std::chrono::microseconds(played_.front().offsetUs);
            if (++playedNext_ == played_.size()) {
                played_.swap(done);
                playedNext_ = 0;
                playing_ = false;
            }
        }
    }
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
    emit messageSent(SentMessage{out.message, us, out.playedIndex});
}

// When the played session's next message is due; none before its first message has gone.
std::optional<LinkWorker::Clock::time_point> LinkWorker::PlayedDue() {
    std::lock_guard lock(mutex_);
    if (!playing_ || playedNext_ == 0 || playedNext_ >= played_.size()) return std::nullopt;
    return playedEpoch_ + std::chrono::microseconds(played_[playedNext_].offsetUs);
}

// The wait between asking for a fresh frame and taking it: kSampleLeadMs, or, for a played message, the
// time left until it is due, rounded down, as every wait on the port lasts its time or a little longer.
int LinkWorker::LeadMs() {
    const std::optional<Clock::time_point> due = PlayedDue();
    if (!due) return kSampleLeadMs;
    const auto left = std::chrono::floor<std::chrono::milliseconds>(*due - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, kSampleLeadMs));
}

// Input dropped until kSampleLeadMs before the next message: kFrameDiscardMs after the last one, or later
// when a played message's time says so. The wait goes in slices, so that stopping a played session takes
// effect at the next turn even in a long pause of it.
PortResult LinkWorker::AwaitTurn(Port& port) {
    PortResult r = DiscardAfterReply(port, kFrameDiscardMs - kSampleLeadMs);
    while (r.status == Status::kOk && !Stopping()) {
        const std::optional<Clock::time_point> due = PlayedDue();
        const int left = due ? MsUntil(*due - std::chrono::milliseconds(kSampleLeadMs)) : 0;
        if (left == 0) break;
        r = port.Discard(std::min(left, kFrameDiscardMs), thread_.wakeFd());
    }
    return r;
}

// Input dropped for `ms`. After a reply window that stayed empty, the first bytes dropped are kept: they are
// that reply, come late.
PortResult LinkWorker::DiscardAfterReply(Port& port, int ms) {
    if (!replyPending_) {
        PortResult r = port.Discard(ms, thread_.wakeFd());
        turnInput_ += r.count;
        return r;
    }
    replyPending_ = false;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
    ReplyRead late;
    PortResult r = port.Read(late.bytes.data(), kReplyBytes, ms, thread_.wakeFd());
    turnInput_ += r.count;
    if (r.status != Status::kOk || Stopping()) return r;
    late.count = r.count;
    late.status = r.count > 0 ? ReplyRead::Status::kLate : ReplyRead::Status::kNone;
    late.atUs = LinkClockUs();
    emit replyRead(late);
    // A full buffer ends the read early; the rest of the time is still discarded.
    if (const int left = MsUntil(end); left > 0) {
        r = port.Discard(left, thread_.wakeFd());
        turnInput_ += r.count;
    }
    return r;
}

// The whole 25 ms are read unless 128 bytes come, as the robot may answer in pieces.
PortResult LinkWorker::ReadReply(Port& port, ReplyRead::Status* status) {
    ReplyRead reply;
    PortResult r = port.Read(reply.bytes.data(), kReplyBytes, kReplyTimeoutMs, thread_.wakeFd());
    if (r.status != Status::kOk || Stopping()) return r;
    reply.count = r.count;
    reply.atUs = LinkClockUs();
    if (auto value = ParseBatteryReply(reply.bytes.data(), static_cast<std::size_t>(r.count))) {
        reply.status = ReplyRead::Status::kOk;
        reply.level = *value;
        emit batteryReply(*value);
    } else if (r.count > 0) {
        reply.status = ReplyRead::Status::kGarbage;
    } else {
        replyPending_ = true;  // none or late: the next discard tells
        return r;
    }
    *status = reply.status;
    emit replyRead(reply);
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
    const bool outlives = port.OutputOutlivesClose();
    PortResult written;
    if (finalFrame && cutShort_) {
        // Behind half a message the robot would read the final frame's first bytes as the rest of it.
        written.status = Status::kFailed;
        written.detail = "the message before it was cut short";
    } else if (finalFrame) {
        const WireMessage message = BuildMessage(*finalFrame, false);
        // Where output outlives the port, a message that finds no room now has a peer that does not read:
        // waiting could not get it there.
        written = WriteMessage(port, message, outlives ? 0 : MsUntil(deadline), -1);
        if (written.status == Status::kOk) {
            ++messagesSent_;
            emit messageSent(SentMessage{message, LinkClockUs(), -1});
        }
    }
    PortResult drained = outlives ? PortResult{} : port.Drain(MsUntil(deadline), -1);
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
