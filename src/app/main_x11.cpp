// Kept apart from main.cpp: the X11 headers define names (Bool, Status) that clash with Qt's.
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <cstdio>
#include <cstdlib>

// Left Shift held while the program starts forces English texts. Read straight from the X server, since no
// window exists yet; without X11 there is no way to ask, and Shift counts as up.
bool LeftShiftHeld() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') return false;
    Display* d = XOpenDisplay(nullptr);
    if (d == nullptr) return false;
    char keys[32] = {};
    XQueryKeymap(d, keys);
    const KeyCode code = XKeysymToKeycode(d, XK_Shift_L);
    const bool down = code != 0 && (keys[code / 8] & (1 << (code % 8))) != 0;
    XCloseDisplay(d);
    return down;
}

namespace {

int ReturnOnIoError(Display* display) {
    std::fprintf(stderr, "X connection to %s lost\n", DisplayString(display));
    return 0;
}

}  // namespace

// Xlib's own handler of a lost X connection, and the one Qt installs, end the process from inside the failed
// call. Returning instead leaves the decision to the display's exit handler, which Xlib calls next: the
// default one ends the process all the same, the keyboard's lets a process that is already ending go on
// with its tear-down. Call after the QApplication is made: Qt sets its handler while it connects.
void LeaveXlibIoErrorsToTheDisplay() {
    XSetIOErrorHandler(ReturnOnIoError);
}
