#pragma once
#include <bitset>

#include "model/controller_model.h"

namespace zanth {

// Items by index (ItemIndex), the inputs only.
using ItemSet = std::bitset<kInputItemCount>;

// Keeps every press until a message to the robot has carried it, however short the press was. The devices
// are sampled only once a tick and just before a message, so a tap can begin and end between two samples;
// the sources report such presses here, and every frame handed to the link holds them on top of what is
// held now. A press is let go once a message that was built after it left with it on board: one that comes
// after the last frame was built is never let go by the message of that frame.
class PressLatch {
  public:
    // Presses some source saw begin, whether they are still held or already let go.
    void Press(const ItemSet& items) { waiting_ |= items; }
    // A frame is built now: the presses it must carry on top of what is held.
    ItemSet Sample() {
        onBoard_ |= waiting_;
        waiting_.reset();
        return onBoard_;
    }
    // A message left holding `held`: the presses it carried that were in a frame built before it are done.
    void Sent(const ItemSet& held) { onBoard_ &= ~held; }
    // Everything not yet carried, for the tick's own view (the picture, the sounds, the LED).
    ItemSet Pending() const { return waiting_ | onBoard_; }
    void Clear() {
        waiting_.reset();
        onBoard_.reset();
    }

  private:
    ItemSet waiting_;  // pressed since the last frame was built
    ItemSet onBoard_;  // in a frame handed to the link, not yet seen leaving
};

}  // namespace zanth
