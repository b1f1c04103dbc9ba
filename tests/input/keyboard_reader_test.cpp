// KeyboardReader against a real X server (an Xvfb started here, driven with xdotool), and the Qt key-event
// fallback on the offscreen platform.
#include "input/keyboard_reader.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QGuiApplication>
#include <QKeyEvent>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "input/apply.h"
#include "test_model.h"

#include "run_program.h"

namespace zanth {
namespace {

constexpr int kQ = 16, kW = 17, kD = 32;

using test::RunProgram;

// An Xvfb of our own on the first free display number, without key auto-repeat, and without the server
// reset after the last client leaves (it refuses connections meanwhile, which made the next test flaky).
class XvfbTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (RunProgram({"sh", "-c", "command -v Xvfb && command -v xdotool"}) != 0) return;
        int fds[2];
        if (pipe(fds) != 0) return;
        xvfb_ = fork();
        if (xvfb_ == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-r", "-noreset", "-nolisten", "tcp",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        // Xvfb writes its display number once it accepts connections; end of file means it did not start.
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n') number_ += c;
        close(fds[0]);
    }
    static void TearDownTestSuite() {
        if (xvfb_ > 0) {
            kill(xvfb_, SIGTERM);
            waitpid(xvfb_, nullptr, 0);
        }
    }
    void SetUp() override {
        if (xvfb_ < 0) GTEST_SKIP() << "Xvfb or xdotool is not installed";
        ASSERT_FALSE(number_.empty()) << "Xvfb did not start";
        display_ = ":" + number_;
    }
    void TearDown() override { Xdotool({"keyup", "q", "w", "d"}); }

    void Xdotool(std::vector<std::string> args) {
        args.insert(args.begin(), {"env", "DISPLAY=" + display_, "xdotool"});
        ASSERT_EQ(RunProgram(args), 0);
    }

    // The key map follows the server's key events, which reach this connection a moment after xdotool ends:
    // polls, waiting for those events between polls, until `keysAre` holds or 5 s have passed.
    static bool PollUntil(KeyboardReader& keyboard, const std::function<bool(const KeyStates&)>& keysAre) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (keyboard.Poll() == 0 && !keysAre(keyboard.keys()) &&
               std::chrono::steady_clock::now() < until) {
            pollfd ready{keyboard.EventDescriptor(), POLLIN, 0};
            poll(&ready, 1, 100);
        }
        return keysAre(keyboard.keys());
    }
    static bool Down(const KeyStates& keys, int code) { return keys[static_cast<std::size_t>(code)] != 0; }

    static inline pid_t xvfb_ = -1;
    static inline std::string number_;
    std::string display_;
};

TEST_F(XvfbTest, ReadsKeysByScanCode) {
    KeyboardReader keyboard;
    ASSERT_TRUE(keyboard.CreateX11(nullptr, 1, display_));
    ASSERT_EQ(keyboard.Poll(), 0);
    EXPECT_EQ(keyboard.keys()[kQ], 0);
    Xdotool({"keydown", "q"});
    ASSERT_TRUE(PollUntil(keyboard, [](const KeyStates& k) { return Down(k, kQ); }));
    EXPECT_EQ(keyboard.keys()[kW], 0);
    Xdotool({"keydown", "w", "d"});
    EXPECT_TRUE(
        PollUntil(keyboard, [](const KeyStates& k) { return Down(k, kQ) && Down(k, kW) && Down(k, kD); }));
    Xdotool({"keyup", "q", "w", "d"});
    EXPECT_TRUE(PollUntil(keyboard, [](const KeyStates& k) { return k == KeyStates{}; }));
}

// Between key events the key map is kept rather than asked for again; a release is an event too, so the
// first read after it has the key up.
TEST_F(XvfbTest, AReleaseIsSeenByTheReadAfterIt) {
    KeyboardReader keyboard;
    ASSERT_TRUE(keyboard.CreateX11(nullptr, 1, display_));
    Xdotool({"keydown", "q"});
    ASSERT_TRUE(PollUntil(keyboard, [](const KeyStates& k) { return Down(k, kQ); }));
    ASSERT_EQ(keyboard.Poll(), 0);
    EXPECT_NE(keyboard.keys()[kQ], 0);  // held, with nothing new
    Xdotool({"keyup", "q"});
    pollfd ready{keyboard.EventDescriptor(), POLLIN, 0};
    ASSERT_EQ(poll(&ready, 1, 5000), 1) << "no event for the release";
    ASSERT_EQ(keyboard.Poll(), 0);
    EXPECT_EQ(keyboard.keys()[kQ], 0);
}

// A key pressed and let go between two polls is never in the key map: the presses tell it, once.
TEST_F(XvfbTest, ATapBetweenTwoPollsIsTakenOnce) {
    KeyboardReader keyboard;
    ASSERT_TRUE(keyboard.CreateX11(nullptr, 1, display_));
    ASSERT_EQ(keyboard.Poll(), 0);
    ASSERT_GE(keyboard.EventDescriptor(), 0);
    Xdotool({"keydown", "q", "keyup", "q"});
    ASSERT_EQ(keyboard.Poll(), 0);
    EXPECT_EQ(keyboard.keys()[kQ], 0);
    KeyStates taken{};
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (taken[kQ] == 0 && std::chrono::steady_clock::now() < until) {
        taken = keyboard.TakePresses();
        pollfd ready{keyboard.EventDescriptor(), POLLIN, 0};
        if (taken[kQ] == 0) poll(&ready, 1, 100);
    }
    EXPECT_NE(taken[kQ], 0);
    EXPECT_EQ(taken[kW], 0);
    EXPECT_EQ(keyboard.TakePresses()[kQ], 0);
}

// At the foreground level the keyboard is read only while the main window is active, and the items it held
// are let go as soon as the window loses activation, with the key still down.
TEST_F(XvfbTest, ForegroundLevelFollowsTheActiveWindow) {
    test::TestModel t;
    bool active = true;
    KeyboardReader foreground, background;
    ASSERT_TRUE(foreground.CreateX11([&] { return active; }, 0, display_));
    ASSERT_TRUE(background.CreateX11([&] { return active; }, 1, display_));
    Xdotool({"keydown", "q"});
    ASSERT_TRUE(PollUntil(foreground, [](const KeyStates& k) { return Down(k, kQ); }));
    ApplyKeyboard(t.model, foreground);
    ASSERT_EQ(t.item(kItemL1).keyDown, 1);

    active = false;
    ASSERT_EQ(foreground.Poll(), -1);  // input lost
    ReleaseKeyboardItems(t.model);
    EXPECT_EQ(t.item(kItemL1).keyDown, 0);
    for (int poll = 0; poll < 3; ++poll) {  // not acquired, and cannot be while inactive
        EXPECT_EQ(foreground.Poll(), -1);
        EXPECT_EQ(foreground.keys()[kQ], 0);
    }
    ASSERT_EQ(background.Poll(), 0);
    EXPECT_NE(background.keys()[kQ], 0);

    active = true;
    EXPECT_EQ(foreground.Poll(), -1);  // acquires again
    ASSERT_EQ(foreground.Poll(), 0);
    EXPECT_NE(foreground.keys()[kQ], 0);
}

TEST(KeyboardCreate, FailuresLeaveAKeyboardThatNeverReads) {
    KeyboardReader keyboard;
    EXPECT_EQ(keyboard.Poll(), -1);
    EXPECT_FALSE(keyboard.CreateX11([] { return true; }, 0, "unix:99999"));
    EXPECT_EQ(keyboard.backend(), KeyboardReader::Backend::kNone);
    EXPECT_EQ(keyboard.Poll(), -1);
    EXPECT_FALSE(keyboard.CreateX11(nullptr, 0, ""));            // foreground with no window to ask
    EXPECT_FALSE(keyboard.CreateQtEvents([] { return true; }));  // no Qt application
    keyboard.Shutdown();
    EXPECT_EQ(keyboard.Poll(), -1);
}

// The fallback where Qt has no X11 display. The offscreen platform offers the X11 native interface with no
// display behind it, which must be told apart.
class QtKeyboardTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        app_ = new QGuiApplication(argc_, argv_);
    }
    static void TearDownTestSuite() { delete app_; }

    // Key events with the scan code a real keyboard gives (QTest's carry none).
    void Key(QEvent::Type type, std::uint32_t native, bool autoRepeat = false) {
        QKeyEvent event(type, Qt::Key_unknown, Qt::NoModifier, native, 0, 0, QString(), autoRepeat);
        QCoreApplication::sendEvent(&target_, &event);
    }

    static inline int argc_ = 1;
    static inline char name_[] = "zanth_input_tests";
    static inline char* argv_[] = {name_, nullptr};
    static inline QGuiApplication* app_ = nullptr;
    QObject target_;
};

constexpr std::uint32_t kXkbQ = kQ + 8;

TEST_F(QtKeyboardTest, TracksKeyEventsIgnoringAutoRepeat) {
    KeyboardReader keyboard;
    ASSERT_TRUE(keyboard.Create([] { return true; }, 1));
    EXPECT_EQ(keyboard.backend(), KeyboardReader::Backend::kQtEvents);
    Key(QEvent::KeyPress, kXkbQ);
    Key(QEvent::KeyRelease, kXkbQ, true);
    Key(QEvent::KeyPress, kXkbQ, true);
    Key(QEvent::KeyRelease, kXkbQ, true);
    ASSERT_EQ(keyboard.Poll(), 0);
    EXPECT_NE(keyboard.keys()[kQ], 0);
    Key(QEvent::KeyRelease, kXkbQ);
    Key(QEvent::KeyPress, 0);  // names no key
    ASSERT_EQ(keyboard.Poll(), 0);
    for (auto byte : keyboard.keys()) EXPECT_EQ(byte, 0);
    EXPECT_NE(keyboard.TakePresses()[kQ], 0);  // pressed since the last take, though let go since
    EXPECT_EQ(keyboard.TakePresses()[kQ], 0);

    keyboard.Shutdown();
    Key(QEvent::KeyPress, kXkbQ);  // must not reach a removed tracker
    EXPECT_EQ(keyboard.Poll(), -1);
}

// Key events reach only the focused window: always the foreground level, whatever was asked for, and keys
// held when activation was lost are dropped, since their release would never reach us.
TEST_F(QtKeyboardTest, AlwaysForegroundAndForgetsKeysOnDeactivation) {
    bool active = true;
    KeyboardReader keyboard;
    ASSERT_TRUE(keyboard.Create([&] { return active; }, 1));
    Key(QEvent::KeyPress, kXkbQ);
    ASSERT_EQ(keyboard.Poll(), 0);
    active = false;
    EXPECT_EQ(keyboard.Poll(), -1);
    active = true;
    EXPECT_EQ(keyboard.Poll(), -1);
    ASSERT_EQ(keyboard.Poll(), 0);
    EXPECT_EQ(keyboard.keys()[kQ], 0);
}

}  // namespace
}  // namespace zanth
