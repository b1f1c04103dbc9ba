// The last message of a dying process. Each case runs in a child process, since the last word is once per
// process and the crash ends it.
#include "link/emergency.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QtGlobal>
#include <atomic>
#include <csignal>
#include <functional>
#include <thread>

#include "link/link_worker.h"
#include "link/serial_port.h"
#include "link_test_util.h"

namespace zanth {
namespace {

using test::Bytes;

// Runs `body` in a child process; answers how it ended (the wait status).
int InChild(const std::function<void()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

// Everything the master side has read, until the line has been quiet for a while.
Bytes Drain(const test::Pty& pty) {
    return pty.Receive(1 << 20, 300);
}

Bytes Message(const ControllerFrame& frame) {
    const WireMessage m = BuildMessage(frame, false);
    return Bytes(m.begin(), m.end());
}

ControllerFrame WithL1(bool ledLit) {
    ControllerFrame frame = NeutralFrame(ledLit);
    frame[2] = static_cast<std::uint8_t>(~0x04);  // L1 held
    return frame;
}

// A link that has sent frames with L1 held and the LED as given, then the process dies by `die`.
void LinkThenDie(const std::string& device, bool ledLit, bool frameSet, const std::function<void()>& die) {
    emergency::InstallCrashHandlers();
    LinkWorker link;
    // Past the opening discard the link asks for the frame it would send now, and is answered fresh, as the
    // session answers it. Connected before the thread starts, which orders it before the thread's reads of
    // it.
    std::atomic<bool> asked{false};
    QObject::connect(
        &link, &LinkWorker::frameWanted, &link,
        [&] {
            asked = true;
            if (frameSet) link.SetFrame(WithL1(ledLit), false);
        },
        Qt::DirectConnection);
    if (!link.Start(SerialPort::Open(device, nullptr))) _exit(90);
    if (frameSet) {
        link.SetFrame(WithL1(ledLit), false);
        while (link.MessagesSent() < 2) usleep(10000);
    } else {
        while (!asked) usleep(10000);
    }
    die();
    _exit(91);
}

TEST(Emergency, CrashesAndFatalMessagesLeaveTheRobotWithTheNeutralFrame) {
    struct Case {
        const char* name;
        std::function<void()> die;
        int signal;
        bool ledLit;
        bool frameSet;
    };
    const Case cases[] = {
        {"SIGSEGV", [] { raise(SIGSEGV); }, SIGSEGV, true, true},
        {"SIGBUS", [] { raise(SIGBUS); }, SIGBUS, false, true},
        {"SIGFPE", [] { raise(SIGFPE); }, SIGFPE, true, true},
        {"SIGABRT", [] { abort(); }, SIGABRT, false, true},
        {"qFatal", [] { qFatal("a fatal message"); }, SIGABRT, true, true},
        // Nothing went out yet: a message of our making could surprise the robot.
        {"before the first frame", [] { raise(SIGSEGV); }, SIGSEGV, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::Pty pty(true);
        ASSERT_FALSE(pty.name.empty());
        const int status = InChild([&] { LinkThenDie(pty.name, c.ledLit, c.frameSet, c.die); });
        ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), c.signal);
        const Bytes wire = Drain(pty);
        if (!c.frameSet) {
            EXPECT_TRUE(wire.empty()) << wire.size() << " bytes";
            continue;
        }
        ASSERT_GE(wire.size(), 2u * kMessageBytes);
        EXPECT_EQ(Bytes(wire.begin(), wire.begin() + kMessageBytes), Message(WithL1(c.ledLit)));
        EXPECT_EQ(Bytes(wire.end() - kMessageBytes, wire.end()), Message(NeutralFrame(c.ledLit)));
    }
}

TEST(Emergency, TheLastWordFollowsAWholeMessageAndIsFinal) {
    test::Pty pty(true);
    ASSERT_FALSE(pty.name.empty());
    const int status = InChild([&] {
        const emergency::Token token = emergency::Publish(pty.slave);
        emergency::SetLed(token, true);
        std::atomic<bool> writing{false};
        // A message written in two pieces, with the last word asked for in between.
        std::thread link([&] {
            const emergency::WriteGate gate;
            if (!gate.open()) _exit(92);
            const Bytes m = Message(WithL1(false));
            if (write(pty.slave, m.data(), 4) != 4) _exit(93);
            writing = true;
            usleep(100000);
            if (write(pty.slave, m.data() + 4, m.size() - 4) != static_cast<ssize_t>(m.size() - 4)) _exit(93);
        });
        while (!writing) usleep(1000);
        if (!emergency::SendLastWord()) _exit(94);
        link.join();
        // Nothing may follow it, and its descriptor stays open under it.
        if (emergency::WriteGate().open()) _exit(95);
        if (emergency::Withdraw(token)) _exit(96);
        if (emergency::SendLastWord()) _exit(97);
    });
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    Bytes expected = Message(WithL1(false));
    const Bytes last = Message(NeutralFrame(true));
    expected.insert(expected.end(), last.begin(), last.end());
    EXPECT_EQ(Drain(pty), expected);
}

}  // namespace
}  // namespace zanth
