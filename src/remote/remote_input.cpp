#include "remote/remote_input.h"

namespace zanth {

int FoldStick(std::span<const StickVote> votes) {
    const StickVote* last = nullptr;
    for (const StickVote& v : votes)
        if (v.value != 128 && (last == nullptr || v.movedAt > last->movedAt)) last = &v;
    return last ? last->value : 128;
}

void CastVote(StickVote& vote, int value, std::int64_t now) {
    if (value == vote.value) return;
    vote.value = value;
    if (value != 128) vote.movedAt = now;
}

void ApplyRemoteMessage(RemoteHold& hold, const RemoteMessage& message, std::int64_t now) {
    switch (message.type) {
        case RemoteMessageType::kPress:
        case RemoteMessageType::kRelease:
            hold.items.set(static_cast<std::size_t>(message.item), message.type == RemoteMessageType::kPress);
            break;
        case RemoteMessageType::kSticks:
            for (std::size_t i = 0; i < hold.sticks.size(); ++i)
                CastVote(hold.sticks[i], message.sticks[i], now);
            break;
        case RemoteMessageType::kReleaseAll:
            hold.Clear();
            break;
        case RemoteMessageType::kHello:
        case RemoteMessageType::kPing:
        case RemoteMessageType::kStop:  // the session stops the robot; the hold stays as it is
            break;
    }
}

void AddHold(RemoteInput& input, const RemoteHold& hold) {
    input.items |= hold.items;
    for (std::size_t i = 0; i < input.sticks.size(); ++i) {
        const StickVote& mine = hold.sticks[i];
        StickVote& all = input.sticks[i];
        if (mine.value != 128 && (all.value == 128 || mine.movedAt > all.movedAt)) all = mine;
    }
}

void ApplyRemoteItems(ControllerModel& model, const RemoteItems& held, bool pressEdges) {
    for (int i = 0; i < kInputItemCount; ++i) {
        ControllerItem& item = model.item(i);
        const int down = held.test(static_cast<std::size_t>(i)) ? 1 : 0;
        if (down == item.remoteDown) continue;
        if (pressEdges && down && item.togglesLed == 1) model.FlipLed();
        item.remoteDown = down;
        model.InvalidateItem(item);
    }
}

std::array<int, 4> StickMerge::Merge(const std::array<int, 4>& local, const StickVotes& remote,
                                     std::int64_t now) {
    std::array<int, 4> out{};
    for (std::size_t i = 0; i < out.size(); ++i) {
        CastVote(local_[i], local[i], now);
        const StickVote pair[] = {local_[i], remote[i]};
        out[i] = FoldStick(pair);
    }
    return out;
}

}  // namespace zanth
