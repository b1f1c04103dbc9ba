#pragma once
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "input/acquisition.h"
#include "input/devices.h"
#include "input/input_state.h"

namespace zanth {

// A code (button index or axis code, -1 = none) with the name the settings dialog shows for it.
struct CodeName {
    int code = -1;
    std::string name;
};

// A gamepad: the first joystick of the system that opens. The stick values of PadSticks (padLX ..
// padRYChanged) are filled by the apply rules (input/apply.h) from `state`.
class CJoystick final : public GamepadDevice {
  public:
    // `language` 1 gives the Japanese names, any other value the English ones.
    explicit CJoystick(int language = 0);
    ~CJoystick() override;
    CJoystick(const CJoystick&) = delete;
    CJoystick& operator=(const CJoystick&) = delete;

    // Looks for a gamepad and opens the first one that opens. `windowIsActive` answers whether the owning
    // window is active; `background` exactly 1 reads the gamepad whichever window is active, any other value
    // only while `windowIsActive()` is true (then `windowIsActive` must be given). Whatever an earlier Create
    // left open is released first, and a failed Create leaves nothing open behind it, so it can be retried
    // for as long as no gamepad is there. True when a gamepad was opened; the stick values are then centred.
    bool Create(std::function<bool()> windowIsActive, int background) override;
    // 0 when `state` holds the current reading. -1 when no gamepad is open, the window is not active at the
    // foreground level, or the gamepad was unplugged; `state` then reads as nothing pressed. An unplugged
    // gamepad is looked for again by the following polls and read again once it is back.
    int Poll() override;
    // Releases the gamepad. Safe to call at any time, also twice.
    void Shutdown() override;

    bool opened() const;

    // Position of a code in buttonNames / axisNames (0 is "none", for code -1), -1 when absent.
    int ButtonIndex(int code) const;
    std::optional<std::string> ButtonName(int code) const;
    int AxisIndex(int code) const;
    std::optional<std::string> AxisName(int code) const;

    std::array<CodeName, 21> buttonNames;
    std::array<CodeName, 7> axisNames;

  private:
    struct Device;
    bool Reopen();
    void Read();

    std::unique_ptr<Device> device_;
    bool sdlJoystick_ = false;  // holds one reference on SDL's joystick subsystem
    Acquisition acquisition_;
};

}  // namespace zanth
