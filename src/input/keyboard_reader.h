#pragma once
#include <functional>
#include <memory>
#include <string>

#include "input/acquisition.h"
#include "input/devices.h"
#include "input/input_state.h"

namespace zanth {

class KeyboardBackend;

// The PC keyboard, sampled as a whole once per control tick rather than through key messages.
//
// On X11 the state of all keys comes from the X server (scan code = X keycode - 8). Where there is no X11
// display (a Wayland session without XWayland, the offscreen platform) the keys are tracked from the Qt key
// events of this application instead; such a keyboard can only see keys while one of our windows has the
// focus, so it behaves as the foreground level whatever was asked for.
class KeyboardReader final : public KeyboardDevice {
  public:
    enum class Backend { kNone, kX11, kQtEvents };

    KeyboardReader();
    ~KeyboardReader() override;
    KeyboardReader(const KeyboardReader&) = delete;
    KeyboardReader& operator=(const KeyboardReader&) = delete;

    // Opens the keyboard. `windowIsActive` answers whether the main window is the active window; it is
    // asked on every poll at the foreground level and may be empty at the background level. `background`
    // exactly 1 reads keys whichever window is active; any other value is the foreground level.
    // Picks X11 when the running Qt application (or, without one, $DISPLAY) offers an X11 display, else the
    // Qt key events. A Create on an open keyboard first shuts it down. False when no keyboard could be
    // opened, or at the foreground level without a `windowIsActive`.
    bool Create(std::function<bool()> windowIsActive, int background) override;
    // The same with a given back-end: X11 on the named display ("" = $DISPLAY), or Qt key events (needs a
    // QGuiApplication).
    bool CreateX11(std::function<bool()> windowIsActive, int background, const std::string& displayName);
    bool CreateQtEvents(std::function<bool()> windowIsActive);

    // 0 when keys() now holds the current state; -1 when there is no keyboard, the main window is not active
    // at the foreground level, or reading failed. keys() is all up after a failed poll.
    int Poll() override;
    void Shutdown() override;

    const KeyStates& keys() const override { return keys_; }
    // The keys pressed since the last call; none while the keyboard may not be read (then they are dropped).
    KeyStates TakePresses() override;
    int EventDescriptor() const override;
    Backend backend() const { return backend_; }

  private:
    bool Open(std::unique_ptr<KeyboardBackend> device, Backend kind, std::function<bool()> windowIsActive,
              bool background);

    std::unique_ptr<KeyboardBackend> device_;
    Backend backend_ = Backend::kNone;
    Acquisition acquisition_;
    KeyStates keys_{};
};

}  // namespace zanth
