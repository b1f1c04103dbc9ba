#pragma once
#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "link/frame.h"
#include "link/serial.h"

namespace zanth {

// Keeps the wire off the GUI thread. A thread of its own owns the open port and keeps the link's rhythm:
// 500 ms of input discarded after opening, then for every message 100 ms of input discarded, the 9-byte
// message with the newest frame, and, when a reply is wanted, 25 ms of reading the battery reply. The GUI
// thread only hands over frames (SetFrame) and gets battery values and errors back as queued signals.
//
// Nothing is sent before the first SetFrame: a made-up frame could move the robot in a way the operator
// never asked for.
//
// Start, Stop and the destructor belong to the thread that owns the object; SetFrame may be called from any.
class LinkWorker : public QObject {
    Q_OBJECT

  public:
    explicit LinkWorker(QObject* parent = nullptr);
    ~LinkWorker() override;
    LinkWorker(const LinkWorker&) = delete;
    LinkWorker& operator=(const LinkWorker&) = delete;

    // Takes ownership of a port opened with ComOpenNoDiscard (the thread does the opening discard) and starts
    // the link. False, with the port closed, when `port` is null, a link is already running, or no thread
    // could be made.
    bool Start(PortHandle port);
    // The frame of the next message; the newest one wins. `replyWanted` chooses "k" (ask for the battery
    // reply) or "K".
    void SetFrame(const ControllerFrame& frame, bool replyWanted);
    // Ends the link at once, whatever wait it is in; with `finalFrame` a last "K" message carrying it goes
    // out first. Closes the port. Safe without Start and when called again.
    void Stop(std::optional<ControllerFrame> finalFrame);
    bool IsRunning() const { return thread_.joinable(); }
    // Messages written since construction (for tests and measurements).
    std::uint64_t MessagesSent() const { return messagesSent_.load(); }

  signals:
    // A battery reply that parsed, from the message just sent.
    void batteryReply(int value);
    // The port failed (for example the robot was unplugged); sent once, after which the link sends nothing
    // until it is stopped.
    void linkError(QString reason);

  private:
    void Run();
    void FailAndWait(const std::string& reason);

    std::thread thread_;
    PortHandle port_ = nullptr;
    int wakeFd_ = -1;
    std::mutex mutex_;
    std::optional<ControllerFrame> frame_;
    bool replyWanted_ = false;
    std::atomic<std::uint64_t> messagesSent_{0};
};

}  // namespace zanth
