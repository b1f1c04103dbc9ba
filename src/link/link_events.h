#pragma once
// What the link thread reports about the wire, for the monitor and the recorder, and the messages of a
// recorded session that it plays back. Plain values, handed across threads by queued signals.
#include <QMetaType>
#include <array>
#include <chrono>
#include <cstdint>

#include "link/frame.h"
#include "link/wire.h"

namespace zanth {

// Microseconds of the steady clock: the one time base of everything the link reports.
inline std::int64_t LinkClockUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// One message as the driver took it.
struct SentMessage {
    WireMessage bytes{};
    std::int64_t sentAtUs = 0;
    int playedIndex = -1;  // its place in the session being played back; -1 for the live frame
};

// The outcome of one "k" message's reply window.
struct ReplyRead {
    enum class Status : std::uint8_t {
        kOk,       // a battery reply: `level` holds its value
        kGarbage,  // bytes came, but no battery reply
        kNone,     // nothing came, not even later
        kLate,     // nothing in the window; `bytes` came while the next message's discard dropped them
    };
    Status status = Status::kNone;
    int level = 0;
    int count = 0;  // valid bytes of `bytes`
    std::int64_t atUs = 0;
    std::array<std::uint8_t, kReplyBytes> bytes{};
};

// One message of a recorded session, with its time after the session's first message.
struct TimedMessage {
    std::int64_t offsetUs = 0;
    WireMessage bytes{};
    bool operator==(const TimedMessage&) const = default;
};

}  // namespace zanth

Q_DECLARE_METATYPE(zanth::SentMessage)
Q_DECLARE_METATYPE(zanth::ReplyRead)
