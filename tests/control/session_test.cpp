#include "control/session.h"

#include <SDL.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>

#include "../link/link_test_util.h"
#include "../link/stuck_port.h"
#include "base/clock.h"
#include "fakes.h"
#include "input/apply.h"
#include "input/gamepad_reader.h"
#include "link/link_worker.h"
#include "link/port.h"
#include "link/wire.h"
#include "link_session.h"
#include "session_fixture.h"

namespace zanth {
namespace {

using namespace std::chrono_literals;
using test::LinkSessionTest;
using test::Robot;
using test::SessionTest;
using test::WaitFor;

TEST_F(SessionTest, PortIndexIsKeptFromTheLastSuccessfulConnectAndSaved) {
    Robot robot;
    auto s = Make(robot.path());
    EXPECT_EQ(s->ToggleConnection(2).outcome, ConnectResult::Outcome::kConnected);
    EXPECT_EQ(s->comPortIndex(), 2);
    EXPECT_FALSE(s->state().settingsEnabled());
    EXPECT_EQ(s->ToggleConnection(2).outcome, ConnectResult::Outcome::kDisconnected);
    EXPECT_TRUE(s->state().settingsEnabled());
    // The port is closed at once: the robot's end reads the hang-up.
    std::string wire;
    EXPECT_TRUE(WaitFor([&] { return robot.Read(wire) < 0; }));

    const ConnectResult failed = s->ToggleConnection(4);  // COM5 stands for nothing here
    EXPECT_EQ(failed.outcome, ConnectResult::Outcome::kFailed);
    EXPECT_FALSE(failed.reason.empty());
    EXPECT_EQ(s->comPortIndex(), 2);
    EXPECT_TRUE(s->Close(SettingsPath()).ok);
    EXPECT_EQ(LoadSettings(SettingsPath()).port, 2);
}

TEST_F(SessionTest, SliderFollowsTheGamepadAtEveryResolution) {
    auto s = Make();
    const int rx = s->model().axisBindings[kAxisRX].axisIndex;
    for (int resolution = 0; resolution <= 4; ++resolution) {
        for (int value : {0, 1, 64, 200, 254, 255}) {
            ResetRightStickHistory();
            s->SetResolution(resolution);
            gamepad_->state = GamepadState::Neutral();
            gamepad_->state.axes[static_cast<std::size_t>(rx)] = value * 257;  // reads back as `value`
            const SliderMoves moves = s->Tick({});
            const int d = 1 << resolution;
            ASSERT_TRUE(moves.x.has_value()) << value;
            EXPECT_EQ(*moves.x, d == 1 ? value : (value + 1) / d) << "divisor " << d << " value " << value;
            EXPECT_EQ(s->model().rightStickX, value);
        }
    }
}

TEST_F(SessionTest, AMissingGamepadIsLookedForOnEvery22ndTick) {
    auto s = Make("", false);
    gamepad_->creates = 0;
    std::vector<int> searches;
    for (int tick = 1; tick <= 66; ++tick) {
        const int before = gamepad_->creates;
        s->Tick({});
        if (gamepad_->creates != before) searches.push_back(tick);
    }
    EXPECT_EQ(searches, (std::vector<int>{22, 44, 66}));
}

// Back + Start held together stop the robot only where the settings switch the chord on; Start disabled
// holds the robot until Enable.
TEST_F(SessionTest, TheGamepadsStopChordAndStartDisabledFollowTheSettings) {
    struct Row {
        const char* ini;
        bool chordStops;
        bool enabled;
    };
    const Row rows[] = {
        {"", false, true},
        {"[STOP]\nPADCHORD=1\n", true, true},
        {"[STOP]\nSTARTDISABLED=1\n", false, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.ini);
        std::ofstream(SettingsPath()) << r.ini;
        auto s = Make();
        s->ToggleConnection(0);  // nothing on COM1: what Connect does first still happens
        s->Tick({});
        EXPECT_EQ(s->state().enabled, r.enabled);
        gamepad_->state.buttons[8] = gamepad_->state.buttons[9] = 128;
        s->Tick({});
        EXPECT_EQ(s->state().stop.has_value(), r.chordStops);
        if (r.chordStops) {
            EXPECT_EQ(s->state().stop->by, StopBy::kGamepad);
        }
        gamepad_->state.buttons[8] = gamepad_->state.buttons[9] = 0;
    }
}

TEST_F(SessionTest, TheGamepadComesBackAtTheLevelBackAsksFor) {
    for (int back : {0, 1}) {
        std::ofstream(SettingsPath()) << "[SYSTEM]\nBACK=" << back << "\n";
        auto s = Make();
        s->SuspendGamepad();
        s->ResumeGamepad();
        EXPECT_EQ(gamepad_->background, back);
    }
}

// The chosen pad goes to the device at start, and the status names it while it is away.
TEST_F(SessionTest, TheChosenPadIsNamedWhileAway) {
    const std::string guid(32, 'f');
    std::ofstream(SettingsPath()) << "[SYSTEM]\nPADGUID=" << guid << "\nPADNAME=Pad B\n";
    auto s = Make("", /*padPresent=*/false);
    EXPECT_EQ(gamepad_->chosen.guid, guid);
    s->Tick({});
    EXPECT_EQ(s->state().padAbsent, "Pad B");
    s->ChoosePad({});
    s->Tick({});
    EXPECT_EQ(s->state().padAbsent, "");
}

TEST_F(SessionTest, MeterPinnedWhileAskingEmptyWithoutAndClearedOnDisconnect) {
    Robot robot;
    auto s = Make(robot.path());
    ASSERT_EQ(s->ToggleConnection(2).outcome, ConnectResult::Outcome::kConnected);
    PanelInputs asking;
    s->Tick(asking);
    for (auto [reply, shown] : {std::pair{95, 80}, {10, 50}, {70, 70}}) {
        emit s->link().batteryReply(reply);
        EXPECT_EQ(s->state().meterValue, shown) << reply;
    }
    EXPECT_EQ(s->state().meterColour, BatteryColour(70));
    PanelInputs notAsking;
    notAsking.batteryDisplay = false;
    s->Tick(notAsking);
    EXPECT_EQ(s->state().meterValue, 0);
    emit s->link().batteryReply(75);
    EXPECT_EQ(s->state().meterValue, 0);
    s->Tick(asking);
    emit s->link().batteryReply(75);
    ASSERT_EQ(s->state().meterValue, 75);
    s->ToggleConnection(2);
    EXPECT_EQ(s->state().meterValue, 0);
}

TEST_F(SessionTest, NoReplyForASecondGreysTheMeter) {
    std::uint32_t now = 1000;
    SetTickSource([&] { return now; });
    Robot robot;
    auto s = Make(robot.path());
    ASSERT_EQ(s->ToggleConnection(2).outcome, ConnectResult::Outcome::kConnected);
    now += ControlSession::kNoReplyMs;
    s->Tick({});
    EXPECT_FALSE(s->state().meterStale);
    now += 1;
    s->Tick({});
    EXPECT_TRUE(s->state().meterStale);
    emit s->link().batteryReply(70);
    EXPECT_FALSE(s->state().meterStale);
}

// A red meter and a lost port reach the pad's motors (SDL's virtual pad takes the pulses); turned off, none.
TEST_F(SessionTest, ThePadRumblesWhenTheMeterTurnsRedAndWhenThePortIsLost) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER), 0) << SDL_GetError();
    std::uint32_t now = 1000;
    SetTickSource([&] { return now; });
    int pulses = 0;
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.naxes = 2;
    desc.nbuttons = 4;
    desc.vendor_id = 0x7a01;
    desc.userdata = &pulses;
    desc.Rumble = [](void* count, Uint16 low, Uint16 high) {
        if (low != 0 || high != 0) ++*static_cast<int*>(count);  // SDL stops a pulse with 0, 0
        return 0;
    };
    ASSERT_GE(SDL_JoystickAttachVirtualEx(&desc), 0) << SDL_GetError();
    for (const bool on : {true, false}) {
        pulses = 0;
        realGamepad_ = std::make_unique<GamepadReader>();
        Robot robot;
        auto s = Make(robot.path());
        s->SetRumble(on);
        ASSERT_EQ(s->ToggleConnection(2).outcome, ConnectResult::Outcome::kConnected);
        auto tickWith = [&](int reply) {
            now += 50;
            emit s->link().batteryReply(reply);
            s->Tick({});
        };
        tickWith(70);
        EXPECT_EQ(pulses, 0);
        tickWith(60);
        tickWith(60);
        EXPECT_EQ(pulses, on ? 1 : 0);
        // While the meter stays red the driver is reminded every 30 s, not sooner.
        now += 29'000;
        tickWith(60);
        EXPECT_EQ(pulses, on ? 1 : 0);
        now += 1'000;
        tickWith(60);
        EXPECT_EQ(pulses, on ? 2 : 0);
        robot.Hangup();
        ASSERT_TRUE(WaitFor([&] { return s->state().link != LinkState::kConnected; }));
        for (int tick = 0; tick < 20; ++tick) {
            now += 50;
            s->Tick({});
        }
        EXPECT_EQ(pulses, on ? 4 : 0);
        s->Close(SettingsPath());
    }
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
}

// Whatever is held at Disconnect, the robot's last message is the neutral frame.
TEST_F(LinkSessionTest, DisconnectLeavesTheRobotWithTheNeutralFrame) {
    Connect({});
    Key(kItemL1, true);
    const ControllerFrame atRest = NeutralFrame(true);
    ASSERT_TRUE(Drive(
        [&] {
            return !sent_.empty() &&
                   !std::equal(atRest.begin(), atRest.end() - 1, sent_.back().bytes.begin() + 1);
        },
        10s));
    ASSERT_EQ(session_->ToggleConnection(2).outcome, ConnectResult::Outcome::kDisconnected);
    int status = -1;
    const std::vector<std::string> lines = sim_->LinesUntilExit(5000, &status);
    EXPECT_EQ(status, 0);  // the port was closed
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2].find("buttons: -"), std::string::npos) << lines[lines.size() - 2];
    EXPECT_EQ(lines.back().substr(0, 22), "K FF FF FF 80 80 80 80") << lines.back();
}

// The window's thread stops answering (here: the test thread reads the simulator and runs no event loop):
// the link lets go of the press by its own deadline.
TEST_F(LinkSessionTest, AStuckWindowThreadLetsGoOfThePressOnTheWire) {
    Connect({});
    Key(kItemL1, true);
    auto held = [](const std::string& line) { return line.find("L1 |") != std::string::npos; };
    ASSERT_TRUE(Drive([&] { return !sent_.empty() && (sent_.back().bytes[3] & 0x04) == 0; }, 10s));
    std::string line = sim_->ReadLine(5000);
    for (int i = 0; i < 40 && !line.empty() && !held(line); ++i) line = sim_->ReadLine(5000);
    for (int i = 0; i < 40 && !line.empty() && held(line); ++i) line = sim_->ReadLine(5000);
    EXPECT_EQ(line.substr(0, 31), "k FF FF FF 80 80 80 80 F3 | but") << line;
}

// A line that takes every message at once and calls `onWrite` with it, on the link thread.
class ListeningPort final : public Port {
    using Status = PortResult::Status;

  public:
    explicit ListeningPort(std::function<void(const WireMessage&)> onWrite) : onWrite_(std::move(onWrite)) {}
    const std::string& Device() const override { return device_; }
    PortResult Discard(int ms, int wakeFd) override { return Wait(ms, wakeFd); }
    PortResult Read(std::uint8_t*, int, int ms, int wakeFd) override { return Wait(ms, wakeFd); }
    PortResult Write(const WireMessage& message, int, int) override {
        onWrite_(message);
        PortResult r;
        r.count = static_cast<int>(message.size());
        return r;
    }
    PortResult Drain(int, int) override { return {}; }
    void Flush() override {}
    bool OutputOutlivesClose() const override { return false; }

  private:
    static PortResult Wait(int ms, int wakeFd) {
        pollfd p{wakeFd, POLLIN, 0};
        PortResult r;
        r.status = poll(&p, wakeFd >= 0 ? 1 : 0, ms) > 0 ? Status::kWoken : Status::kOk;
        return r;
    }
    std::function<void(const WireMessage&)> onWrite_;
    std::string device_ = "/dev/listening0";
};

// What the folder holds, with every file's size and time of change.
std::string FolderPrint(const std::string& folder) {
    std::string print;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
        print += e.path().filename().string() + " " + std::to_string(e.file_size(ec)) + " " +
                 std::to_string(e.last_write_time(ec).time_since_epoch().count()) + "\n";
    return print;
}

// At close the robot is left with the neutral frame before any file is touched (the settings, the remote
// file, a recording): a file may block, and the robot must not wait on it with a press held.
TEST_F(SessionTest, CloseLeavesTheRobotNeutralBeforeAnyFileIsTouched) {
    std::mutex mutex;
    std::vector<std::pair<WireMessage, std::string>> writes;  // each message, and the folder when it went
    openPort_ = [&](const std::string&, std::string*) -> std::unique_ptr<Port> {
        return std::make_unique<ListeningPort>([&](const WireMessage& m) {
            const std::string print = FolderPrint(dir_.path().toStdString());
            std::lock_guard lock(mutex);
            writes.emplace_back(m, print);
        });
    };
    auto s = Make("/dev/listening0");
    QString reason;
    ASSERT_TRUE(s->StartRemote({0, false}, &reason)) << reason.toStdString();
    ASSERT_EQ(s->ToggleConnection(2).outcome, ConnectResult::Outcome::kConnected);
    keyboard_->down[static_cast<std::size_t>(s->model().item(kItemL1).keyCode)] = kKeyDownByte;
    ASSERT_TRUE(WaitFor(
        [&] {
            s->Tick({});
            std::lock_guard lock(mutex);
            return !writes.empty() && (writes.back().first[3] & 0x04) == 0;
        },
        10s));
    const std::string before = FolderPrint(dir_.path().toStdString());
    EXPECT_TRUE(s->Close(SettingsPath()).ok);
    std::lock_guard lock(mutex);
    EXPECT_EQ(writes.back().first, BuildMessage(NeutralFrame(true), false));
    EXPECT_EQ(writes.back().second, before) << "a file was touched before the last message";
    EXPECT_NE(FolderPrint(dir_.path().toStdString()), before);  // the settings were saved, after it
}

// Scripts find the server by remote.json: it lasts exactly while the server runs, whether Stop or Close ends
// it.
TEST_F(SessionTest, TheRemoteFileLastsWhileTheServerRuns) {
    auto s = Make();
    const QString file = dir_.filePath(QStringLiteral("remote.json"));
    for (bool closing : {false, true}) {
        QString reason;
        ASSERT_TRUE(s->StartRemote({0, false}, &reason)) << reason.toStdString();
        EXPECT_TRUE(WaitFor([&] { return QFileInfo::exists(file); }));
        if (closing)
            s->Close(SettingsPath());
        else
            s->StopRemote();
        EXPECT_FALSE(QFileInfo::exists(file)) << (closing ? "after Close" : "after Stop");
    }
}

TEST_F(SessionTest, DisconnectAndCloseReturnInTimeOnALineThatTakesNothing) {
    const auto log = std::make_shared<test::StuckLog>();
    openPort_ = [&](const std::string&, std::string*) -> std::unique_ptr<Port> {
        return std::make_unique<test::StuckPort>(log, test::Stuck::kBeforeTheMessage);
    };
    for (bool closing : {false, true}) {
        auto s = Make("/dev/stuck0");
        ASSERT_EQ(s->ToggleConnection(2).outcome, ConnectResult::Outcome::kConnected);
        s->Tick({});
        log->stuck = false;
        ASSERT_TRUE(WaitFor([&] { return log->stuck.load(); }));
        const auto start = std::chrono::steady_clock::now();
        if (closing)
            s->Close(SettingsPath());
        else
            s->ToggleConnection(2);
        const auto took = std::chrono::steady_clock::now() - start;
        // The line holds every call for all it is given: only the stop's own budget ends them. The figures
        // themselves are the benchmark's (bench/test_timing_figures.py).
        EXPECT_LT(took, std::chrono::milliseconds(kStopBudgetMs + test::kStallMs))
            << (closing ? "close" : "disconnect");
        RecordProperty(closing ? "closeMs" : "disconnectMs",
                       static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
        EXPECT_FALSE(s->connected());
    }
}

// Below the lowest free descriptor number while it lives: nothing can open a descriptor.
class NoFreeDescriptor {
  public:
    NoFreeDescriptor() {
        getrlimit(RLIMIT_NOFILE, &saved_);
        const int lowest = dup(0);
        close(lowest);
        rlimit tight = saved_;
        tight.rlim_cur = static_cast<rlim_t>(lowest);
        ok_ = lowest >= 0 && setrlimit(RLIMIT_NOFILE, &tight) == 0;
    }
    ~NoFreeDescriptor() { setrlimit(RLIMIT_NOFILE, &saved_); }
    bool ok() const { return ok_; }

  private:
    rlimit saved_{};
    bool ok_ = false;
};

TEST_F(SessionTest, ALinkThatCannotStartIsReportedAndLeavesTheSessionDisconnected) {
    const auto log = std::make_shared<test::StuckLog>();
    openPort_ = [&](const std::string&, std::string*) -> std::unique_ptr<Port> {
        return std::make_unique<test::StuckPort>(log, test::Stuck::kBeforeTheMessage);
    };
    auto s = Make("/dev/stuck0");
    // Once connected and disconnected first: the sanitizer's check of an object's type takes a descriptor of
    // its own the first time it meets a type, and would cry wolf while the test holds them all.
    ASSERT_EQ(s->ToggleConnection(2).outcome, ConnectResult::Outcome::kConnected);
    ASSERT_EQ(s->ToggleConnection(2).outcome, ConnectResult::Outcome::kDisconnected);
    ASSERT_EQ(s->ToggleConnection(4).outcome, ConnectResult::Outcome::kFailed);  // logged, as below
    log->writes.clear();                                                         // no link runs now
    ConnectResult r;
    {
        const NoFreeDescriptor limit;
        ASSERT_TRUE(limit.ok());
        r = s->ToggleConnection(2);
    }
    EXPECT_EQ(r.outcome, ConnectResult::Outcome::kFailed);
    EXPECT_EQ(r.reason.rfind(app_->Tr(Msg::kLinkNotStarted), 0), 0u) << r.reason;
    EXPECT_FALSE(s->connected());
    EXPECT_EQ(s->state().link, LinkState::kDisconnected);
    EXPECT_TRUE(s->state().settingsEnabled());
    EXPECT_FALSE(s->link().IsRunning());
    s->Tick({});
    {
        std::lock_guard lock(log->mutex);
        EXPECT_TRUE(log->writes.empty());
    }
    // Once descriptors can be had again, the same press connects.
    EXPECT_EQ(s->ToggleConnection(2).outcome, ConnectResult::Outcome::kConnected);
}

TEST_F(SessionTest, AFreshSampleCarriesNewInputButDecidesNothing) {
    auto s = Make();
    s->Tick({});
    const ControllerFrame atRest = BuildFrame(s->model());
    const int lit = s->model().ledItem().latched;
    // L1 and MODE go down between two ticks.
    for (int i : {static_cast<int>(kItemL1), static_cast<int>(kItemMode)})
        keyboard_->down[static_cast<std::size_t>(s->model().item(i).keyCode)] = kKeyDownByte;
    const ControllerFrame sampled = s->SampleFrame();
    EXPECT_NE(sampled, atRest);
    EXPECT_EQ(s->model().item(kItemL1).keyDown, 0);
    EXPECT_EQ(s->model().ledItem().latched, lit);
    EXPECT_EQ(sampled[7], atRest[7]);
    EXPECT_TRUE(sound_->started.empty());
    // The tick then decides as it always has, and its frame is the one sampled but for the LED it flips.
    s->Tick({});
    EXPECT_EQ(s->model().item(kItemL1).keyDown, 1);
    EXPECT_NE(s->model().ledItem().latched, lit);
    const ControllerFrame ticked = BuildFrame(s->model());
    for (int i = 0; i < 7; ++i) EXPECT_EQ(sampled[i], ticked[i]) << "byte " << i;
}

}  // namespace
}  // namespace zanth
