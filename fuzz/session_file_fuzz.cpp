// Any bytes as a recorded session chosen for playback, read through the file system the way the player
// reads it: refused with a reason, or read whole and prepared for the link. What the link plays then keeps
// the recorded messages in order, never sooner than the rhythm allows, and fills pauses only with the
// neutral frame.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "control/session_file.h"

namespace {

void Check(const zanth::RecordedSession& recorded, const zanth::PlayedSession& played) {
    using zanth::kFillerStepUs;
    std::size_t next = 0, gap = 0;
    for (std::size_t i = 0; i < played.messages.size(); ++i) {
        const zanth::TimedMessage& m = played.messages[i];
        if (i > 0 && m.offsetUs < played.messages[i - 1].offsetUs) std::abort();
        const bool filler = gap < played.gaps.size() && i >= played.gaps[gap].firstFiller;
        if (filler) {
            const zanth::PlayedGap& g = played.gaps[gap];
            const zanth::ControllerFrame neutral = zanth::NeutralFrame(false);
            if (!std::equal(neutral.begin(), neutral.end() - 1, m.bytes.begin() + 1)) std::abort();
            if (m.offsetUs - played.messages[i - 1].offsetUs != kFillerStepUs) std::abort();
            if (i + 1 == g.firstFiller + g.fillers) ++gap;
            continue;
        }
        if (next >= recorded.messages.size() || m.bytes != recorded.messages[next].bytes) std::abort();
        if (i > 0 && played.messages[i - 1].bytes != recorded.messages[next - 1].bytes &&
            m.offsetUs - played.messages[i - 1].offsetUs < kFillerStepUs)
            std::abort();  // the message after a pause comes a full step after its last neutral one
        ++next;
    }
    if (next != recorded.messages.size() || gap != played.gaps.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = ::memfd_create("zanth-session-fuzz", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ::ftruncate(fd, 0) != 0) std::abort();
    if (size && ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();

    zanth::SessionFileError error;
    zanth::RecordedSession recorded = zanth::ReadSessionFile(path, &error);
    const bool ok = error.kind == zanth::SessionFileError::Kind::kNone;
    if (ok == recorded.messages.empty()) std::abort();
    if (!ok) return 0;
    const zanth::PlayedSession played = zanth::PrepareForPlaying(recorded);
    Check(recorded, played);
    return 0;
}
