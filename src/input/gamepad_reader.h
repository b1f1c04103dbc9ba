#pragma once
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "input/acquisition.h"
#include "input/devices.h"
#include "input/gamepad_layout.h"
#include "input/gamepad_names.h"
#include "input/input_state.h"

namespace zanth {

// How the opened gamepad's controls reach `state`.
enum class GamepadKind {
    kNone,            // no gamepad opened
    kGameController,  // a pad SDL knows: read in the one layout of GenericGamepadReading
                      // (input/gamepad_layout.h)
    kJoystick,  // any other: raw axes by what they are (their evdev codes on Linux), buttons as numbered
};

// A gamepad: the chosen one (Choose), or without a choice the first joystick of the system that opens. The
// stick values of GamepadSticks (padLX .. padRYChanged) are filled by the apply rules (input/apply.h) from
// `state`.
class GamepadReader final : public GamepadDevice, public GamepadNames {
  public:
    explicit GamepadReader(Language language = Language::kEnglish);
    ~GamepadReader() override;
    GamepadReader(const GamepadReader&) = delete;
    GamepadReader& operator=(const GamepadReader&) = delete;

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

    GamepadKind kind() const;
    // The opened gamepad's name and kind, e.g. "Xbox 360 Controller — game controller layout", in the
    // object's language; empty when none is open (also while the open one is unplugged).
    std::string Description() const override;
    // A pad chosen by its GUID is opened wherever it is in SDL's list, also after replugging; while it is
    // absent Create fails, whatever other pads there are. A different choice lets go of the open pad.
    void Choose(const PadChoice& choice) override;
    bool CanRumble() const override;
    bool Rumble(int ms) override;
    // The buttons and hat directions pressed since the last call, from SDL's events, each as a reading of
    // that moment.
    std::vector<GamepadState> TakePresses() override;
    bool PressWaiting() override;

    // The pads connected now, in SDL's order.
    static std::vector<PadInfo> ConnectedPads();

    // Where pad `index` of SDL's list is (PadChoice::place): the input device's unique id (a serial number, a
    // Bluetooth address), else the USB socket ("usb1/1-2") from the device's place in sysfs, below `root`
    // (tests) or "/".
    static std::string SystemPlace(int index, const std::string& root = "/");
    // The same for the device node SDL opened ("/dev/input/event5", "/dev/hidraw3").
    static std::string PlaceOfDevice(const std::string& devicePath, const std::string& root);

    // Where the axis capabilities of a raw joystick come from: the device path SDL opened it by (empty when
    // SDL names none, as for its virtual joysticks) to the bits, or nothing when unknown. Tests give
    // recorded bit sets. Takes effect from the next Create.
    using AbsBitsReader = std::function<std::optional<AbsBits>(const std::string& path)>;
    void setAbsBitsReader(AbsBitsReader reader) { absBitsReader_ = std::move(reader); }

  private:
    struct Device;
    bool Reopen();
    // The pads SDL lists now; the places of those of model `guid` only (reading them costs file reads, and
    // an unplugged pad is looked for on every poll).
    std::vector<PadChoice> Listed(const std::string& guid) const;
    void Read();
    // Replays SDL's joystick events since the last poll over the reading of that poll, noting every press.
    void CollectPresses();
    void ForgetPresses();

    Language language_ = Language::kEnglish;
    AbsBitsReader absBitsReader_;
    PadChoice choice_;

    std::unique_ptr<Device> device_;
    bool sdlSubsystem_ = false;  // holds one reference on SDL's game controller (and joystick) subsystem
    Acquisition acquisition_;
    GamepadState lastRead_ = GamepadState::Neutral();
    ControllerReading lastController_;
    std::vector<GamepadState> presses_;
};

}  // namespace zanth
