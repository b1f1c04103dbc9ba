#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "link/wire.h"
#include "model/controller_model.h"

namespace zanth {

// The 8 bytes the robot receives after the command byte.
using ControllerFrame = std::array<std::uint8_t, kMaxFrameBytes>;

// One message on the wire: command byte "k" (a battery reply is wanted) or "K", then 8 frame bytes.
using WireMessage = std::array<std::uint8_t, kMessageBytes>;
WireMessage BuildMessage(const ControllerFrame& frame, bool replyWanted);
// The first min(length, 8) bytes of `data`, the rest zeros; null data or a length below 1 gives zeros.
WireMessage BuildMessage(const std::uint8_t* data, int length, bool replyWanted);

// One analog axis from two opposite direction items: the gamepad's reading wins, then the mouse (16 or 240),
// then the keys or a remote client (both = 128), else centre.
int StickByte(const ControllerItem& negative, const ControllerItem& positive, int gamepadValue);

std::uint8_t ButtonByte1(const ControllerModel& model);
std::uint8_t ButtonByte2(const ControllerModel& model);
std::uint8_t FlagBits(const ControllerModel& model);
ControllerFrame BuildFrame(const ControllerModel& model);

// The frame of a controller nobody touches: nothing pressed, sticks centred, LED as given.
ControllerFrame NeutralFrame(bool ledLit);
// Whether `frame` shows the LED lit.
bool LedLit(const ControllerFrame& frame);

// "BB" + separator + decimal number; none when nothing came or the reply does not start with "BB".
std::optional<int> ParseBatteryReply(const std::uint8_t* bytes, std::size_t count);

struct Rgb {
    std::uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};
Rgb BatteryColour(int value);

}  // namespace zanth
