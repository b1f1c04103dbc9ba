#pragma once
// What one connection may send, counted off the wire before Qt's WebSocket reads it, so that frames Qt
// takes in silence (empty continuations, pings) are paid for too; and refusals folded per reason, so that a
// flood of them is neither a flood of log lines nor of Link Monitor rows.
#include <QByteArrayView>
#include <array>
#include <cstdint>
#include <vector>

#include "remote/remote_server.h"

namespace zanth {

// Walks WebSocket frame heads across reads that cut them anywhere.
class FrameCounter {
  public:
    // The frames whose head ends in `bytes`.
    int Feed(QByteArrayView bytes);

  private:
    std::uint64_t skip_ = 0;  // payload of the current frame still to come
    QByteArray head_;         // a frame head cut by the end of the last read
};

// Before hello: a few frames and about 4 KiB in all. Greeted: frames and bytes per second, with a burst of
// one second's worth.
class WireBudget {
  public:
    static constexpr int kFramesBeforeHello = 4;
    static constexpr std::int64_t kBytesBeforeHello = RemoteServer::kMaxFrameBytes + 64;
    static constexpr int kFramesPerSecond = 2 * RemoteServer::kMaxMessagesPerSecond;
    static constexpr std::int64_t kBytesPerSecond = 64 * 1024;

    void Greeted(std::int64_t now);
    // False once the connection has sent more than it may.
    bool Spend(int frames, std::int64_t bytes, std::int64_t now);

  private:
    bool greeted_ = false;
    double frames_ = kFramesBeforeHello;
    double bytes_ = kBytesBeforeHello;
    std::int64_t lastUs_ = 0;
};

// What the clients are told of the drive state: a stop, an enable or a new phase at once, the match's time
// left at most once a second, however finely the clock that sets it ticks.
class DrivePacer {
  public:
    static constexpr std::int64_t kMatchTimeUs = 1'000'000;

    // `drive` as it may be told at `now`: its time left held back to the one told last while that is new.
    RemoteDriveState Next(const RemoteDriveState& drive, std::int64_t now) const;
    void Told(const RemoteDriveState& told, std::int64_t now);
    const RemoteDriveState& told() const { return told_; }

  private:
    RemoteDriveState told_;
    std::int64_t timeUs_ = -kMatchTimeUs;
};

// Per reason: the first refusal after a quiet second is logged and gets a Monitor row; the ones after it
// within the second are counted and logged together once the second is over.
class RefusalFold {
  public:
    struct Told {
        bool log = false;  // log this one now, with its detail
        bool row = false;  // the first of a burst: one Monitor row
    };
    Told Count(RemoteRefusal refusal, std::int64_t now);
    // Counts not yet logged whose second is over; each is then forgotten.
    std::vector<std::pair<RemoteRefusal, int>> Due(std::int64_t now);
    // Whether counts wait to be logged.
    bool Untold() const;

  private:
    struct Slot {
        std::int64_t toldUs = -1'000'000'000;
        std::int64_t seenUs = -1'000'000'000;
        int untold = 0;
    };
    std::array<Slot, kRemoteRefusalCount> slots_{};
};

}  // namespace zanth
