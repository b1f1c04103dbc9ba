#pragma once
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "link/port.h"

namespace zanth {

PortResult PortFailure(LinkFailure::Kind kind, std::string detail, int count = 0);

// A port over one non-blocking descriptor: the waits, reads, writes and drops that a serial device and a
// socket share. What the two do their own way is said once, in a Manner.
class DescriptorPort : public Port {
  public:
    struct Manner {
        bool socket;  // bytes move by recv/send (never raising SIGPIPE), else by read/write
        // A read came to end of file: the other end went away.
        LinkFailure::Kind endKind;
        const char* endDetail;
        // The failure an error number of a transfer, a wait or an ioctl on `fd` stands for.
        PortResult (*failureOf)(int fd, int error, int count);
        // Whether poll's hang-up and error flags are a failure by themselves; else the next transfer tells.
        bool eventsFail;
        // The ioctl that tells how many bytes of output have not gone yet, and how long Drain sleeps before
        // asking again: `drainStepMs`, or less when the line's rate (`drainBaud`, 0 for none) says sooner.
        unsigned long unsentRequest;
        int drainStepMs;
        int drainBaud;
        // How Discard waits between drops: for `discardEvents` (besides what poll reports unasked) in slices
        // of `discardSliceMs` at the most.
        short discardEvents;
        int discardSliceMs;
        // How many of the last bytes received are kept for EndDetail (0: none).
        int keptBytes = 0;
    };

    PortResult Discard(int ms, int wakeFd) override;
    PortResult Read(std::uint8_t* buffer, int n, int ms, int wakeFd) override;
    PortResult Write(const WireMessage& message, int ms, int wakeFd) override;
    PortResult Drain(int ms, int wakeFd) override;

  protected:
    DescriptorPort(int fd, const Manner& manner) : fd_(fd), manner_(manner) {}

    // Reads what the descriptor holds, a block at a time, until it holds no more (at most a bounded amount,
    // so that a peer faster than the reads cannot keep the thread here). `revents`: what poll said before.
    PortResult DropQueued(short revents);
    // The detail of a failure by end of file: the Manner's, unless the port can say more from LastBytes.
    virtual std::string EndDetail() const { return manner_.endDetail; }
    // The last `keptBytes` bytes received, oldest first.
    const std::string& LastBytes() const { return lastBytes_; }

    const int fd_;

  private:
    ssize_t ReceiveSome(void* buffer, std::size_t n) const;
    ssize_t SendSome(const void* data, std::size_t n) const;
    PortResult FailureOf(int error, int count) const { return manner_.failureOf(fd_, error, count); }
    std::optional<PortResult> FailureOfEvents(short revents, int count) const;
    int DrainStepMs(int unsent) const;
    void Keep(const std::uint8_t* data, ssize_t n);

    const Manner manner_;
    std::string lastBytes_;
};

}  // namespace zanth
