#include "control/link_proof.h"

#include <algorithm>

namespace zanth {

void LinkProof::Opened(std::uint32_t now, Counts counts) {
    quietSince_ = now;
    atOpen_ = counts;
    garbage_ = counts.garbage;
    answered_ = false;
}

bool LinkProof::Proved(std::uint32_t now, Counts counts, int failedTries) {
    if (answered_) return true;
    if (counts.garbage != garbage_) {
        garbage_ = counts.garbage;
        quietSince_ = now;
    }
    return counts.left > atOpen_.left && now - quietSince_ >= SilenceNeededMs(failedTries);
}

bool LinkProof::FailedTry(bool proved, std::uint32_t livedMs, LinkFailure::Kind kind) const {
    using Kind = LinkFailure::Kind;
    if (!proved || livedMs < kLinkProvedMs) return true;
    return !answered_ && (kind == Kind::kGarbage || kind == Kind::kStalled);
}

std::uint32_t LinkProof::SilenceNeededMs(int failedTries) {
    return kLinkProvedMs << std::clamp(failedTries, 0, kSilenceDoublingsAtMost);
}

}  // namespace zanth
