// The link on ports that misbehave: a fake port that takes no output, and a pseudo-terminal whose master
// the test plays by hand.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "link/link_worker.h"
#include "link/serial_port.h"
#include "link_test_util.h"
#include "stuck_port.h"

namespace zanth {
namespace {

using test::Clock;
using test::MsSince;
using test::Pty;
using test::RunUntil;
using test::Stuck;
using test::StuckLog;
using test::StuckPort;
using Status = PortResult::Status;

// The final frame is tried unless half a message is ahead of it, which would garble it into a frame the
// operator never sent. The stuck calls take all they are given, so the time given on the way out is the
// time Stop spends there, whatever else holds the machine up.
TEST(LinkStop, ReturnsInTimeWhateverThePortDoesAndTriesTheFinalFrame) {
    struct Case {
        const char* name;
        Stuck stuck;
        bool afterFailure;
        bool outlives;  // then nothing on the way out is worth a wait: a peer not reading would not read it
    };
    const Case cases[] = {
        {"write never completes", Stuck::kBeforeTheMessage, false, false},
        {"output never leaves", Stuck::kAfterTheDriverTookIt, false, false},
        {"stall already reported", Stuck::kBeforeTheMessage, true, false},
        {"half a message out", Stuck::kHalfwayThrough, true, false},
        {"a socket that takes nothing", Stuck::kBeforeTheMessage, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto log = std::make_shared<StuckLog>();
        std::vector<LinkFailure> failures;
        QObject context;
        LinkWorker worker;
        QObject::connect(&worker, &LinkWorker::linkFailed, &context,
                         [&](LinkFailure f) { failures.push_back(f); });
        // Answered fresh before every message, as the session does, so that the stuck message is this frame.
        const ControllerFrame held{0xFF, 0xFF, 0xFB, 0x80, 0x80, 0x10, 0x80, 0xF3};
        QObject::connect(
            &worker, &LinkWorker::frameWanted, &worker, [&] { worker.SetFrame(held, false); },
            Qt::DirectConnection);
        ASSERT_TRUE(worker.Start(std::make_unique<StuckPort>(log, c.stuck, c.outlives)));
        worker.SetFrame(held, false);
        ASSERT_TRUE(RunUntil([&] { return c.afterFailure ? !failures.empty() : log->stuck.load(); }, 10000));
        if (c.afterFailure) {
            EXPECT_EQ(failures.front().kind, LinkFailure::Kind::kStalled);
            EXPECT_EQ(failures.front().device, "/dev/stuck0");
        }

        auto start = Clock::now();
        worker.Stop(NeutralFrame(true));
        EXPECT_LT(MsSince(start), kStopBudgetMs + test::kStallMs);
        EXPECT_TRUE(log->destroyed);
        std::lock_guard lock(log->mutex);
        int waited = 0;
        for (int ms : log->wayOutMs) waited += ms;
        EXPECT_LE(waited, c.outlives ? 0 : kStopBudgetMs);
        ASSERT_FALSE(log->writes.empty());
        bool triedFinal = log->writes.back() == BuildMessage(NeutralFrame(true), false);
        EXPECT_EQ(triedFinal, c.stuck != Stuck::kHalfwayThrough);
    }
}

class LinkOnPty : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(pty.name.empty());
        std::string reason;
        port = SerialPort::Open(pty.name, &reason);
        ASSERT_NE(port, nullptr) << reason;
        QObject::connect(&worker, &LinkWorker::batteryReply, &here, [this](int v) { replies.push_back(v); });
    }
    void TearDown() override { worker.Stop(std::nullopt); }

    Pty pty{true};
    std::unique_ptr<SerialPort> port;
    std::vector<int> replies;
    QObject here;  // the link's signals are queued to this thread
    LinkWorker worker;
};

// "B" alone is no reply; only a read that waits for the rest sees the value.
TEST_F(LinkOnPty, ReplyInPiecesWithinTheWindowIsRead) {
    std::atomic<bool> done{false};
    std::thread robot([&] {
        while (!done) {
            if (pty.Receive(9, 100).size() != 9) continue;
            pty.Send({'B'});
            std::this_thread::sleep_for(std::chrono::milliseconds(8));
            pty.Send({'B', ' ', '6', '5', ' '});
        }
    });
    ASSERT_TRUE(worker.Start(std::move(port)));
    worker.SetFrame(NeutralFrame(true), true);
    EXPECT_TRUE(RunUntil([&] { return !replies.empty(); }, 10000));
    worker.Stop(std::nullopt);
    done = true;
    robot.join();
    for (int value : replies) EXPECT_EQ(value, 65);
}

// A line that floods bytes which are never a battery reply; with `answerEvery` > 0 it pauses the flood to
// answer every so many "k" messages properly.
class FloodingRobot {
  public:
    explicit FloodingRobot(int answerEvery) : answerEvery_(answerEvery) {
        fcntl(pty_.master, F_SETFL, fcntl(pty_.master, F_GETFL) | O_NONBLOCK);
        thread_ = std::thread([this] { Run(); });
    }
    ~FloodingRobot() {
        done_ = true;
        thread_.join();
    }
    const std::string& name() const { return pty_.name; }

  private:
    void Run() {
        const test::Bytes garbage(64, 0x55);
        const test::Bytes reply = {'B', 'B', ' ', '6', '5', ' '};
        int asked = 0;
        Clock::time_point quietUntil;
        while (!done_) {
            pollfd p{pty_.master, POLLIN, 0};
            if (poll(&p, 1, 5) > 0) {
                std::uint8_t in[256];
                const ssize_t got = read(pty_.master, in, sizeof in);
                for (ssize_t i = 0; i < got; ++i) {
                    if (in[i] != 'k' || answerEvery_ == 0 || ++asked % answerEvery_ != 0) continue;
                    pty_.Send(reply);
                    quietUntil = Clock::now() + std::chrono::milliseconds(40);
                }
            }
            if (Clock::now() >= quietUntil) pty_.Send(garbage);
        }
    }

    Pty pty_{true};
    const int answerEvery_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// A peer that only ever sends garbage is given up on (and looked for again by the session, as any lost
// port); one that answers now and then among the garbage keeps its link, however long the other took.
TEST(LinkGarbage, APeerSendingOnlyGarbageIsDroppedOneAnsweringNowAndThenIsNot) {
    struct Link {
        FloodingRobot robot;
        std::vector<LinkFailure> failures;
        int replies = 0;
        QObject here;
        LinkWorker worker;
        explicit Link(int answerEvery) : robot(answerEvery) {}
    };
    Link garbageOnly(0), answering(4);
    for (Link* link : {&garbageOnly, &answering}) {
        ASSERT_FALSE(link->robot.name().empty());
        QObject::connect(&link->worker, &LinkWorker::linkFailed, &link->here,
                         [link](LinkFailure f) { link->failures.push_back(f); });
        QObject::connect(&link->worker, &LinkWorker::batteryReply, &link->here,
                         [link](int) { ++link->replies; });
        std::string reason;
        auto port = SerialPort::Open(link->robot.name(), &reason);
        ASSERT_NE(port, nullptr) << reason;
        ASSERT_TRUE(link->worker.Start(std::move(port)));
        link->worker.SetFrame(NeutralFrame(true), true);
    }
    ASSERT_TRUE(RunUntil([&] { return !garbageOnly.failures.empty(); }, 20000));
    EXPECT_EQ(garbageOnly.failures.front().kind, LinkFailure::Kind::kGarbage);
    EXPECT_EQ(garbageOnly.failures.front().device, garbageOnly.robot.name());
    RunUntil([] { return false; }, 200);  // a failure of the other, queued meanwhile, arrives
    EXPECT_TRUE(answering.failures.empty());
    EXPECT_GT(answering.replies, 0);
    for (Link* link : {&garbageOnly, &answering}) link->worker.Stop(std::nullopt);
}

}  // namespace
}  // namespace zanth
