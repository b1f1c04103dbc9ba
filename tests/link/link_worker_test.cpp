#include "link/link_worker.h"

#include <gtest/gtest.h>
#include <time.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim_process.h"

namespace zanth {
namespace {

using test::SimProcess;
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Runs the event loop (so that queued signals from the link thread arrive) until `done` or `timeoutMs`.
template <typename Done>
bool RunUntil(Done done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

class LinkWorkerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "zanth_link_tests";
        static char* argv[] = {name, nullptr};
        if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
    }

    // Starts a simulator and the worker on its line, recording what the worker signals.
    void Begin(const std::vector<std::string>& simOptions) {
        sim = std::make_unique<SimProcess>(simOptions);
        ASSERT_FALSE(sim->path().empty());
        std::string reason;
        PortHandle port = ComOpenNoDiscard(sim->path(), 115200, 8, 0, &reason);
        ASSERT_NE(port, nullptr) << reason;
        QObject::connect(&worker, &LinkWorker::batteryReply, [this](int v) { replies.push_back(v); });
        QObject::connect(&worker, &LinkWorker::linkError, [this](const QString& r) { errors.push_back(r); });
        ASSERT_TRUE(worker.Start(port));
    }

    std::unique_ptr<SimProcess> sim;
    LinkWorker worker;
    std::vector<int> replies;
    std::vector<QString> errors;
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
    EXPECT_TRUE(errors.empty());
    std::filesystem::remove(levelFile);
}

TEST_F(LinkWorkerTest, StopSendsTheFinalFrameLast) {
    Begin({});
    const ControllerFrame moving = {0xFF, 0xFF, 0xFB, 0x80, 0x80, 0x10, 0x80, 0xF3};  // L1 held, stick left
    worker.SetFrame(moving, false);
    ASSERT_TRUE(RunUntil([&] { return worker.MessagesSent() >= 2; }, 10000));
    worker.Stop(NeutralFrame(true));
    EXPECT_FALSE(worker.IsRunning());

    int status = -1;
    std::vector<std::string> lines = sim->LinesUntilExit(5000, &status);
    EXPECT_EQ(status, 0);  // it saw the line close
    ASSERT_GE(lines.size(), 3u);
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
        EXPECT_EQ(lines[i].substr(0, 26), "K FF FF FB 80 80 10 80 F3 ");
    EXPECT_EQ(lines.back().substr(0, 26), "K FF FF FF 80 80 80 80 F3 ");
    EXPECT_TRUE(replies.empty());  // "K" asks for nothing
}

TEST_F(LinkWorkerTest, StopDoesNotWaitOutTheOpeningDiscard) {
    Begin({});
    worker.SetFrame(NeutralFrame(false), true);
    auto start = Clock::now();
    worker.Stop(NeutralFrame(true));
    EXPECT_LT(MsSince(start), 450);
    // The final frame is the only message: the thread never got past its discard.
    EXPECT_EQ(worker.MessagesSent(), 1u);
    EXPECT_EQ(sim->ReadLine(5000).substr(0, 26), "K FF FF FF 80 80 80 80 F3 ");
}

TEST_F(LinkWorkerTest, UnansweredOrGarbledRequestsKeepTheRhythm) {
    for (const char* option : {"--silent", "--garbage"}) {
        SCOPED_TRACE(option);
        LinkWorker w;
        int replyCount = 0;
        QObject::connect(&w, &LinkWorker::batteryReply, [&](int) { ++replyCount; });
        SimProcess s({option});
        ASSERT_FALSE(s.path().empty());
        ASSERT_TRUE(w.Start(ComOpenNoDiscard(s.path(), 115200, 8, 0)));
        w.SetFrame(NeutralFrame(true), true);
        EXPECT_TRUE(RunUntil([&] { return w.MessagesSent() >= 3; }, 10000));
        w.Stop(std::nullopt);
        EXPECT_EQ(replyCount, 0);
    }
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
    sim->Kill(SIGKILL);
    ASSERT_TRUE(RunUntil([&] { return !errors.empty(); }, 10000));
    EXPECT_FALSE(errors.front().isEmpty());

    // A thread spinning on the dead port would burn the whole window in CPU time.
    double cpu = CpuMs();
    auto wall = Clock::now();
    RunUntil([] { return false; }, 300);
    EXPECT_LT(CpuMs() - cpu, static_cast<double>(MsSince(wall)) / 2);
    EXPECT_EQ(errors.size(), 1u);

    auto start = Clock::now();
    worker.Stop(NeutralFrame(true));  // the final frame has nowhere to go; must not hang or crash
    EXPECT_LT(MsSince(start), 5000);
}

TEST_F(LinkWorkerTest, LifecycleEdges) {
    LinkWorker idle;
    EXPECT_FALSE(idle.Start(nullptr));
    idle.Stop(NeutralFrame(true));  // never started
    idle.Stop(std::nullopt);

    Begin({});
    EXPECT_TRUE(worker.IsRunning());
    // A second port while running is refused and closed, not leaked: the line can be opened again after.
    SimProcess other({});
    ASSERT_FALSE(other.path().empty());
    EXPECT_FALSE(worker.Start(ComOpenNoDiscard(other.path(), 115200, 8, 0)));
    PortHandle again = ComOpenNoDiscard(other.path(), 115200, 8, 0);
    EXPECT_NE(again, nullptr);
    ComClose(again);

    worker.Stop(std::nullopt);
    worker.Stop(std::nullopt);
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(worker.IsRunning());
    // Restart on a fresh line.
    ASSERT_TRUE(worker.Start(ComOpenNoDiscard(other.path(), 115200, 8, 0)));
    worker.SetFrame(NeutralFrame(true), true);
    EXPECT_TRUE(RunUntil([&] { return !replies.empty(); }, 10000));
    LinkWorker* running = new LinkWorker;
    ASSERT_TRUE(running->Start(ComOpenNoDiscard(sim->path(), 115200, 8, 0)));
    delete running;             // the destructor stops it
    worker.Stop(std::nullopt);  // before `other` goes away under it
}

}  // namespace
}  // namespace zanth
