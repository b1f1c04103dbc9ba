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
#include <mutex>
#include <optional>

#include "../link/full_listener.h"
#include "../link/loopback_listener.h"
#include "../link/sim_process.h"
#include "../link/stuck_port.h"
#include "control/link_proof.h"
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
    // Every open of a port is timed (on the opener's thread): `open` or the real one.
    void TimeOpens(std::function<std::unique_ptr<Port>(const std::string&, std::string*)> open = nullptr) {
        openPort_ = [this, open](const std::string& device, std::string* reason) {
            {
                std::lock_guard lock(opensMutex_);
                opensUs_.push_back(LinkClockUs());
            }
            return open ? open(device, reason) : OpenLinkPort(device, -1, reason);
        };
    }
    std::vector<std::int64_t> OpensUs() {
        std::lock_guard lock(opensMutex_);
        return opensUs_;
    }
    // The monitor's rows about the lost port, oldest first.
    static std::vector<MonitorModel::PortEvent> PortRows(ControlSession& s) {
        std::vector<MonitorModel::PortEvent> rows;
        const MonitorModel& monitor = s.traffic().monitor();
        for (std::size_t i = monitor.rowCount(); i-- > 0;)
            if (monitor.row(i).kind == MonitorModel::Row::Kind::kPort) rows.push_back(monitor.row(i).port);
        return rows;
    }
    // Connects `selection`, waits for the port to be lost and then for `tries` failed tries to reopen it,
    // with `during` called all along: the port must never be back, and each try must wait as long after the
    // failure before it as the failed tries so far ask.
    void ExpectFailedTries(int selection, int tries, LinkFailure::Kind kind,
                           const std::function<void()>& during, std::chrono::milliseconds limit) {
        auto s = Make();
        ASSERT_NE(s->ToggleConnection(selection).outcome, ConnectResult::Outcome::kFailed);
        bool lost = false;
        bool back = false;
        ASSERT_TRUE(Drive(
            *s, nullptr,
            [&] {
                during();
                lost = lost || s->state().link == LinkState::kReconnecting;
                back = back || (lost && s->state().link == LinkState::kConnected);
                return PortRows(*s).size() > static_cast<std::size_t>(tries) &&
                       OpensUs().size() > static_cast<std::size_t>(tries) + 1;
            },
            limit));
        EXPECT_FALSE(back);
        ASSERT_TRUE(s->state().failure.has_value());
        EXPECT_EQ(s->state().failure->kind, kind);
        const auto rows = PortRows(*s);
        const auto opens = OpensUs();
        using What = MonitorModel::PortEvent::What;
        EXPECT_EQ(rows.front().what, What::kLost);
        for (int i = 0; i <= tries; ++i) {
            const auto at = static_cast<std::size_t>(i);
            if (i > 0) {
                EXPECT_EQ(rows[at].what, What::kTry) << i;
            }
            // The open after this failure (the first open was Connect's).
            EXPECT_GE(opens[at + 1] - rows[at].atUs, ControlSession::ReopenDelayMs(i + 1) * 1000LL) << i;
        }
    }

    int lines_ = 0;
    Clock::time_point firstLine_;
    std::mutex opensMutex_;
    std::vector<std::int64_t> opensUs_;
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
    using What = MonitorModel::PortEvent::What;
    const auto portRows = [&] { return PortRows(*s); };
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
    auto watch = [&] {
        bridge.HangUpOnAll();
        lost = lost || s->state().link == LinkState::kReconnecting;
        shownAsBack = shownAsBack || (lost && s->state().link != LinkState::kReconnecting);
    };
    const auto start = Clock::now();
    Drive(
        *s, nullptr,
        [&] {
            watch();
            return false;
        },
        4s);
    // About one try a second, never a tight loop.
    EXPECT_LE(bridge.accepted, std::chrono::duration<double>(Clock::now() - start).count() + 2);
    // And the tries go on, however slowly a loaded machine lets them.
    const int accepted = bridge.accepted;
    ASSERT_TRUE(Drive(
        *s, nullptr,
        [&] {
            watch();
            return lost && bridge.accepted > accepted;
        },
        20s));
    EXPECT_FALSE(shownAsBack);
    ASSERT_TRUE(s->state().failure.has_value());
    EXPECT_EQ(s->state().failure->kind, LinkFailure::Kind::kHungUp);
}

// A bridge whose serial side runs at another speed: whatever is sent, garbage comes back all the time.
TEST_F(ReconnectTest, ABridgeThatFloodsGarbageIsAFailedTryAndTheTriesSlowDown) {
    test::LoopbackListener bridge(16, SOCK_NONBLOCK);
    ports_["COM5"] = bridge.address();
    TimeOpens();
    std::vector<int> peers;
    const std::string garbage(64, '\x55');
    ExpectFailedTries(
        4, 1, LinkFailure::Kind::kGarbage,
        [&] {
            for (int c; (c = accept(bridge.fd(), nullptr, nullptr)) >= 0;) peers.push_back(c);
            for (int c : peers) send(c, garbage.data(), garbage.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        },
        30s);
    for (int c : peers) close(c);
}

// A line that takes every message and lets none of them out (a bridge whose device is held off by flow
// control).
TEST_F(ReconnectTest, ALineThatLetsNothingOutIsAFailedTryAndTheTriesSlowDown) {
    const auto log = std::make_shared<test::StuckLog>();
    TimeOpens([&](const std::string&, std::string*) -> std::unique_ptr<Port> {
        return std::make_unique<test::StuckPort>(log, test::Stuck::kAfterTheDriverTookIt);
    });
    ports_["COM5"] = "/dev/stuck0";
    ExpectFailedTries(
        4, ControlSession::kQuickFailuresBeforeBackOff, LinkFailure::Kind::kStalled, [] {}, 30s);
}

// What proves a reopened port back, and which ended links were failed tries.
TEST(LinkProof, ARepliedOrQuietPortWhoseMessagesLeftIsBack) {
    const std::uint32_t quiet = LinkProof::SilenceNeededMs(0);
    const struct {
        const char* name;
        bool answered;
        std::uint64_t left;       // messages that left since the open
        std::uint32_t garbageAt;  // 0: none; else when garbage came
        std::uint32_t at;
        int failedTries;
        bool proved;
    } cases[] = {
        {"answered at once", true, 0, 0, 0, 0, true},
        {"quiet and messages left", false, 3, 0, quiet, 0, true},
        {"not quiet long enough", false, 3, 0, quiet - 1, 0, false},
        {"nothing left", false, 0, 0, 10 * quiet, 0, false},
        {"garbage restarts the quiet", false, 3, 500, quiet, 0, false},
        {"quiet again after garbage", false, 3, 500, 500 + quiet, 0, true},
        {"failed tries ask for longer", false, 3, 0, quiet, 1, false},
        {"and get it", false, 3, 0, LinkProof::SilenceNeededMs(1), 1, true},
    };
    for (const auto& c : cases) {
        LinkProof proof;
        proof.Opened(0, {10, 7});
        if (c.answered) proof.Answered();
        if (c.garbageAt > 0) proof.Proved(c.garbageAt, {10, 8}, c.failedTries);
        const std::uint64_t garbage = c.garbageAt > 0 ? 8 : 7;
        EXPECT_EQ(proof.Proved(c.at, {10 + c.left, garbage}, c.failedTries), c.proved) << c.name;
    }
    // The time silence must hold grows with the failed tries, and is bounded.
    for (int tries = 0; tries < kSilenceDoublingsAtMost; ++tries)
        EXPECT_LT(LinkProof::SilenceNeededMs(tries), LinkProof::SilenceNeededMs(tries + 1)) << tries;
    EXPECT_EQ(LinkProof::SilenceNeededMs(1000), LinkProof::SilenceNeededMs(kSilenceDoublingsAtMost));

    using Kind = LinkFailure::Kind;
    const struct {
        const char* name;
        bool proved, answered;
        std::uint32_t lived;
        Kind kind;
        bool failedTry;
    } ends[] = {
        {"never proved", false, false, 10 * kLinkProvedMs, Kind::kUnplugged, true},
        {"hung up at once", true, true, kLinkProvedMs - 1, Kind::kHungUp, true},
        {"a working robot unplugged", true, true, 10 * kLinkProvedMs, Kind::kUnplugged, false},
        {"a quiet robot unplugged", true, false, 10 * kLinkProvedMs, Kind::kUnplugged, false},
        {"quiet, then garbage", true, false, 10 * kLinkProvedMs, Kind::kGarbage, true},
        {"quiet, then stalled", true, false, 10 * kLinkProvedMs, Kind::kStalled, true},
        {"answered, then stalled", true, true, 10 * kLinkProvedMs, Kind::kStalled, false},
    };
    for (const auto& e : ends) {
        LinkProof proof;
        proof.Opened(0, {});
        if (e.answered) proof.Answered();
        EXPECT_EQ(proof.FailedTry(e.proved, e.lived, e.kind), e.failedTry) << e.name;
    }
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
