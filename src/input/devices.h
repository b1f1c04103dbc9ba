#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "input/input_state.h"
#include "model/pad_choice.h"

namespace zanth {

// The keyboard as the control tick sees it. KeyboardReader is the real one; tests of the tick give their own.
class KeyboardDevice {
  public:
    virtual ~KeyboardDevice() = default;
    // `windowIsActive` answers whether a window the devices drive from is active (asked at the foreground
    // level); `background` exactly 1 reads whichever window is active.
    virtual bool Create(std::function<bool()> windowIsActive, int background) = 0;
    // 0 when keys() holds the current state, -1 otherwise (keys() is then all up).
    virtual int Poll() = 0;
    virtual void Shutdown() = 0;
    virtual const KeyStates& keys() const = 0;
    // The keys that went down since the last call, whether still held or let go again: a tap shorter than
    // the time between two polls shows here only. Nothing while the keyboard may not be read.
    virtual KeyStates TakePresses() { return {}; }
    // A descriptor that turns readable when key events may be waiting for TakePresses; -1 when there is none.
    virtual int EventDescriptor() const { return -1; }
};

// A pad connected now, as the operation settings dialog lists it.
struct PadInfo {
    PadChoice id;
    bool controller = false;  // read in the game controller layout, else as a raw joystick
    std::string shortId;      // "045e:028e": USB vendor and product, what the system's own tools show
};

// Of the pads connected now, the index of the one `wanted` names: the one of its model at its place; else,
// when its place is unknown or it is the only one of its model, the first of its model. -1 when it is not
// there, or when twins are there and none where it was: which of them it is cannot be told.
int PickPad(const std::vector<PadChoice>& connected, const PadChoice& wanted);

// The gamepad as the control tick sees it: its last reading, and the stick values the apply rules fill in.
// GamepadReader is the real one; tests of the tick give their own.
class GamepadDevice : public GamepadSticks {
  public:
    virtual ~GamepadDevice() = default;
    virtual bool Create(std::function<bool()> windowIsActive, int background) = 0;
    // 0 when `state` holds the current reading; -1 otherwise (`state` then reads as nothing pressed).
    virtual int Poll() = 0;
    virtual void Shutdown() = 0;
    // The opened gamepad's name and kind, for the user; empty when none is open.
    virtual std::string Description() const { return {}; }
    // Only the chosen pad is opened from the next Create on; any other never drives this instance.
    virtual void Choose(const PadChoice&) {}
    // Whether the open pad has a rumble motor.
    virtual bool CanRumble() const { return false; }
    // Runs the open pad's motors for `ms`; false when it has none or none is open.
    virtual bool Rumble(int) { return false; }
    // A reading of the buttons and hats at each press since the last call, in order: a button or hat
    // direction pressed and let go between two polls shows here only. Nothing while the pad may not be read.
    virtual std::vector<GamepadState> TakePresses() { return {}; }
    // Whether a button or hat went down since the last poll. Cheap enough to ask a few times before each
    // message: a pad has no descriptor to watch, as the keyboard has.
    virtual bool PressWaiting() { return false; }

    GamepadState state = GamepadState::Neutral();
};

class GamepadNames;

// What the operation settings dialog asks of the gamepads: the names it offers for buttons and axes, and a
// gamepad of its own for its live view and Detect (the session lets go of its own meanwhile).
class GamepadSource {
  public:
    virtual ~GamepadSource() = default;
    virtual const GamepadNames& names() const = 0;
    // A gamepad not yet created; Create() opens it.
    virtual std::unique_ptr<GamepadDevice> NewGamepad() const = 0;
    // The pads connected now, in the system's order.
    virtual std::vector<PadInfo> ConnectedPads() const { return {}; }
};

}  // namespace zanth
