#pragma once
// A port on a line that takes nothing, for the link's and the session's tests of the way out.
#include <poll.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/port.h"

namespace zanth::test {

// What a StuckPort saw; it outlives the port so the test can look after Stop.
struct StuckLog {
    std::mutex mutex;
    std::vector<WireMessage> writes;
    std::vector<PortResult::Status> discards;  // how each discard ended
    std::vector<int> wayOutMs;       // the time each stuck call of the way out (no wake-up) was given
    std::atomic<bool> stuck{false};  // the link is inside a call that does not complete
    std::atomic<bool> destroyed{false};
};

// Where a StuckPort's line stops taking output.
enum class Stuck { kBeforeTheMessage, kHalfwayThrough, kAfterTheDriverTookIt };

// A port on a line that takes nothing. Its stuck calls take all the time they are given: the stuck Write
// even ignores the wake-up, as a real one may once part of its message is out.
class StuckPort final : public Port {
    using Status = PortResult::Status;

  public:
    // `outlives`: output left to the port still goes after it closes, as a socket's does.
    StuckPort(std::shared_ptr<StuckLog> log, Stuck stuck, bool outlives = false)
        : log_(std::move(log)), stuck_(stuck), outlives_(outlives) {}
    ~StuckPort() override { log_->destroyed = true; }

    const std::string& Device() const override { return device_; }
    PortResult Discard(int ms, int wakeFd) override {
        PortResult r = Wait(ms, wakeFd, Status::kOk);
        std::lock_guard lock(log_->mutex);
        log_->discards.push_back(r.status);
        return r;
    }
    PortResult Read(std::uint8_t*, int, int ms, int wakeFd) override { return Wait(ms, wakeFd, Status::kOk); }
    PortResult Write(const WireMessage& message, int ms, int wakeFd) override {
        {
            std::lock_guard lock(log_->mutex);
            log_->writes.push_back(message);
        }
        if (stuck_ == Stuck::kAfterTheDriverTookIt) {
            PortResult done;
            done.count = static_cast<int>(message.size());
            return done;
        }
        NoteStuck(ms, wakeFd);
        PortResult r = Wait(ms, -1, Status::kTimedOut);
        r.count = stuck_ == Stuck::kHalfwayThrough ? 4 : 0;
        return r;
    }
    PortResult Drain(int ms, int wakeFd) override {
        NoteStuck(ms, wakeFd);
        return Wait(ms, wakeFd, Status::kTimedOut);
    }
    void Flush() override {}
    bool OutputOutlivesClose() const override { return outlives_; }

  private:
    void NoteStuck(int ms, int wakeFd) {
        if (wakeFd < 0) {
            std::lock_guard lock(log_->mutex);
            log_->wayOutMs.push_back(ms);
        }
        log_->stuck = true;
    }
    static PortResult Wait(int ms, int wakeFd, Status atTimeOut) {
        pollfd p{wakeFd, POLLIN, 0};
        PortResult r;
        r.status = poll(&p, wakeFd >= 0 ? 1 : 0, ms) > 0 ? Status::kWoken : atTimeOut;
        return r;
    }

    std::shared_ptr<StuckLog> log_;
    Stuck stuck_;
    bool outlives_;
    std::string device_ = "/dev/stuck0";
};

}  // namespace zanth::test
