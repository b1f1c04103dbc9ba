// X11 back-end of KeyboardReader. Xlib's macros (KeyPress, None, Bool, ...) clash with Qt's names, so this
// file includes no Qt header.
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "input/keyboard_backend.h"

namespace zanth {
namespace {

// X keycodes are the Linux key codes + 8.
constexpr int kKeycodeOffset = 8;

// A lost X connection ends the process, as Xlib's default does, except while the process is already ending:
// the tear-down at exit still closes this display, and must get past it to the robot's last frame.
std::atomic<bool> processEnding{false};
void ExitUnlessEnding(Display*, void*) {
    if (!processEnding) std::exit(1);
}

// Raw key presses of every keyboard, whichever window has the focus: the key map alone misses a key pressed
// and let go between two reads. -1 when the server has no XInput 2.
int SelectRawKeyPresses(Display* display) {
    int opcode = 0, event = 0, error = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error)) return -1;
    int major = 2, minor = 1;  // 2.1: raw events come whoever grabs the keyboard
    if (XIQueryVersion(display, &major, &minor) != Success) return -1;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
    XFlush(display);
    return opcode;
}

class X11Keyboard final : public KeyboardBackend {
  public:
    explicit X11Keyboard(Display* display) : display_(display), xiOpcode_(SelectRawKeyPresses(display)) {}
    ~X11Keyboard() override { XCloseDisplay(display_); }
    X11Keyboard(const X11Keyboard&) = delete;
    X11Keyboard& operator=(const X11Keyboard&) = delete;

    // The server reports keys whichever window has the focus; the foreground level is enforced by the
    // acquisition above this back-end, not here.
    bool Read(KeyStates& keys) override {
        char map[32] = {};
        XQueryKeymap(display_, map);
        for (int keycode = kKeycodeOffset; keycode < 256; ++keycode) {
            if (map[keycode / 8] & (1 << (keycode % 8)))
                keys[static_cast<std::size_t>(keycode - kKeycodeOffset)] = kKeyDownByte;
        }
        return true;
    }

    void TakePresses(KeyStates& keys) override {
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            XGenericEventCookie& cookie = event.xcookie;
            if (cookie.type != GenericEvent || cookie.extension != xiOpcode_ ||
                !XGetEventData(display_, &cookie))
                continue;
            if (cookie.evtype == XI_RawKeyPress) {
                const int keycode = static_cast<const XIRawEvent*>(cookie.data)->detail;
                if (keycode >= kKeycodeOffset && keycode < 256)
                    keys[static_cast<std::size_t>(keycode - kKeycodeOffset)] = kKeyDownByte;
            }
            XFreeEventData(display_, &cookie);
        }
    }
    void Forget() override {
        KeyStates dropped{};
        TakePresses(dropped);
    }
    int Descriptor() const override { return xiOpcode_ < 0 ? -1 : ConnectionNumber(display_); }

  private:
    Display* display_;
    int xiOpcode_;
};

}  // namespace

std::unique_ptr<KeyboardBackend> MakeX11Keyboard(const std::string& displayName) {
    // An own connection: the query is a round trip of its own and never disturbs Qt's event stream.
    // A busy server can refuse a connection for a moment (EAGAIN: its listen queue is full); the keyboard
    // is made only once per run, so a few short retries keep that from costing the whole session.
    Display* display = nullptr;
    for (int attempt = 0; attempt < 10 && !display; ++attempt) {
        errno = 0;
        display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
        if (!display && errno != EAGAIN) break;
        if (!display) usleep(20000);
    }
    if (!display) return nullptr;
    static const bool watchesEnd = std::atexit([] { processEnding = true; }) == 0;
    if (watchesEnd) XSetIOErrorExitHandler(display, ExitUnlessEnding, nullptr);
    return std::make_unique<X11Keyboard>(display);
}

std::unique_ptr<KeyboardBackend> MakeX11KeyboardBeside(void* xlibDisplay) {
    if (!xlibDisplay) return nullptr;
    return MakeX11Keyboard(DisplayString(static_cast<Display*>(xlibDisplay)));
}

}  // namespace zanth
