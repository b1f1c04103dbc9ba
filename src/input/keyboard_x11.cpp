// X11 back-end of KeyboardReader. Xlib's macros (KeyPress, None, Bool, ...) clash with Qt's names, so this
// file includes no Qt header.
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "input/keyboard_backend.h"
#include "input/x11_display.h"

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

// The key map is asked for again after this long even when no key event said it changed: a safety net, should
// some change of the server's key state ever come without a raw event.
constexpr auto kKeymapRefresh = std::chrono::milliseconds(500);

// Raw key presses and releases of every keyboard, whichever window has the focus: the key map alone misses a
// key pressed and let go between two reads, and while none comes the key map is as it was (a round trip to
// the server spared on every read). -1 when the server has no XInput 2.
int SelectRawKeyEvents(Display* display) {
    int opcode = 0, event = 0, error = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error)) return -1;
    int major = 2, minor = 1;  // 2.1: raw events come whoever grabs the keyboard
    if (XIQueryVersion(display, &major, &minor) != Success) return -1;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
    XFlush(display);
    return opcode;
}

class X11Keyboard final : public KeyboardBackend {
  public:
    explicit X11Keyboard(Display* display) : display_(display), xiOpcode_(SelectRawKeyEvents(display)) {}
    ~X11Keyboard() override { XCloseDisplay(display_); }
    X11Keyboard(const X11Keyboard&) = delete;
    X11Keyboard& operator=(const X11Keyboard&) = delete;

    // The server reports keys whichever window has the focus; the foreground level is enforced by the
    // acquisition above this back-end, not here.
    bool Read(KeyStates& keys) override {
        TakeEvents();
        const auto now = std::chrono::steady_clock::now();
        // Any key event since the last query could have changed the map; without XInput 2 nothing says so.
        if (keyEvent_ || xiOpcode_ < 0 || now - queriedAt_ >= kKeymapRefresh) {
            XQueryKeymap(display_, map_);
            keyEvent_ = false;
            queriedAt_ = now;
        }
        for (int keycode = kKeycodeOffset; keycode < 256; ++keycode) {
            if (map_[keycode / 8] & (1 << (keycode % 8)))
                keys[static_cast<std::size_t>(keycode - kKeycodeOffset)] = kKeyDownByte;
        }
        return true;
    }

    void TakePresses(KeyStates& keys) override {
        TakeEvents();
        for (std::size_t i = 0; i < keys.size(); ++i) keys[i] |= presses_[i];
        presses_ = {};
    }
    void Forget() override {
        TakeEvents();
        presses_ = {};
        keyEvent_ = true;  // the next read asks the server afresh
    }
    int Descriptor() const override { return xiOpcode_ < 0 ? -1 : ConnectionNumber(display_); }

  private:
    // Every event the connection holds: the presses are kept for TakePresses, and any key event marks the
    // key map as possibly changed.
    void TakeEvents() {
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            XGenericEventCookie& cookie = event.xcookie;
            if (cookie.type != GenericEvent || cookie.extension != xiOpcode_ ||
                !XGetEventData(display_, &cookie))
                continue;
            if (cookie.evtype == XI_RawKeyPress || cookie.evtype == XI_RawKeyRelease) {
                keyEvent_ = true;
                const int keycode = static_cast<const XIRawEvent*>(cookie.data)->detail;
                if (cookie.evtype == XI_RawKeyPress && keycode >= kKeycodeOffset && keycode < 256)
                    presses_[static_cast<std::size_t>(keycode - kKeycodeOffset)] = kKeyDownByte;
            }
            XFreeEventData(display_, &cookie);
        }
    }

    Display* display_;
    int xiOpcode_;
    char map_[32] = {};
    bool keyEvent_ = true;  // nothing asked yet
    std::chrono::steady_clock::time_point queriedAt_;
    KeyStates presses_{};
};

}  // namespace

std::unique_ptr<KeyboardBackend> MakeX11Keyboard(const std::string& displayName) {
    // An own connection: the query is a round trip of its own and never disturbs Qt's event stream.
    Display* display = OpenX11Display(displayName);
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
