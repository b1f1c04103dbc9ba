// X11 back-end of the stop key: a passive grab of one key on the root window, on a connection and a thread of
// its own. Every Xlib call on that connection after it is opened is made on the grab's thread, so it needs no
// lock of ours; Grab and Release hand their work over and wait for the answer.
// Xlib's macros (KeyPress, None, Bool, ...) clash with Qt's names, so this file includes no Qt header.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "input/stop_key.h"
#include "input/x11_display.h"

// Last: Xlibint.h defines min and max as macros.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xlibint.h>
#undef min
#undef max

namespace zanth {
namespace {

// X keycodes are the Linux key codes + 8.
constexpr int kKeycodeOffset = 8;
// Caps Lock (Lock) and Num Lock (Mod2 on every usual key map) are part of a key event's state: without a grab
// for each combination, the key would slip through to the focused window while one of them is on.
constexpr unsigned kLockVariants[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};
// Grab and Release wait this long for the grab's thread; a server that answers nothing meanwhile counts as
// gone, and the window is not held up by it.
constexpr auto kAnswerBudget = std::chrono::seconds(2);

constexpr const char* kServerGone = "the X server is gone";

// Xlib's error handler is one for the whole process: ours is installed only around a grab, under this mutex,
// and an error of any other connection that arrives meanwhile goes on to the handler it replaced.
std::mutex errorHandlerMutex;
std::atomic<Display*> errorsOf{nullptr};
std::atomic<XErrorHandler> replacedHandler{nullptr};
std::atomic<int> firstError{Success};

int NoteError(Display* display, XErrorEvent* error) {
    if (display != errorsOf.load()) {
        const XErrorHandler replaced = replacedHandler.load();
        return replaced ? replaced(display, error) : 0;
    }
    int none = Success;
    firstError.compare_exchange_strong(none, error->error_code);
    return 0;
}

// Xlib's I/O error handler is one for the whole process as well, and both its default and Qt's end the
// process. Ours is installed once, with the first grab: a connection lost under a grab's own calls (told by
// the thread making them) only marks that grab lost; every other goes on to the handler it replaced.
thread_local bool onGrabConnection = false;
std::atomic<XIOErrorHandler> replacedIoHandler{nullptr};

// When a handler returns, libX11 1.8 hands the display back to the call that found the loss unlocked, and
// that call unlocks it once more: harmless with glibc's mutexes, and seen only when the server goes in the
// middle of a call, since a closed connection is noticed by the grab before Xlib reads from it (MarkLost).
int NoteConnectionLost(Display* display) {
    if (onGrabConnection) return 0;
    const XIOErrorHandler replaced = replacedIoHandler.load();
    return replaced ? replaced(display) : 0;
}

class X11StopKeyGrab final : public StopKeyGrab {
  public:
    X11StopKeyGrab(Display* display, int wakeFd, std::function<void()> onPress)
        : display_(display), onPress_(std::move(onPress)), wakeFd_(wakeFd) {
        thread_ = std::thread([this] { Run(); });
    }
    ~X11StopKeyGrab() override {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        Wake();
        thread_.join();
        close(wakeFd_);
    }
    X11StopKeyGrab(const X11StopKeyGrab&) = delete;
    X11StopKeyGrab& operator=(const X11StopKeyGrab&) = delete;

    bool Grab(int scanCode, std::string* reason) override {
        const Answer answer = Ask(scanCode);
        if (reason) *reason = answer.reason;
        return answer.ok;
    }
    void Release() override { Ask(std::nullopt); }

  private:
    struct Answer {
        bool ok = false;
        std::string reason;
    };

    static void ConnectionLost(Display*, void* self) { static_cast<X11StopKeyGrab*>(self)->lost_ = true; }

    void Wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(wakeFd_, &one, sizeof one);
    }

    // Hands the key to grab (none: let go) to the grab's thread and waits for its answer.
    Answer Ask(std::optional<int> scanCode) {
        std::unique_lock lock(mutex_);
        request_ = scanCode;
        const std::uint64_t id = ++asked_;
        lock.unlock();
        Wake();
        lock.lock();
        if (!answered_.wait_for(lock, kAnswerBudget, [&] { return done_ >= id || ended_; }) || done_ < id)
            return {false, "the X server does not answer"};
        return answer_;
    }

    void Run() {
        onGrabConnection = true;
        // The server ends the connection: the grab says so from then on, and the process goes on.
        XSetIOErrorExitHandler(display_, ConnectionLost, this);
        // A held key repeats as presses alone, without a release between them, so a repeat is told apart.
        Bool detectable = False;
        XkbSetDetectableAutoRepeat(display_, True, &detectable);
        while (Serve()) {
            TakeEvents();  // also those a round trip of Serve has queued
            pollfd ready[2] = {{wakeFd_, POLLIN, 0}, {lost_ ? -1 : ConnectionNumber(display_), POLLIN, 0}};
            if (poll(ready, 2, -1) < 0 && errno != EINTR) break;
            if ((ready[1].revents & (POLLHUP | POLLERR)) || ((ready[1].revents & POLLIN) && PeerClosed()))
                MarkLost();  // never polled again: no spinning
            if (ready[0].revents & POLLIN) {
                std::uint64_t count;
                [[maybe_unused]] const auto got = read(wakeFd_, &count, sizeof count);
            }
        }
        // Here, not in the destructor: a connection that Xlib found lost stays locked to this thread. The
        // server drops the connection's grabs with it.
        XCloseDisplay(display_);
        std::lock_guard lock(mutex_);
        ended_ = true;
        answered_.notify_all();
    }

    // The server closed the connection (or reset it: it ended with our requests unread).
    bool PeerClosed() const {
        char byte;
        const auto got = recv(ConnectionNumber(display_), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
    }
    // Seen here before Xlib saw it: Xlib is told as its own I/O error path would (the flag makes every later
    // call, XCloseDisplay's included, leave the connection alone). That path itself, when it runs after a
    // handler returned, unlocks the display once too often (libX11 1.8); this way it runs only when the
    // server goes in the middle of a request.
    void MarkLost() {
        lost_ = true;
        display_->flags = display_->flags | XlibDisplayIOError;
    }

    // Carries out the request waiting, if any. False once the grab is to end.
    bool Serve() {
        std::unique_lock lock(mutex_);
        if (stopping_) return false;
        if (done_ == asked_) return true;
        const std::optional<int> scanCode = request_;
        const std::uint64_t id = asked_;
        lock.unlock();
        // Every key event the server sent before this request is taken first: a press it delivered to the
        // grab before Release still stops the robot.
        if (!lost_ && PeerClosed()) MarkLost();
        if (!lost_) XSync(display_, False);
        TakeEvents();
        Answer answer;
        if (scanCode) {
            answer = TakeKey(*scanCode);
        } else {
            LetGo();
            answer.ok = true;
        }
        lock.lock();
        done_ = id;
        answer_ = std::move(answer);
        answered_.notify_all();
        return true;
    }

    Answer TakeKey(int scanCode) {
        // The key held already is kept: letting it go for a moment would let a press through.
        if (!lost_ && keycode_ != 0 && keycode_ == scanCode + kKeycodeOffset) return {true, {}};
        LetGo();
        if (lost_) return {false, kServerGone};
        int minKeycode = 0, maxKeycode = 0;
        XDisplayKeycodes(display_, &minKeycode, &maxKeycode);
        const int keycode = scanCode + kKeycodeOffset;
        if (scanCode < 0 || keycode < minKeycode || keycode > maxKeycode)
            return {false, "the X server has no such key"};
        const int error = GrabEveryVariant(keycode);
        if (lost_) return {false, kServerGone};
        if (error == Success) {
            keycode_ = keycode;
            return {true, {}};
        }
        // Part of the variants may be ours: none must stay held. A grab of another client stays its own.
        for (const unsigned modifiers : kLockVariants)
            XUngrabKey(display_, keycode, modifiers, DefaultRootWindow(display_));
        XSync(display_, False);
        if (error == BadAccess) return {false, "another program holds the key"};
        return {false, "the X server refused the grab (error " + std::to_string(error) + ")"};
    }

    // The first error of the grab's requests, or Success. A refused grab (BadAccess) only comes back as an
    // error, after the round trip of XSync.
    int GrabEveryVariant(int keycode) {
        std::lock_guard lock(errorHandlerMutex);
        errorsOf = display_;
        firstError = Success;
        replacedHandler = XSetErrorHandler(NoteError);
        for (const unsigned modifiers : kLockVariants)
            XGrabKey(display_, keycode, modifiers, DefaultRootWindow(display_), False, GrabModeAsync,
                     GrabModeAsync);
        XSync(display_, False);
        XSetErrorHandler(replacedHandler.load());
        errorsOf = nullptr;
        return firstError.load();
    }

    void LetGo() {
        if (keycode_ != 0 && !lost_) {
            for (const unsigned modifiers : kLockVariants)
                XUngrabKey(display_, keycode_, modifiers, DefaultRootWindow(display_));
            XSync(display_, False);  // the key goes to the focused window from the caller's next step on
        }
        keycode_ = 0;
        down_ = false;
    }

    // One call of onPress per press of the grabbed key; its repeats and every other key the grab brings
    // along while the key is down are dropped.
    void TakeEvents() {
        while (!lost_ && XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if ((event.type != KeyPress && event.type != KeyRelease) || keycode_ == 0 ||
                static_cast<int>(event.xkey.keycode) != keycode_)
                continue;
            const bool pressed = event.type == KeyPress;
            if (pressed && !down_ && onPress_) onPress_();
            down_ = pressed;
        }
    }

    // The grab's thread only, after construction.
    Display* const display_;
    int keycode_ = 0;  // 0: nothing grabbed
    bool down_ = false;
    std::atomic<bool> lost_{false};  // also set from Xlib's I/O error path

    const std::function<void()> onPress_;
    const int wakeFd_;
    std::mutex mutex_;
    std::condition_variable answered_;
    // Under mutex_.
    std::optional<int> request_;
    std::uint64_t asked_ = 0, done_ = 0;
    Answer answer_;
    bool stopping_ = false, ended_ = false;

    std::thread thread_;
};

}  // namespace

std::unique_ptr<StopKeyGrab> MakeX11StopKeyGrab(const std::string& displayName,
                                                std::function<void()> onPress) {
    Display* display = OpenX11Display(displayName);
    if (!display) return nullptr;
    static std::once_flag ioHandlerSet;
    std::call_once(ioHandlerSet, [] { replacedIoHandler = XSetIOErrorHandler(NoteConnectionLost); });
    const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        XCloseDisplay(display);
        return nullptr;
    }
    return std::make_unique<X11StopKeyGrab>(display, wakeFd, std::move(onPress));
}

std::unique_ptr<StopKeyGrab> MakeX11StopKeyGrabBeside(void* xlibDisplay, std::function<void()> onPress) {
    if (!xlibDisplay) return nullptr;
    return MakeX11StopKeyGrab(DisplayString(static_cast<Display*>(xlibDisplay)), std::move(onPress));
}

}  // namespace zanth
