#pragma once
#include <functional>
#include <memory>
#include <string>

#include "input/input_state.h"

namespace zanth {

// The keyboard as the control tick sees it. KeyboardReader is the real one; tests of the tick give their own.
class KeyboardDevice {
  public:
    virtual ~KeyboardDevice() = default;
    // `windowIsActive` answers whether the main window is active (asked at the foreground level);
    // `background` exactly 1 reads whichever window is active.
    virtual bool Create(std::function<bool()> windowIsActive, int background) = 0;
    // 0 when keys() holds the current state, -1 otherwise (keys() is then all up).
    virtual int Poll() = 0;
    virtual void Shutdown() = 0;
    virtual const KeyStates& keys() const = 0;
};

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
};

}  // namespace zanth
