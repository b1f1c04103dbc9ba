// A client's silence is timed from when its bytes reached this machine, however long the server's thread took
// to read them: the thread is held still by a signal while the client's last words come in.
#include <gtest/gtest.h>
#include <semaphore.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QThread>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>

#include "model/controller_model.h"
#include "remote/remote_server.h"

namespace zanth {
namespace {

using namespace std::chrono_literals;

sem_t gHeld, gGo;

void HoldStill(int) {
    sem_post(&gHeld);
    while (sem_wait(&gGo) != 0 && errno == EINTR) {
    }
}

// The thread named `name` of this process, stopped in a signal handler until the end of the scope.
class Freeze {
  public:
    explicit Freeze(const QString& name) {
        sem_init(&gHeld, 0, 0);
        sem_init(&gGo, 0, 0);
        struct sigaction sa {};
        sa.sa_handler = HoldStill;
        sigaction(SIGUSR2, &sa, &old_);
        for (const QString& tid :
             QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(tid));
            if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name.toUtf8())
                sent_ = syscall(SYS_tgkill, getpid(), tid.toInt(), SIGUSR2) == 0;
        }
        timespec until{};
        clock_gettime(CLOCK_REALTIME, &until);
        until.tv_sec += 5;
        held_ = sent_ && sem_timedwait(&gHeld, &until) == 0;
    }
    ~Freeze() {
        if (sent_) sem_post(&gGo);
        sigaction(SIGUSR2, &old_, nullptr);
    }
    bool held() const { return held_; }

  private:
    struct sigaction old_ {};
    bool sent_ = false;
    bool held_ = false;
};

QByteArray Frame(const QByteArray& text) {
    return QByteArray(1, '\x81') + QByteArray(1, static_cast<char>(0x80 | text.size())) +
           QByteArray(4, '\0') + text;
}

// Reads until `what` has come, or the socket closes, or a generous limit.
bool Hear(QTcpSocket& s, const QByteArray& what) {
    QByteArray got;
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (!got.contains(what) && std::chrono::steady_clock::now() < end) {
        if (s.bytesAvailable() == 0 && !s.waitForReadyRead(100) &&
            s.state() != QAbstractSocket::ConnectedState)
            return false;
        got += s.readAll();
    }
    return got.contains(what);
}

TEST(RemoteArrival, APressReadOnlyAfterTheSilenceLimitHoldsNothing) {
    ControllerModel model;
    RemoteServer server;
    ASSERT_TRUE(server.Start({0, false}, BuildRemoteHello(model, "1"), Language::kEnglish, nullptr));
    const RemoteStatus s = server.status();
    QTcpSocket raw;
    raw.connectToHost(QHostAddress::LocalHost, s.port);
    ASSERT_TRUE(raw.waitForConnected(5000));
    raw.write("GET /ws HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(s.port) +
              "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    ASSERT_TRUE(Hear(raw, "\r\n\r\n"));
    raw.write(Frame(QStringLiteral(R"({"v":1,"type":"hello","token":"%1"})").arg(s.token).toUtf8()));
    ASSERT_TRUE(Hear(raw, "\"hello\""));
    {
        Freeze freeze(QStringLiteral("remote"));
        ASSERT_TRUE(freeze.held());
        raw.write(Frame(R"({"type":"press","item":"L1"})") + Frame(R"({"type":"ping"})"));
        ASSERT_TRUE(raw.waitForBytesWritten(5000));
        // Held past the limit: by the time the press is read, its client has been silent too long.
        const auto said = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() <
               said + std::chrono::milliseconds(RemoteServer::kSilenceMs) + 100ms)
            QThread::msleep(5);
    }
    ASSERT_TRUE(Hear(raw, "pong"));
    EXPECT_FALSE(server.Input().items.test(kItemL1));
    // Nor does it come back as a tap: the press is as late for the robot as the hold.
    EXPECT_FALSE(server.TakePresses().test(kItemL1));
}

}  // namespace
}  // namespace zanth
