#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "link/frame.h"
#include "model/controller_model.h"

namespace zanth {

// What a frame says in the model's terms.
struct DecodedFrame {
    std::uint32_t held = 0;  // bit i set: item i (ItemIndex) is held, for the items with a bit of their own
    int rightX = 128, rightY = 128, leftX = 128, leftY = 128;
    bool led = false;
    bool startByteOk = true;
};

// Reads frames back into items. Which bit stands for which item is learnt from BuildFrame over the model
// itself, one item pressed at a time, so the decoder can never disagree with what the link sends; the
// names are the model's, in the active language.
class FrameDecoder {
  public:
    explicit FrameDecoder(const ControllerModel& model);

    DecodedFrame Decode(const ControllerFrame& frame) const;
    // The names of the items held, in item order, joined by ", "; "-" for none.
    std::string HeldNames(std::uint32_t held) const;

  private:
    struct Bit {
        int item;
        int byte;
        std::uint8_t mask;  // the bit is 0 on the wire while the item is held
    };
    std::vector<Bit> bits_;
    std::uint8_t ledMask_ = 0;  // in byte 7, 0 while the LED is lit
    std::vector<std::string> names_;
};

}  // namespace zanth
