// The stop key against a real X server: an Xvfb started here, a window of another client holding the focus,
// keys typed with xdotool (XTEST). Each typing ends with a key nobody grabs ("a"): once the window has it,
// the server has sent the grab everything typed before, and the grab's next Grab or Release takes all of it.
#include "input/stop_key.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

// Last: Xlib's macros (None, Bool, Status, ...) clash with names in the headers above.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include "run_program.h"

namespace zanth {
namespace {

constexpr int kSpace = 57, kA = 30, kKeycodeOffset = 8;
constexpr int kSpaceCode = kSpace + kKeycodeOffset, kMarkCode = kA + kKeycodeOffset;

using test::RunProgram;

// An Xvfb on the first free display (auto-repeat on, as a desktop has it); its display name, "" if it did
// not start.
std::string StartXvfb(pid_t* pid) {
    int fds[2];
    if (RunProgram({"sh", "-c", "command -v Xvfb >/dev/null && command -v xdotool >/dev/null"}) != 0 ||
        pipe(fds) != 0)
        return {};
    *pid = fork();
    if (*pid == 0) {
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-noreset", "-nolisten", "tcp", nullptr);
        _exit(127);
    }
    close(fds[1]);
    std::string number;  // written once the server accepts connections; end of file: it did not start
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    return number.empty() ? "" : ":" + number;
}

void StopXvfb(pid_t pid) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

class StopKeyTest : public testing::Test {
  protected:
    static void SetUpTestSuite() { display_ = StartXvfb(&xvfb_); }
    static void TearDownTestSuite() {
        if (xvfb_ > 0) StopXvfb(xvfb_);
    }
    void SetUp() override {
        if (display_.empty()) GTEST_SKIP() << "Xvfb or xdotool is missing, or Xvfb did not start";
        other_ = XOpenDisplay(display_.c_str());
        ASSERT_NE(other_, nullptr);
        window_ = XCreateSimpleWindow(other_, DefaultRootWindow(other_), 0, 0, 100, 100, 0, 0, 0);
        XSelectInput(other_, window_, KeyPressMask | StructureNotifyMask);
        XMapWindow(other_, window_);
        XEvent event;
        do XNextEvent(other_, &event);  // the focus goes only to a viewable window
        while (event.type != MapNotify);
        XSetInputFocus(other_, window_, RevertToParent, CurrentTime);
        XSync(other_, False);
        grab_ = MakeX11StopKeyGrabBeside(other_, [this] { ++presses_; });
        ASSERT_NE(grab_, nullptr);
    }
    void TearDown() override {
        grab_.reset();
        if (other_) XCloseDisplay(other_);
    }

    // Types `keys` and then the mark with xdotool; the keycodes the focused window got before the mark.
    std::vector<int> TypeToWindow(std::vector<std::string> keys) {
        keys.insert(keys.begin(), {"env", "DISPLAY=" + display_, "xdotool"});
        keys.insert(keys.end(), {"key", "a"});
        EXPECT_EQ(RunProgram(keys), 0);
        std::vector<int> got;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < until) {
            if (XPending(other_) == 0) {
                pollfd ready{ConnectionNumber(other_), POLLIN, 0};
                poll(&ready, 1, 100);
                continue;
            }
            XEvent event;
            XNextEvent(other_, &event);
            if (event.type != KeyPress) continue;
            if (static_cast<int>(event.xkey.keycode) == kMarkCode) return got;
            got.push_back(static_cast<int>(event.xkey.keycode));
        }
        ADD_FAILURE() << "the window never got the mark";
        return got;
    }

    static inline pid_t xvfb_ = -1;
    static inline std::string display_;
    Display* other_ = nullptr;
    Window window_ = 0;
    std::atomic<int> presses_{0};
    std::unique_ptr<StopKeyGrab> grab_;
};

const std::vector<int> kNothing, kSpaceOnly{kSpaceCode};

TEST_F(StopKeyTest, TakesTheKeyFromTheFocusedWindowWithAnyLockUntilReleased) {
    for (const unsigned locks : {0u, unsigned{LockMask}, unsigned{Mod2Mask}, unsigned{LockMask | Mod2Mask}}) {
        SCOPED_TRACE(locks);
        presses_ = 0;
        XkbLockModifiers(other_, XkbUseCoreKbd, LockMask | Mod2Mask, locks);
        XSync(other_, False);
        std::string reason;
        ASSERT_TRUE(grab_->Grab(kSpace, &reason)) << reason;
        EXPECT_EQ(TypeToWindow({"key", "space"}), kNothing);
        grab_->Release();
        EXPECT_EQ(presses_, 1);
        EXPECT_EQ(TypeToWindow({"key", "space"}), kSpaceOnly);
        grab_->Release();  // harmless twice; takes what the server sent meanwhile
        EXPECT_EQ(presses_, 1);
    }
    XkbLockModifiers(other_, XkbUseCoreKbd, LockMask | Mod2Mask, 0);
}

TEST_F(StopKeyTest, AHeldKeyStopsOnceAndEveryPressAgain) {
    ASSERT_TRUE(grab_->Grab(kSpace, nullptr));
    // Held past the server's auto-repeat delay (660 ms), then tapped twice.
    EXPECT_EQ(TypeToWindow({"keydown", "space", "sleep", "1.2", "keyup", "space", "key", "space", "space"}),
              kNothing);
    grab_->Release();
    EXPECT_EQ(presses_, 3);
}

TEST_F(StopKeyTest, AKeyAnotherClientHoldsIsRefusedAndNothingOfItStaysHeld) {
    // The other client holds the Num Lock variant only: the plain one was ours for a moment.
    XGrabKey(other_, kSpaceCode, Mod2Mask, DefaultRootWindow(other_), False, GrabModeAsync, GrabModeAsync);
    XSync(other_, False);
    std::string reason;
    EXPECT_FALSE(grab_->Grab(kSpace, &reason));
    EXPECT_NE(reason.find("another program"), std::string::npos) << reason;
    XUngrabKey(other_, kSpaceCode, Mod2Mask, DefaultRootWindow(other_));
    EXPECT_EQ(TypeToWindow({"key", "space"}), kSpaceOnly);
    EXPECT_FALSE(grab_->Grab(-1, &reason));
    EXPECT_FALSE(reason.empty());
}

// The server ends while the grab waits for events, or in the middle of a request (stopped, then killed):
// the grab says so, nothing else ends. Killed, the server leaves its lock and socket behind.
TEST(StopKeyServerTest, AServerGoneEndsNothingButTheGrab) {
    for (const bool midRequest : {false, true}) {
        SCOPED_TRACE(midRequest);
        pid_t xvfb = -1;
        const std::string display = StartXvfb(&xvfb);
        if (display.empty()) GTEST_SKIP() << "Xvfb or xdotool is missing, or Xvfb did not start";
        auto grab = MakeX11StopKeyGrab(display, [] {});
        ASSERT_NE(grab, nullptr);
        ASSERT_TRUE(grab->Grab(kSpace, nullptr));
        std::string reason;
        if (midRequest) {
            kill(xvfb, SIGSTOP);
            EXPECT_FALSE(grab->Grab(kSpace, &reason));  // gives up waiting; the request stays out
            kill(xvfb, SIGKILL);
            waitpid(xvfb, nullptr, 0);
            unlink(("/tmp/.X" + display.substr(1) + "-lock").c_str());
            unlink(("/tmp/.X11-unix/X" + display.substr(1)).c_str());
        } else {
            StopXvfb(xvfb);
        }
        EXPECT_FALSE(grab->Grab(kSpace, &reason));
        EXPECT_NE(reason.find("gone"), std::string::npos) << reason;
        grab->Release();
        EXPECT_EQ(MakeX11StopKeyGrab(display, [] {}), nullptr);
    }
}

}  // namespace
}  // namespace zanth
