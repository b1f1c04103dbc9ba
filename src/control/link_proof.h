#pragma once
#include <cstdint>

#include "link/link_failure.h"

namespace zanth {

// A reopened port counts as back only once it holds this long (or the robot answered); a link that dies
// sooner was a failed try (a bridge that accepts and hangs up at once).
inline constexpr std::uint32_t kLinkProvedMs = 1000;
// Silence proves a port more slowly after each failed try: up to kLinkProvedMs << this.
inline constexpr int kSilenceDoublingsAtMost = 5;

// What proves a lost port back: a valid battery reply; or, for a robot that never answers, messages that
// left the port (the output queue drained after them) with no garbage coming back, for a while. A bridge
// that floods garbage or takes nothing shows neither. A bridge that takes what is sent and stalls later is
// told from a robot that never answers only by time: each failed try in a row doubles the time silence
// must hold, so that such a bridge stops being announced as back.
class LinkProof {
  public:
    // The link's running counts: messages that left the port, turns in which garbage came.
    struct Counts {
        std::uint64_t left = 0;
        std::uint64_t garbage = 0;
    };

    void Opened(std::uint32_t now, Counts counts);
    void Answered() { answered_ = true; }
    bool answered() const { return answered_; }
    // Whether the link has proved itself by `now`, after `failedTries` failed tries in a row.
    bool Proved(std::uint32_t now, Counts counts, int failedTries);
    // Whether a link that ended with `kind` after `livedMs` was a failed try: it was never proved (or only
    // for an instant), or it never answered and ended in garbage or a stall.
    bool FailedTry(bool proved, std::uint32_t livedMs, LinkFailure::Kind kind) const;
    static std::uint32_t SilenceNeededMs(int failedTries);

  private:
    std::uint32_t quietSince_ = 0;  // the last turn that brought garbage, or the open
    Counts atOpen_;
    std::uint64_t garbage_ = 0;  // the garbage count seen last
    bool answered_ = false;
};

}  // namespace zanth
