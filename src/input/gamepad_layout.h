#pragma once
// Where a gamepad's controls land in a reading (GamepadState), so that the factory bindings, made for a
// generic USB pad as the original system's input layer reports it, fit the pads people actually plug in.
#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <vector>

#include "input/input_state.h"

namespace zanth {

// ---- Raw joysticks: axes by what they are ----

// The absolute-axis capability bits of a Linux input device, one per ABS_* code.
inline constexpr int kAbsCodeCount = 64;
using AbsBits = std::bitset<kAbsCodeCount>;

// Where one raw axis of SDL's numbering goes: 0..5 the axes X..RZ of the reading, 6 and 7 its two sliders,
// kUnreadAxis nowhere.
inline constexpr int kSliderSlot = 6;
inline constexpr int kUnreadAxis = -1;
using AxisSlots = std::vector<int>;

// The slots of a device's raw axes from its capability bits: ABS_X .. ABS_RZ keep their identity, the
// first two of ABS_THROTTLE, ABS_RUDDER, ABS_WHEEL, ABS_GAS, ABS_BRAKE (and the unnamed codes up to the
// hats) become the sliders. `sdlAxes` and `sdlHats` are what SDL made of the device; nothing when the bits
// do not explain SDL's axis count (the caller then keeps SDL's order).
std::optional<AxisSlots> AxisSlotsFromAbsBits(const AbsBits& bits, int sdlAxes, int sdlHats);
// Raw axis i as code i: axes 0..5, then the two sliders. The layout where nothing better is known.
AxisSlots PositionalAxisSlots(int sdlAxes);

// SDL hat bits (up 1, right 2, down 4, left 8) as a point of view: hundredths of a degree clockwise from
// north, kPovCentred when centred or for a combination no hat can show.
std::int32_t PovFromHat(unsigned hatBits);

// ---- Game controllers: one layout for every known pad ----

// A game controller's state in SDL's own terms: axes in SDL_GameControllerAxis order (-32768..32767,
// triggers 0..32767), buttons in SDL_GameControllerButton order.
inline constexpr int kControllerAxes = 6;
inline constexpr int kControllerButtons = 21;
struct ControllerReading {
    std::array<int, kControllerAxes> axes{};
    std::array<bool, kControllerButtons> buttons{};
};

// The reading of a generic pad: left stick X/Y, right stick Z/RZ and also RX/RY, the d-pad on the first
// hat, buttons 0 right, 1 bottom, 2 top, 3 left face button, 4 L1, 5 L2, 6 R1, 7 R2, 8 Back, 9 Start,
// 10 and 11 the stick clicks, 12 guide, 13.. the extra buttons. Triggers are buttons only (down past half
// way), so a trigger resting at its end never moves a stick.
GamepadState GenericGamepadReading(const ControllerReading& controller);

}  // namespace zanth
