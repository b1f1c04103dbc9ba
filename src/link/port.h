#pragma once
#include <chrono>
#include <cstdint>
#include <string>

#include "link/frame.h"
#include "link/link_failure.h"

namespace zanth {

using PortClock = std::chrono::steady_clock;

// `ms` from now (a negative time counts as none).
PortClock::time_point DeadlineIn(int ms);
// Milliseconds left until `deadline`, rounded up so that a wait never ends just short of it (and a loop never
// polls with a zero timeout while time remains).
int MsUntil(PortClock::time_point deadline);

// What one call on a port came to.
struct PortResult {
    enum class Status {
        kOk,        // done; for Discard and Read also when their time ran out
        kWoken,     // the wake descriptor became readable first
        kTimedOut,  // Write or Drain: the output had not left when the time ran out
        kFailed,    // the port failed; `kind` and `detail` say how
    };
    Status status = Status::kOk;
    int count = 0;  // bytes read (Read) or written (Write)
    LinkFailure::Kind kind = LinkFailure::Kind::kOther;
    std::string detail;
};

// The serial port as the link thread uses it; tests put a fake in its place.
//
// Every call returns within its time (`ms`, never negative; 0 still tries once without waiting) and sleeps
// while it waits, never spinning. Where it waits it also ends as soon as `wakeFd` (an eventfd; -1 for none)
// becomes readable, answering kWoken. A port is used by one thread at a time.
class Port {
  public:
    virtual ~Port() = default;

    // The device this port was opened on, for messages.
    virtual const std::string& Device() const = 0;
    // Reads and drops whatever arrives for `ms`; lasts the whole time unless woken or failed. `count` says
    // how many bytes were dropped. Input is left to gather and read in large blocks, so that a peer flooding
    // the line does not wake the thread for every few bytes.
    virtual PortResult Discard(int ms, int wakeFd) = 0;
    // Reads up to `n` bytes into `buffer`: returns as soon as `n` have come, else with what came in `ms`.
    virtual PortResult Read(std::uint8_t* buffer, int n, int ms, int wakeFd) = 0;
    // Hands the whole message to the driver within `ms`. `wakeFd` ends the wait only while none of it has
    // been written, so the wire never carries half a message because of a wake.
    virtual PortResult Write(const WireMessage& message, int ms, int wakeFd) = 0;
    // Waits until the written output has left the port, at most `ms`.
    virtual PortResult Drain(int ms, int wakeFd) = 0;
    // Throws away output that has not left yet.
    virtual void Flush() = 0;
    // True when output the port has taken still leaves after the port is closed (a socket's send buffer), so
    // that the way out gains nothing by waiting for it.
    virtual bool OutputOutlivesClose() const { return false; }
    // The descriptor that a crash handler may write the robot's last message to; -1 when there is none.
    virtual int NativeHandle() const { return -1; }
};

}  // namespace zanth
