#pragma once
// The emergency stop key, taken from the whole desktop while the robot is connected. No X11 type reaches this
// header: the back-end's Xlib headers stay inside stop_key_x11.cpp.
#include <functional>
#include <memory>
#include <string>

namespace zanth {

// A key that reaches this program whichever window has the focus, held only while asked to. Grab and Release
// are called from one thread (the window's), never from onPress: that runs on the thread they wait for.
class StopKeyGrab {
  public:
    virtual ~StopKeyGrab() = default;
    // Grabs the key of scan code `scanCode` (the program's key codes: X keycode - 8; Space = 57) for the
    // whole desktop, with any state of Caps Lock / Num Lock. False with the reason (another program holds the
    // key, the X server is gone) — the caller then shows that the key works only in its own window. Another
    // key grabbed before is let go first; the same key stays held throughout. Grab and Release wait for the X
    // server (two round trips), at most 2 s.
    virtual bool Grab(int scanCode, std::string* reason) = 0;
    // Lets the key go to other programs again. Harmless when nothing is grabbed.
    virtual void Release() = 0;
};

// `onPress` runs on the grab's own thread, once per press (not for the key's auto-repeat), as soon as the X
// server delivers it: it must be quick and thread-safe (the session's callback only sets the link's stop flag
// and queues a call to the GUI thread). Null when no X server can be reached (e.g. a Wayland session without
// XWayland): the caller then relies on the window's own key events. `displayName` "" means $DISPLAY.
//
// Under Wayland through XWayland the grab is an X11 grab: the compositor hands XWayland only the keys meant
// for an X client, so the key stops the robot while an X window (this program's included) has the focus, and
// not while a native Wayland window has it. Grab still answers true there.
std::unique_ptr<StopKeyGrab> MakeX11StopKeyGrab(const std::string& displayName,
                                                std::function<void()> onPress);
// The same on the server of an already open Xlib display (the one Qt uses; ProbeQtDisplay gives it): null
// when `xlibDisplay` is null or the server cannot be reached.
std::unique_ptr<StopKeyGrab> MakeX11StopKeyGrabBeside(void* xlibDisplay, std::function<void()> onPress);

}  // namespace zanth
