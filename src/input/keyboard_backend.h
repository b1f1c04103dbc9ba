#pragma once
// Back-ends of KeyboardReader. Kept apart from keyboard.h so that neither X11 nor Qt event types reach the
// public header; each back-end's platform headers stay inside its own .cpp file.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "input/input_state.h"

namespace zanth {

class KeyboardBackend {
  public:
    virtual ~KeyboardBackend() = default;
    // Fills `keys` (all up on entry) with the keys down now. False when the state could not be read.
    virtual bool Read(KeyStates& keys) = 0;
    // The device lost its acquisition: keys held until now must not count once it is read again.
    virtual void Forget() {}
    // Marks in `keys` every key that went down since the last call, also those let go again since.
    virtual void TakePresses(KeyStates& keys) { (void)keys; }
    // Readable when key events wait for TakePresses; -1 when the back-end has none of its own.
    virtual int Descriptor() const { return -1; }
};

// X11: the key map of the X server on `displayName` ("" = $DISPLAY). Null when the display cannot be opened.
std::unique_ptr<KeyboardBackend> MakeX11Keyboard(const std::string& displayName);
// X11 on the same server as an already open Xlib display (the one Qt uses).
std::unique_ptr<KeyboardBackend> MakeX11KeyboardBeside(void* xlibDisplay);

// Qt key events of the running QGuiApplication. Null when there is none.
std::unique_ptr<KeyboardBackend> MakeQtKeyboard();

// What the running Qt application offers: no application at all, an X11 display (returned through
// `xlibDisplay`), or some other platform (Wayland, offscreen, ...).
enum class QtDisplayKind { kNoApplication, kX11, kOther };
QtDisplayKind ProbeQtDisplay(void** xlibDisplay);

// Scan code of a Qt key event's native scan code, or -1 when it names no key. On the Linux platforms (xcb,
// Wayland) the native scan code is the xkb keycode, which is the Linux key code + 8, and the Linux key codes
// of the bindable keys are their PC scan codes. Other platforms are treated the same way.
int ScanCodeFromNative(std::uint32_t nativeScanCode);

}  // namespace zanth
