#pragma once
// Remote input folded like the other sources: a button is held while any source holds it; a stick axis
// follows the source that moved it last, and goes back to the others when that one centres.
#include <array>
#include <bitset>
#include <cstdint>
#include <span>

#include "model/controller_model.h"
#include "remote/protocol.h"

namespace zanth {

// One source's say over one stick axis: its stick byte and when it last moved off or along the centre.
struct StickVote {
    int value = 128;
    std::int64_t movedAt = 0;
    bool operator==(const StickVote&) const = default;
};
using StickVotes = std::array<StickVote, 4>;  // lx, ly, rx, ry

// The value of the off-centre vote that moved last; 128 when every vote is centred.
int FoldStick(std::span<const StickVote> votes);
// A new reading of one source's axis; a change off the centre counts as a move made at `now`.
void CastVote(StickVote& vote, int value, std::int64_t now);

using RemoteItems = std::bitset<kInputItemCount>;

// What one client holds.
struct RemoteHold {
    RemoteItems items;
    StickVotes sticks{};
    void Clear() { *this = RemoteHold{}; }
};
// press, release, sticks and release_all change the hold; other messages leave it alone.
void ApplyRemoteMessage(RemoteHold& hold, const RemoteMessage& message, std::int64_t now);

// The remote clients together.
struct RemoteInput {
    RemoteItems items;
    StickVotes sticks{};
};
// Adds one client's hold: its items to the others', its stick votes where they moved later.
void AddHold(RemoteInput& input, const RemoteHold& hold);

// Sets each input item's remoteDown from `held`. With `pressEdges`, a press of an item that toggles the LED
// flips the LED, as a key's press does (the tick only; a sampled frame never flips it).
void ApplyRemoteItems(ControllerModel& model, const RemoteItems& held, bool pressEdges);

// The sticks of the other sources against the remote clients'. Keeps when each local axis last moved.
class StickMerge {
  public:
    // local: lx, ly, rx, ry as the keyboard, gamepad, mouse and sliders make them; answers what goes out.
    std::array<int, 4> Merge(const std::array<int, 4>& local, const StickVotes& remote, std::int64_t now);

  private:
    StickVotes local_{};
};

}  // namespace zanth
