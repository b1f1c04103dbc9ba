#include "remote/wire_budget.h"

#include <algorithm>

namespace zanth {
namespace {

constexpr std::int64_t kSecondUs = 1'000'000;

// The length of a frame head from its first two bytes: the length fields and the mask.
int HeadLength(std::uint8_t second) {
    const int len7 = second & 0x7f;
    return 2 + (len7 == 126 ? 2 : len7 == 127 ? 8 : 0) + ((second & 0x80) ? 4 : 0);
}

std::uint64_t PayloadLength(const QByteArray& head) {
    const int len7 = static_cast<std::uint8_t>(head[1]) & 0x7f;
    if (len7 < 126) return static_cast<std::uint64_t>(len7);
    const int n = len7 == 126 ? 2 : 8;
    std::uint64_t length = 0;
    for (int i = 0; i < n; ++i) length = (length << 8) | static_cast<std::uint8_t>(head[2 + i]);
    return length;
}

}  // namespace

int FrameCounter::Feed(QByteArrayView bytes) {
    int frames = 0;
    while (!bytes.isEmpty()) {
        if (skip_ > 0) {
            const auto n = static_cast<qsizetype>(std::min<std::uint64_t>(skip_, bytes.size()));
            skip_ -= static_cast<std::uint64_t>(n);
            bytes = bytes.sliced(n);
            continue;
        }
        const qsizetype want = head_.size() < 2 ? 2 : HeadLength(static_cast<std::uint8_t>(head_[1]));
        const qsizetype n = std::min(want - head_.size(), bytes.size());
        head_.append(bytes.first(n));
        bytes = bytes.sliced(n);
        if (head_.size() < 2 || head_.size() < HeadLength(static_cast<std::uint8_t>(head_[1]))) continue;
        ++frames;
        skip_ = PayloadLength(head_);
        head_.clear();
    }
    return frames;
}

void WireBudget::Greeted(std::int64_t now) {
    greeted_ = true;
    frames_ = kFramesPerSecond;
    bytes_ = kBytesPerSecond;
    lastUs_ = now;
}

bool WireBudget::Spend(int frames, std::int64_t bytes, std::int64_t now) {
    if (greeted_) {
        const double seconds = static_cast<double>(now - lastUs_) * 1e-6;
        frames_ = std::min<double>(kFramesPerSecond, frames_ + seconds * kFramesPerSecond);
        bytes_ = std::min<double>(kBytesPerSecond, bytes_ + seconds * kBytesPerSecond);
        lastUs_ = now;
    }
    frames_ -= frames;
    bytes_ -= static_cast<double>(bytes);
    return frames_ >= 0 && bytes_ >= 0;
}

RefusalFold::Told RefusalFold::Count(RemoteRefusal refusal, std::int64_t now) {
    Slot& s = slots_[static_cast<std::size_t>(refusal)];
    Told told;
    told.row = now - s.seenUs >= kSecondUs;
    s.seenUs = now;
    if (s.untold == 0 && now - s.toldUs >= kSecondUs) {
        s.toldUs = now;
        told.log = true;
    } else {
        ++s.untold;
    }
    return told;
}

std::vector<std::pair<RemoteRefusal, int>> RefusalFold::Due(std::int64_t now) {
    std::vector<std::pair<RemoteRefusal, int>> due;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        Slot& s = slots_[i];
        if (s.untold == 0 || now - s.toldUs < kSecondUs) continue;
        due.emplace_back(static_cast<RemoteRefusal>(i), s.untold);
        s.untold = 0;
        s.toldUs = now;
    }
    return due;
}

bool RefusalFold::Untold() const {
    return std::any_of(slots_.begin(), slots_.end(), [](const Slot& s) { return s.untold > 0; });
}

RemoteDriveState DrivePacer::Next(const RemoteDriveState& drive, std::int64_t now) const {
    RemoteDriveState next = drive;
    if (next.matchPhase == told_.matchPhase && next.matchTime != told_.matchTime &&
        now - timeUs_ < kMatchTimeUs)
        next.matchTime = told_.matchTime;
    return next;
}

void DrivePacer::Told(const RemoteDriveState& told, std::int64_t now) {
    if (told.matchTime != told_.matchTime) timeUs_ = now;
    told_ = told;
}

}  // namespace zanth
