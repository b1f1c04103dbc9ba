#pragma once
#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/emergency.h"
#include "link/frame.h"
#include "link/link_events.h"
#include "link/link_failure.h"
#include "link/port.h"
#include "link/worker_thread.h"

namespace zanth {

// Keeps the wire off the GUI thread. A thread of its own owns the port and keeps the link's rhythm: 500 ms
// of input discarded after the start, then for every message 100 ms of input discarded, the 9-byte message
// with the newest frame, and, when a reply is wanted, 25 ms of reading the battery reply. The GUI thread
// hands frames over (SetFrame) and gets battery values, failures and requests for a fresh frame back as
// queued signals.
//
// Nothing is sent before the first SetFrame after Start: a made-up frame could move the robot in a way the
// operator never asked for. A frame set more than kStaleFrameMs ago goes out as the neutral frame (its LED
// and command byte kept), so that a stuck GUI thread cannot keep a press on the wire.
//
// Start, Stop and the destructor belong to the thread that owns the object; SetFrame may be called from any.
class LinkWorker : public QObject {
    Q_OBJECT

  public:
    explicit LinkWorker(QObject* parent = nullptr);
    ~LinkWorker() override;
    LinkWorker(const LinkWorker&) = delete;
    LinkWorker& operator=(const LinkWorker&) = delete;

    // Takes the port and starts the link. False, with `reason` (may be null) set and the port closed, when
    // there is no port, a link is already running, or the thread or its wake-up descriptor cannot be made.
    bool Start(std::unique_ptr<Port> port, std::string* reason = nullptr);
    // The frame of the next message; the newest one wins. `replyWanted` chooses "k" (ask for the battery
    // reply) or "K".
    void SetFrame(const ControllerFrame& frame, bool replyWanted);
    // Ends the link within kStopBudgetMs, however the port behaves; with `finalFrame` the link thread first
    // tries to send it as a last "K" message, after the message under way. The port is closed when Stop
    // returns. Safe without Start and when called again.
    void Stop(std::optional<ControllerFrame> finalFrame);
    bool IsRunning() const { return thread_.Running(); }
    // Messages handed to the port since construction (for tests and measurements).
    std::uint64_t MessagesSent() const { return messagesSent_.load(); }
    // Messages whose output left the port (its queue drained after them), and turns in which garbage came
    // (a reply window with bytes that were no battery reply; input around a "K" message): what a port
    // reopened after a loss shows of itself.
    std::uint64_t MessagesLeft() const { return messagesLeft_.load(); }
    std::uint64_t GarbageTurns() const { return garbageTurns_.load(); }

    // Sends a recorded session in place of the frames set: its first message at the link's next turn, every
    // further one at its offset after the first (never sooner than the rhythm allows), then the frames set
    // again. Replaces a session under way; false when the link is not running or there is nothing to send.
    bool Play(std::vector<TimedMessage> messages);
    // Ends the played session at once: the next message carries the frame set.
    void StopPlaying();
    bool Playing() const { return playing_.load(); }
    // While halted only the neutral frame goes out, with the LED and the command byte of the frame set, and a
    // played session sends nothing. From any thread: a stop key watched on a thread of its own halts the
    // link before the GUI thread hears of it, and a stuck GUI thread cannot delay it.
    void Halt(bool on) { halted_.store(on); }
    // Halts until ClearStop, whatever Halt says meanwhile: the stop key's thread calls it, and a tick that
    // had not heard of the stop yet cannot undo it.
    void StopNow() { stopped_.store(true); }
    void ClearStop() { stopped_.store(false); }
    bool Halted() const { return halted_.load() || stopped_.load(); }

  signals:
    // A battery reply that parsed, from the message just sent.
    void batteryReply(int value);
    // The port failed, or what comes from it has been garbage alone for seconds; sent at most once per Start,
    // after which the link leaves the port alone until Stop.
    void linkFailed(zanth::LinkFailure failure);
    // kSampleLeadMs before the link takes the frame for its next message: a SetFrame in answer goes out in
    // it. Unanswered, the last frame set goes out again.
    void frameWanted();
    // Start succeeded (on the thread that called it), on `device`.
    void started(QString device);
    // Every message the driver took, and the outcome of every "k" message's reply window. Cheap enough to
    // leave connected: one small value per message.
    void messageSent(zanth::SentMessage message);
    void replyRead(zanth::ReplyRead reply);

  private:
    using Clock = std::chrono::steady_clock;

    void Run(std::unique_ptr<Port> port);
    PortResult Pump(Port& port);
    PortResult SendOne(Port& port);
    // What the next message carries: the played session's next one, else the frame set.
    struct Outgoing {
        WireMessage message{};
        int playedIndex = -1;
        std::uint64_t generation = 0;
    };
    bool TakeMessage(Outgoing& out);
    ControllerFrame FreshOrNeutral(Clock::time_point now, bool* turnedStale, bool* turnedFresh);
    void MarkSent(const Outgoing& out, Clock::time_point at);
    std::optional<Clock::time_point> PlayedDue();
    PortResult AwaitTurn(Port& port);
    int LeadMs();
    PortResult DiscardAfterReply(Port& port, int ms);
    PortResult ReadReply(Port& port, ReplyRead::Status* status);
    PortResult JudgeInput(bool replyWanted, ReplyRead::Status reply);
    void Finish(Port& port);
    PortResult WriteMessage(Port& port, const WireMessage& message, int ms, int wakeFd);
    bool Stopping() const { return stopping_.load(); }

    WorkerThread thread_;
    bool cutShort_ = false;      // link thread only: a message went out in part
    bool replyPending_ = false;  // link thread only: the last reply window stayed empty; it may come late
    long long turnInput_ = 0;    // link thread only: bytes dropped or read before this turn's message
    std::optional<Clock::time_point> garbageSince_;  // link thread only: garbage alone has come since
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;  // guards what follows
    std::optional<ControllerFrame> frame_;
    Clock::time_point frameSetAt_;
    bool frameStale_ = false;  // the neutral frame went out in place of a stale one, and the log said so
    bool replyWanted_ = false;
    std::optional<ControllerFrame> finalFrame_;
    Clock::time_point stopCalled_;
    emergency::Token lastWord_ = 0;  // the port as published for a crash's last message
    std::vector<TimedMessage> played_;
    std::size_t playedNext_ = 0;
    Clock::time_point playedEpoch_;  // when offset 0 of the played session is
    std::uint64_t playGeneration_ = 0;
    std::atomic<bool> playing_{false};
    std::atomic<bool> halted_{false};
    std::atomic<bool> stopped_{false};
    std::atomic<std::uint64_t> messagesSent_{0};
    std::atomic<std::uint64_t> messagesLeft_{0};
    std::atomic<std::uint64_t> garbageTurns_{0};
};

}  // namespace zanth
