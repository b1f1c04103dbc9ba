// A robot found again after it was lost: the simulator on a pseudo-terminal behind a link that plays the
// adapter's stable name, and the simulator as a network bridge on 127.0.0.1.
#include <signal.h>
#include <stdio.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>

#include "../link/full_listener.h"
#include "../link/loopback_listener.h"
#include "../link/sim_process.h"
#include "control/link_traffic.h"
#include "control/session.h"
#include "link/background_open.h"
#include "link/link_worker.h"
#include "link/serial_port.h"
#include "session_fixture.h"

namespace zanth {
namespace {

using test::SessionTest;
using test::SimProcess;
using test::WaitFor;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class ReconnectTest : public SessionTest {
  protected:
    // Runs the session as the window would (ticks, queued signals) until `done`; counts the simulator's
    // lines.
    bool Drive(ControlSession& s, SimProcess* sim, const std::function<bool()>& done,
               std::chrono::milliseconds limit = 5s) {
        return WaitFor(
            [&] {
                s.Tick({});
                if (sim != nullptr)
                    for (std::string line = sim->ReadLine(0); !line.empty(); line = sim->ReadLine(0)) {
                        if (lines_ == 0) firstLine_ = Clock::now();
                        ++lines_;
                    }
                return done();
            },
            limit);
    }
    void Fresh() { lines_ = 0; }

    int lines_ = 0;
    Clock::time_point firstLine_;
};

// dev/serial/by-id/... switched to another terminal, as when the adapter comes back under another ttyUSB.
void Point(const std::string& link, const std::string& target) {
    const std::string next = link + ".next";
    std::filesystem::remove(next);
    std::filesystem::create_symlink(target, next);
    std::filesystem::rename(next, link);
}

TEST_F(ReconnectTest, AnUnpluggedRobotIsFoundAgainAtItsStableName) {
    const std::string link = dir_.filePath("usb-robot-if00-port0").toStdString();
    auto sim = std::make_unique<SimProcess>(std::vector<std::string>{});
    Point(link, sim->path());
    std::atomic<int> opens{0};
    openPort_ = [&](const std::string& device, std::string* reason) -> std::unique_ptr<Port> {
        ++opens;
        return SerialPort::Open(device, reason);
    };
    auto s = Make(link);
    ASSERT_EQ(s->ToggleConnection(2).outcome, ConnectResult::Outcome::kConnected);
    ASSERT_TRUE(Drive(*s, sim.get(), [&] { return lines_ > 0; }));
    int changes = 0;
    QObject::connect(s.get(), &ControlSession::stateChanged, [&] { ++changes; });

    // Unplugged: the link goes, then the far end of the line (a terminal's number may soon be another's).
    std::filesystem::remove(link);
    sim.reset();
    ASSERT_TRUE(Drive(*s, nullptr, [&] { return s->state().link == LinkState::kReconnecting; }));
    ASSERT_TRUE(s->state().failure.has_value());
    EXPECT_EQ(s->state().failure->kind, LinkFailure::Kind::kUnplugged);
    EXPECT_EQ(s->state().failure->device, link);
    EXPECT_GT(changes, 0);  // said between ticks
    // The monitor lists the loss, each try and the return as rows, oldest last.
    const MonitorModel& monitor = s->traffic().monitor();
    using What = MonitorModel::PortEvent::What;
    const auto portRows = [&] {
        std::vector<MonitorModel::PortEvent> rows;
        for (std::size_t i = monitor.rowCount(); i-- > 0;)
            if (monitor.row(i).kind == MonitorModel::Row::Kind::kPort) rows.push_back(monitor.row(i).port);
        return rows;
    };
    ASSERT_TRUE(Drive(*s, nullptr, [&] { return portRows().size() >= 2; }));

    sim = std::make_unique<SimProcess>(std::vector<std::string>{});
    Fresh();
    Point(link, sim->path());
    // Open again, but "Reconnecting" until the robot has answered.
    ASSERT_TRUE(Drive(*s, sim.get(), [&] { return s->link().IsRunning(); }));
    const auto reopened = Clock::now();
    EXPECT_EQ(s->state().link, LinkState::kReconnecting);
    ASSERT_TRUE(Drive(*s, sim.get(), [&] { return s->connected() && lines_ > 0; }));
    EXPECT_FALSE(s->state().failure.has_value());
    // As after Connect: what the robot says in the first 500 ms is dropped before the first message.
    EXPECT_GE(firstLine_ - reopened, 500ms);
    const std::vector<MonitorModel::PortEvent> rows = portRows();
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(rows.front().what, What::kLost);
    EXPECT_EQ(rows.front().device, link);
    EXPECT_EQ(rows.back().what, What::kBack);
    for (std::size_t i = 1; i + 1 < rows.size(); ++i) {
        EXPECT_EQ(rows[i].what, What::kTry) << i;
        EXPECT_EQ(rows[i].attempt, static_cast<int>(i)) << i;
        EXPECT_FALSE(rows[i].reason.empty()) << i;
    }

    // Lost again, and the user gives up: no more tries, even when the robot is back. Until then the link may
    // come back at any moment: the dialogs stay shut and the button offers Disconnect.
    std::filesystem::remove(link);
    sim.reset();
    ASSERT_TRUE(Drive(*s, nullptr, [&] { return s->state().link == LinkState::kReconnecting; }));
    EXPECT_FALSE(s->state().settingsEnabled());
    EXPECT_TRUE(s->state().engaged());
    EXPECT_EQ(s->ToggleConnection(2).outcome, ConnectResult::Outcome::kDisconnected);
    EXPECT_TRUE(s->state().settingsEnabled());
    const int opensBefore = opens;
    sim = std::make_unique<SimProcess>(std::vector<std::string>{});
    Fresh();
    Point(link, sim->path());
    Drive(
        *s, sim.get(), [] { return false; }, 2 * std::chrono::milliseconds(ControlSession::kReopenPeriodMs));
    EXPECT_EQ(lines_, 0);
    EXPECT_EQ(opens, opensBefore);
    EXPECT_EQ(s->state().link, LinkState::kDisconnected);
}

TEST_F(ReconnectTest, ANetworkBridgeIsReachedOffTheGuiThreadAndFoundAgain) {
    auto sim = std::make_unique<SimProcess>(std::vector<std::string>{"--tcp", "0"});
    const std::string address = sim->path();
    ASSERT_EQ(address.rfind("tcp://127.0.0.1:", 0), 0u) << address;
    ports_["COM5"] = address;
    auto s = Make();
    EXPECT_EQ(s->ToggleConnection(4).outcome, ConnectResult::Outcome::kConnecting);
    EXPECT_FALSE(s->state().settingsEnabled());
    ASSERT_TRUE(Drive(*s, sim.get(), [&] { return s->connected() && lines_ > 0; }));
    EXPECT_EQ(s->comPortIndex(), 4);
    EXPECT_EQ(s->rememberedDevice(), address);

    sim.reset();
    ASSERT_TRUE(Drive(*s, nullptr, [&] { return s->state().link == LinkState::kReconnecting; }));
    const std::string port = address.substr(address.rfind(':') + 1);
    sim = std::make_unique<SimProcess>(std::vector<std::string>{"--tcp", port});
    ASSERT_EQ(sim->path(), address);
    Fresh();
    ASSERT_TRUE(Drive(*s, sim.get(), [&] { return s->connected() && lines_ > 0; }));
}

// A bridge whose serial device is missing accepts each connection and closes it at once.
struct HangUpBridge : test::LoopbackListener {
    HangUpBridge() : LoopbackListener(16, SOCK_NONBLOCK) {}
    void HangUpOnAll() {
        for (int c; (c = accept(fd(), nullptr, nullptr)) >= 0; ++accepted) close(c);
    }
    int accepted = 0;
};

TEST_F(ReconnectTest, ABridgeThatHangsUpAtOnceIsTriedAboutOnceASecondAndNeverShownAsBack) {
    HangUpBridge bridge;
    ports_["COM5"] = bridge.address();
    auto s = Make();
    ASSERT_EQ(s->ToggleConnection(4).outcome, ConnectResult::Outcome::kConnecting);
    bool lost = false;
    bool shownAsBack = false;
    const auto start = Clock::now();
    Drive(
        *s, nullptr,
        [&] {
            bridge.HangUpOnAll();
            lost = lost || s->state().link == LinkState::kReconnecting;
            shownAsBack = shownAsBack || (lost && s->state().link != LinkState::kReconnecting);
            return false;
        },
        4s);
    const auto seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_TRUE(lost);
    EXPECT_FALSE(shownAsBack);
    // About one try a second, never a tight loop; and the tries go on.
    EXPECT_GE(bridge.accepted, 2);
    EXPECT_LE(bridge.accepted, seconds + 2);
    ASSERT_TRUE(s->state().failure.has_value());
    EXPECT_EQ(s->state().failure->kind, LinkFailure::Kind::kHungUp);
}

TEST_F(ReconnectTest, ABridgeThatDoesNotAnswerNeverHoldsTheWindow) {
    test::FullListener silent;
    ports_["COM5"] = silent.address();
    std::string refused;
    {
        test::FullListener gone;
        refused = gone.address();
    }
    ports_["COM6"] = refused;
    auto s = Make();
    std::optional<ConnectResult> failed;
    QObject::connect(s.get(), &ControlSession::connectFailed, [&](const ConnectResult& r) { failed = r; });

    // Waiting on the silent bridge would take the whole connect limit; a loaded machine stays well under
    // half.
    constexpr auto kHalfTheLimit = std::chrono::milliseconds(kTcpConnectMs / 2);
    auto start = Clock::now();
    EXPECT_EQ(s->ToggleConnection(4).outcome, ConnectResult::Outcome::kConnecting);
    EXPECT_LT(Clock::now() - start, kHalfTheLimit);
    // Disconnect while it waits for an answer ends the try at once.
    start = Clock::now();
    EXPECT_EQ(s->ToggleConnection(4).outcome, ConnectResult::Outcome::kDisconnected);
    EXPECT_LT(Clock::now() - start, kHalfTheLimit);

    // A connect that fails is told as a failed Connect is, with the system's reason.
    EXPECT_EQ(s->ToggleConnection(5).outcome, ConnectResult::Outcome::kConnecting);
    ASSERT_TRUE(Drive(*s, nullptr, [&] { return failed.has_value(); }));
    EXPECT_EQ(failed->port, "COM6");
    EXPECT_EQ(failed->device, refused);
    EXPECT_NE(failed->reason.find("refused"), std::string::npos) << failed->reason;
    EXPECT_EQ(s->state().link, LinkState::kDisconnected);
    EXPECT_EQ(s->comPortIndex(), 0);
}

}  // namespace
}  // namespace zanth
