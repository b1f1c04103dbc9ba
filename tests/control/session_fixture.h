#pragma once
// A session with devices of the test's own making, and the far end of a pseudo-terminal as its robot.

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "base/clock.h"
#include "control/session.h"
#include "fakes.h"
#include "input/apply.h"
#include "link/port.h"

namespace zanth::test {

using namespace std::chrono_literals;

// The far end of a pseudo-terminal: the session opens its device as the robot's port.
class Robot {
  public:
    Robot() {
        int slave = -1;
        if (openpty(&master_, &slave, nullptr, nullptr, nullptr) != 0) return;
        path_ = ttyname(slave);
        close(slave);
        fcntl(master_, F_SETFL, O_NONBLOCK);
    }
    ~Robot() { Hangup(); }
    const std::string& path() const { return path_; }
    void Hangup() {
        if (master_ >= 0) close(master_);
        master_ = -1;
    }
    // What came from the session by now; -1 once the session's side is closed (EIO on the master).
    int Read(std::string& out) {
        char buf[512];
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n > 0) out.append(buf, static_cast<std::size_t>(n));
        return n < 0 && errno == EIO ? -1 : 0;
    }

  private:
    int master_ = -1;
    std::string path_;
};

inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 3s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ResetRightStickHistory();
    }
    void TearDown() override { SetTickSource(nullptr); }

    std::string SettingsPath() const { return dir_.filePath("Zanth-Emulator.ini").toStdString(); }

    // A session whose COM3 is `device`, with fake keyboard, gamepad and sound.
    std::unique_ptr<ControlSession> Make(const std::string& device = "", bool padPresent = true) {
        app_ = std::make_unique<AppContext>(StartupInfo{"English", false, dir_.path().toStdString(), {}, {}});
        Settings settings = LoadSettings(SettingsPath());
        if (!device.empty()) settings.ports["COM3"] = device;
        for (const auto& [key, value] : ports_) settings.ports[key] = value;
        SessionParts parts;
        auto keyboard = std::make_unique<test::FakeKeyboard>();
        auto gamepad = std::make_unique<test::FakeGamepad>();
        auto sound = std::make_unique<test::FakeSound>();
        keyboard_ = keyboard.get();
        gamepad_ = gamepad.get();
        sound_ = sound.get();
        gamepad_->present = padPresent;
        parts.keyboard = std::move(keyboard);
        parts.gamepad = std::move(gamepad);
        if (realGamepad_) parts.gamepad = std::move(realGamepad_);
        parts.sound = std::move(sound);
        // The list of the test's own tree, watched; else no devices of the machine.
        if (deviceRoot_.empty())
            parts.listDevices = [] { return std::vector<std::string>{}; };
        else
            parts.deviceRoot = deviceRoot_;
        if (openPort_) parts.openPort = openPort_;
        auto s = std::make_unique<ControlSession>(*app_, settings, std::move(parts));
        s->Open([] { return true; });
        return s;
    }

    QTemporaryDir dir_;
    std::unique_ptr<AppContext> app_;
    std::function<std::unique_ptr<Port>(const std::string&, std::string*)> openPort_;
    std::string deviceRoot_;                      // set before Make: the port list comes from this tree
    std::unique_ptr<GamepadDevice> realGamepad_;  // set before Make: in place of the fake gamepad
    std::map<std::string, std::string> ports_;    // set before Make: more of [PORTS]
    test::FakeKeyboard* keyboard_ = nullptr;
    test::FakeGamepad* gamepad_ = nullptr;
    test::FakeSound* sound_ = nullptr;
};

}  // namespace zanth::test
