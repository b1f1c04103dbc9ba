#include "link/link_worker.h"

#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/serial_port.h"
#include "link_test_util.h"
#include "sim_process.h"
#include "stuck_port.h"

namespace zanth {
namespace {

using test::Clock;
using test::MsSince;
using test::RunUntil;
using test::SimProcess;

std::unique_ptr<Port> OpenPort(const std::string& device) {
    std::string reason;
    auto port = SerialPort::Open(device, &reason);
    EXPECT_NE(port, nullptr) << device << ": " << reason;
    return port;
}

class LinkWorkerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::EnsureApp();
        // Queued to this thread: a lambda without a receiver would run on the link thread.
        QObject::connect(&worker, &LinkWorker::batteryReply, &here, [this](int v) { replies.push_back(v); });
        QObject::connect(&worker, &LinkWorker::linkFailed, &here,
                         [this](LinkFailure f) { failures.push_back(f); });
    }

    // Starts a simulator and the worker on its line.
    void Begin(const std::vector<std::string>& simOptions) {
        sim = std::make_unique<SimProcess>(simOptions);
        ASSERT_FALSE(sim->path().empty());
        std::string reason;
        ASSERT_TRUE(worker.Start(OpenPort(sim->path()), &reason)) << reason;
    }

    // Destroyed in reverse: the worker stops first, then what its signals were queued to goes with them.
    std::unique_ptr<SimProcess> sim;
    std::vector<int> replies;
    std::vector<LinkFailure> failures;
    QObject here;
    LinkWorker worker;
};

TEST_F(LinkWorkerTest, BatteryRepliesFollowTheRobot) {
    auto levelFile = std::filesystem::temp_directory_path() / ("zanth_level_" + std::to_string(getpid()));
    std::ofstream(levelFile) << "70\n";
    auto start = Clock::now();
    Begin({"--level-file", levelFile.string()});
    worker.SetFrame(NeutralFrame(true), true);
    ASSERT_TRUE(RunUntil([&] { return !replies.empty(); }, 10000));
    // Nothing goes out before the opening discard and the first message's discard are over.
    EXPECT_GE(MsSince(start), 600);
    EXPECT_EQ(replies.front(), 70);
    EXPECT_EQ(sim->ReadLine(5000),
              "k FF FF FF 80 80 80 80 F3 | buttons: - | RX=128 RY=128 LX=128 LY=128 | LED on");

    std::ofstream(levelFile) << "61\n";
    EXPECT_TRUE(RunUntil([&] { return replies.back() == 61; }, 10000));
    worker.Stop(std::nullopt);
    EXPECT_TRUE(failures.empty());
    std::filesystem::remove(levelFile);
}

// "k" waits out its whole reply window, "K" opens none. Every wait lasts at least its time, so a loaded
// machine can only stretch the rhythm: the floor is the rule; the periods themselves are figures
// (bench/test_timing_figures.py).
TEST_F(LinkWorkerTest, CadenceFollowsTheReplyWindow) {
    for (bool replyWanted : {true, false}) {
        SCOPED_TRACE(replyWanted);
        SimProcess s({});
        ASSERT_FALSE(s.path().empty());
        std::vector<SentMessage> sent;
        int windows = 0;
        QObject context;
        LinkWorker w;
        QObject::connect(&w, &LinkWorker::messageSent, &context,
                         [&](const SentMessage& m) { sent.push_back(m); });
        QObject::connect(&w, &LinkWorker::replyRead, &context, [&](const ReplyRead&) { ++windows; });
        ASSERT_TRUE(w.Start(OpenPort(s.path())));
        w.SetFrame(NeutralFrame(true), replyWanted);
        ASSERT_TRUE(RunUntil([&] { return sent.size() >= 11; }, 20000));
        w.Stop(std::nullopt);
        const double meanMs = static_cast<double>(sent[10].sentAtUs - sent[0].sentAtUs) / 10000.0;
        const int floorMs = kFrameDiscardMs + (replyWanted ? kReplyTimeoutMs : 0);
        EXPECT_GE(meanMs, floorMs - 1);  // the clock is read after the write, which may be quick by a little
        EXPECT_EQ(windows > 0, replyWanted);
        RecordProperty(replyWanted ? "periodReplyMs" : "periodNoReplyMs", std::to_string(meanMs));
    }
}

// The answer is given on the link thread itself (a direct connection), so that the test does not depend on
// how fast this thread's event loop runs.
TEST_F(LinkWorkerTest, FrameWantedComesBeforeEachMessageAndItsAnswerGoesOut) {
    int asked = 0;
    QObject::connect(
        &worker, &LinkWorker::frameWanted, &worker,
        [&] {
            ControllerFrame frame = NeutralFrame(true);
            frame[3] = static_cast<std::uint8_t>(++asked);
            worker.SetFrame(frame, false);
        },
        Qt::DirectConnection);
    Begin({});
    ControllerFrame stale = NeutralFrame(true);
    stale[3] = 200;
    worker.SetFrame(stale, false);
    for (int i = 1; i <= 4; ++i) {
        std::string line = sim->ReadLine(5000);
        EXPECT_NE(line.find("RX=" + std::to_string(i) + " "), std::string::npos) << line;
    }
    worker.Stop(std::nullopt);
}

// The frames stop coming, as from a GUI thread that is stuck: the press goes off the wire by the link's own
// deadline, LED and command byte kept, and comes back with the next fresh frame.
TEST_F(LinkWorkerTest, StaleFrameGoesOutNeutralUntilFreshOnesCome) {
    ControllerFrame pressed = NeutralFrame(true);
    pressed[2] &= 0xFB;  // L1
    pressed[5] = 255;    // LX
    std::atomic<int> answers{3};
    QObject::connect(
        &worker, &LinkWorker::frameWanted, &worker,
        [&] {
            if (answers.fetch_sub(1) > 0) worker.SetFrame(pressed, true);
        },
        Qt::DirectConnection);
    Begin({});
    worker.SetFrame(pressed, true);
    auto held = [](const std::string& line) { return line.find("L1 |") != std::string::npos; };
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(held(sim->ReadLine(5000)));
    std::string line;
    for (int i = 0; i < 40 && (line.empty() || held(line)); ++i) line = sim->ReadLine(5000);
    EXPECT_EQ(line, "k FF FF FF 80 80 80 80 F3 | buttons: - | RX=128 RY=128 LX=128 LY=128 | LED on");
    EXPECT_EQ(sim->ReadLine(5000), line);  // and stays so

    answers = 1000;
    for (int i = 0; i < 5 && !held(line); ++i) line = sim->ReadLine(5000);
    EXPECT_TRUE(held(line)) << line;
    worker.Stop(std::nullopt);
}

// A halted link sends the neutral frame with the LED of the frame set, however fresh the frames; a stop
// holds it until cleared, whatever Halt says meanwhile (a tick that had not heard of the stop yet).
TEST_F(LinkWorkerTest, HaltAndStopSendNeutralWithTheFramesLed) {
    ControllerFrame pressed = NeutralFrame(false);
    pressed[2] &= 0xFB;  // L1
    QObject::connect(
        &worker, &LinkWorker::frameWanted, &worker, [&] { worker.SetFrame(pressed, true); },
        Qt::DirectConnection);
    Begin({});
    worker.SetFrame(pressed, true);
    const std::string neutral =
        "k FF FF FF 80 80 80 80 FB | buttons: - | RX=128 RY=128 LX=128 LY=128 | LED off";
    auto next = [&](auto wanted) {
        std::string line;
        for (int i = 0; i < 20 && !wanted(line); ++i) line = sim->ReadLine(5000);
        return line;
    };
    auto isNeutral = [&](const std::string& line) { return line == neutral; };
    auto isHeld = [](const std::string& line) { return line.find("L1 |") != std::string::npos; };
    EXPECT_TRUE(isHeld(next(isHeld)));
    worker.Halt(true);
    EXPECT_EQ(next(isNeutral), neutral);
    EXPECT_EQ(sim->ReadLine(5000), neutral);  // and stays so
    worker.StopNow();
    worker.Halt(false);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(sim->ReadLine(5000), neutral);
    worker.ClearStop();
    EXPECT_TRUE(isHeld(next(isHeld)));
    worker.Stop(std::nullopt);
}

// Told by how the discard ended, not by a stopwatch: on a loaded machine Stop may take long for other
// reasons.
TEST_F(LinkWorkerTest, StopDoesNotWaitOutTheOpeningDiscard) {
    const auto log = std::make_shared<test::StuckLog>();
    ASSERT_TRUE(worker.Start(std::make_unique<test::StuckPort>(log, test::Stuck::kAfterTheDriverTookIt)));
    worker.SetFrame(NeutralFrame(false), true);
    worker.Stop(NeutralFrame(true));
    std::lock_guard lock(log->mutex);
    EXPECT_EQ(log->discards, std::vector<PortResult::Status>{PortResult::Status::kWoken});
    // The final frame is the only message: the thread never got past its discard.
    EXPECT_EQ(log->writes, std::vector<WireMessage>{BuildMessage(NeutralFrame(true), false)});
}

double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

TEST_F(LinkWorkerTest, RobotLostMidRunIsReportedOnceWithoutSpinning) {
    Begin({});
    worker.SetFrame(NeutralFrame(true), true);
    ASSERT_TRUE(RunUntil([&] { return !replies.empty(); }, 10000));
    sim->Kill(SIGKILL);  // closes the pty master under the port
    ASSERT_TRUE(RunUntil([&] { return !failures.empty(); }, 10000));
    EXPECT_EQ(failures.front().kind, LinkFailure::Kind::kUnplugged) << failures.front().detail;
    EXPECT_EQ(failures.front().device, sim->path());

    // A thread spinning on the dead port burns its share of a core even on a busy machine (more than a
    // quarter with a few others running); a sleeping one next to nothing.
    double cpu = CpuMs();
    auto wall = Clock::now();
    RunUntil([] { return false; }, 500);
    EXPECT_LT(CpuMs() - cpu, static_cast<double>(MsSince(wall)) / 4);
    EXPECT_EQ(failures.size(), 1u);
    worker.Stop(NeutralFrame(true));  // the final frame has nowhere to go; must not hang or crash
}

TEST_F(LinkWorkerTest, LifecycleEdges) {
    LinkWorker idle;
    std::string reason;
    EXPECT_FALSE(idle.Start(nullptr, &reason));
    EXPECT_FALSE(reason.empty());
    idle.Stop(NeutralFrame(true));  // never started
    idle.Stop(std::nullopt);

    Begin({});
    EXPECT_TRUE(worker.IsRunning());
    // A second port while running is refused and closed, not leaked: the line can be opened again after.
    SimProcess other({});
    ASSERT_FALSE(other.path().empty());
    reason.clear();
    EXPECT_FALSE(worker.Start(OpenPort(other.path()), &reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_NE(OpenPort(other.path()), nullptr);

    worker.Stop(std::nullopt);
    worker.Stop(std::nullopt);
    EXPECT_TRUE(failures.empty());
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_NE(OpenPort(sim->path()), nullptr);  // closed by Stop
    // Restart on a fresh line.
    ASSERT_TRUE(worker.Start(OpenPort(other.path())));
    worker.SetFrame(NeutralFrame(true), true);
    EXPECT_TRUE(RunUntil([&] { return !replies.empty(); }, 10000));
    auto running = std::make_unique<LinkWorker>();
    ASSERT_TRUE(running->Start(OpenPort(sim->path())));
    running.reset();            // the destructor stops it
    worker.Stop(std::nullopt);  // before `other` goes away under it
}

}  // namespace
}  // namespace zanth
