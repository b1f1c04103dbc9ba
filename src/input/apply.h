#pragma once
// The rules that fold a keyboard or gamepad reading into the controller items and stick values. Plain
// functions over the model and plain reading structs; they know no device.
#include "input/input_state.h"
#include "model/controller_model.h"

namespace zanth {

class KeyboardDevice;
class GamepadDevice;

// Dead zone of the raw axis scale: readings from kDeadZoneLow to kDeadZoneHigh count as centred.
inline constexpr int kDeadZoneLow = 24576;   // 0x6000
inline constexpr int kDeadZoneHigh = 40958;  // 0x9FFE
// A button byte above this counts as down.
inline constexpr int kButtonThreshold = 32;

// ---- Keyboard ----

// Lets one item follow its bound key. 0 when the binding is outside 0..255 (the item is left alone), else
// 1. A press edge of an item that toggles the LED flips the LED first; only changes are invalidated.
int ApplyKeyToItem(ControllerModel& model, ControllerItem& item, const KeyStates& keys);
// The 15 buttons, then the pad items, then the stick items.
void ApplyKeyboard(ControllerModel& model, const KeyStates& keys);
void ApplyKeyboard(ControllerModel& model, const KeyboardDevice& keyboard);
// After a failed keyboard poll: every item the keyboard held is let go at once (never the LED).
void ReleaseKeyboardItems(ControllerModel& model);

// ---- Gamepad ----

// Raw 0..65535 reading of axis `code` (0 X .. 5 RZ). Any other code, and any reading while the model's
// gamepad is not ready, gives the centre, which presses nothing.
int ReadAxis(const ControllerModel& model, const GamepadState& state, int code);
// 0..65535 to 0..255, truncating. Readings outside the scale are pinned to its ends.
inline int ScaleAxis(int raw) {
    const int pinned = raw < kAxisMin ? kAxisMin : (raw > kAxisMax ? kAxisMax : raw);
    return pinned * 255 / 65535;
}

// Each argument 0 = pressed, 1 = released, for the pad items UP, RIGHT, DOWN, LEFT.
void SetPadDirections(ControllerModel& model, int up, int right, int down, int left);
void ApplyPadButtons(ControllerModel& model, const GamepadState& state);
void ApplyPov(ControllerModel& model, const GamepadState& state);
void ApplyLeftStick(ControllerModel& model, const GamepadState& state, GamepadSticks& sticks);
void ApplyRightStick(ControllerModel& model, const GamepadState& state, GamepadSticks& sticks);
// ApplyPadButtons, ApplyPov, ApplyLeftStick and ApplyRightStick, in this order.
void ApplyGamepad(ControllerModel& model, const GamepadState& state, GamepadSticks& sticks);
void ApplyGamepad(ControllerModel& model, GamepadDevice& gamepad);

// After a failed gamepad poll: every item the gamepad held is let go at once and the left and right stick
// values return to 128. If the gamepad had been holding the right stick off centre, the matching changed
// flag is set once so that the slider it drove returns to the centre; later calls leave the flags at 0, so a
// slider moved with the mouse meanwhile keeps its place.
void ReleaseGamepadItems(ControllerModel& model, GamepadSticks& sticks);

// One right-stick axis as a stick byte: the reading scaled to 0..255, or 128 inside the dead zone.
int RightStickValue(const ControllerModel& model, const GamepadState& state, int code);

// The right-stick readings remembered between polls (process-wide, as the sliders are). They start at 127,
// off the centre, so that the first reading always counts as a change. Tests put them back with this.
void ResetRightStickHistory();

}  // namespace zanth
