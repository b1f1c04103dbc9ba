// The server under its clients: real sockets on the loopback addresses, the server on its own thread.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QWebSocket>
#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "model/controller_model.h"
#include "remote/remote_server.h"
#include "server_fixture.h"

namespace zanth {
namespace {

using namespace std::chrono_literals;

TEST_F(RemoteServerTest, TheTokenOpensTheApiAndAnythingElseFirstClosesIt) {
    auto good = Greeted();
    EXPECT_TRUE(good->Heard("state"));
    EXPECT_EQ(server_.clientCount(), 1);
    // A page is told in words it can show (a stale key, another version); a stranger gets an error.
    struct Case {
        QString first;
        RemoteRefusal refusal;
        const char* told;
        const char* reason;
    };
    const Case cases[] = {
        {QStringLiteral(R"({"v":1,"type":"hello","token":"%1"})").arg(QString(32, '0')),
         RemoteRefusal::kToken, "refused", "token"},
        // Right but for its last character: every character counts.
        {QStringLiteral(R"({"v":1,"type":"hello","token":"%1"})")
             .arg(token_.left(31) + (token_.endsWith('0') ? '1' : '0')),
         RemoteRefusal::kToken, "refused", "token"},
        {QStringLiteral(R"({"v":1,"type":"hello","token":"%1"})").arg(token_.left(31)), RemoteRefusal::kToken,
         "refused", "token"},
        {QStringLiteral(R"({"v":2,"type":"hello","token":"%1"})").arg(token_), RemoteRefusal::kNoHello,
         "refused", "version"},
        {QStringLiteral(R"({"type":"press","item":"L1"})"), RemoteRefusal::kNoHello, "error", nullptr},
        {QStringLiteral("{"), RemoteRefusal::kNoHello, "error", nullptr}};
    for (const Case& c : cases) {
        Client bad;
        bad.Open(port_);
        ASSERT_TRUE(bad.Connected());
        bad.socket.sendTextMessage(c.first);
        EXPECT_TRUE(WaitFor([&] { return bad.closed; })) << c.first.toStdString();
        EXPECT_TRUE(bad.Heard(c.told)) << c.first.toStdString();
        if (c.reason) {
            EXPECT_EQ(Last(bad, "refused").value("reason").toString(), QLatin1String(c.reason));
        }
        EXPECT_TRUE(Refused(c.refusal));
    }
    EXPECT_EQ(server_.clientCount(), 1);
}

TEST_F(RemoteServerTest, OnlyTheServersOwnOriginAndHostGetThrough) {
    Client foreign(QStringLiteral("http://127.0.0.1:9"));
    foreign.Open(port_);
    EXPECT_FALSE(foreign.Connected());
    EXPECT_TRUE(Refused(RemoteRefusal::kOrigin));
    Client own(QStringLiteral("http://") + QString::fromLatin1(Here()));
    own.Open(port_);
    EXPECT_TRUE(own.Connected());

    EXPECT_EQ(Get("/", Here()), "HTTP/1.1 200 OK");
    EXPECT_EQ(Get("/art/130.svg", "localhost:" + QByteArray::number(port_)), "HTTP/1.1 200 OK");
    EXPECT_EQ(Get("/secret", Here()), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(Get("/", "rebound.example:" + QByteArray::number(port_)), "HTTP/1.1 403 Forbidden");
    EXPECT_TRUE(Refused(RemoteRefusal::kHost));
}

TEST_F(RemoteServerTest, BadFramesGetAnErrorAndTheThirdClosesTheSocket) {
    auto c = Greeted();
    c->Say(R"({"type":"press","item":"L1"})");
    c->Say("not json");
    c->socket.sendBinaryMessage("\x01\x02");
    ASSERT_TRUE(c->Heard("error"));
    EXPECT_FALSE(c->closed);
    EXPECT_TRUE(WaitFor([&] { return Holds(kItemL1); }));
    c->Say(R"({"type":"press","item":"NOPE"})");
    EXPECT_TRUE(WaitFor([&] { return c->closed; }));
    EXPECT_TRUE(Refused(RemoteRefusal::kBadMessages));
    // Its press went with it.
    EXPECT_TRUE(WaitFor([&] { return !Holds(kItemL1); }));
}

TEST_F(RemoteServerTest, AHugeFrameAndAFloodAreDroppedAndOthersKeepTheirInput) {
    auto keeper = Greeted();
    keeper->Say(R"({"type":"press","item":"R1"})");
    ASSERT_TRUE(WaitFor([&] { return Holds(kItemR1); }));

    // The limits a script relies on: a message of 4096 bytes, and 200 messages a second.
    const auto sized = [](int bytes) {
        QByteArray m = R"({"type":"ping")";
        return m.append(QByteArray(bytes - m.size() - 1, ' ')).append('}');
    };
    auto huge = Greeted();
    huge->Say(sized(4096).constData());
    EXPECT_TRUE(huge->Heard("pong"));
    huge->Say(sized(4097).constData());
    EXPECT_TRUE(WaitFor([&] { return huge->closed; }));
    EXPECT_TRUE(Refused(RemoteRefusal::kFrameTooLarge));

    auto burst = Greeted();
    for (int i = 0; i < 190; ++i) burst->Say(R"({"type":"ping"})");
    burst->Say(R"({"type":"press","item":"L1"})");
    EXPECT_TRUE(WaitFor([&] { return Holds(kItemL1); }));
    EXPECT_FALSE(burst->closed);

    auto flood = Greeted();
    for (int i = 0; i < 600; ++i) flood->Say(R"({"type":"ping"})");
    EXPECT_TRUE(WaitFor([&] { return flood->closed; }));
    EXPECT_TRUE(Refused(RemoteRefusal::kFlood));

    keeper->Say(R"({"type":"ping"})");
    EXPECT_TRUE(keeper->Heard("pong"));
    EXPECT_TRUE(Holds(kItemR1));
}

TEST_F(RemoteServerTest, FiftyConnectionsAtOnceGetNoMoreThanTheLimit) {
    auto first = Greeted();
    first->Say(R"({"type":"press","item":"L2"})");
    std::vector<std::unique_ptr<Client>> crowd;
    for (int i = 0; i < 50; ++i) {
        crowd.push_back(std::make_unique<Client>());
        crowd.back()->Open(port_);
    }
    // Every one is answered: connected, or turned away.
    ASSERT_TRUE(WaitFor([&] {
        return std::all_of(crowd.begin(), crowd.end(), [](const auto& c) {
            return c->socket.state() == QAbstractSocket::ConnectedState || c->closed ||
                   c->socket.state() == QAbstractSocket::UnconnectedState;
        });
    }));
    for (auto& c : crowd)
        if (c->socket.state() == QAbstractSocket::ConnectedState) c->Hello(token_);
    WaitFor([&] { return server_.clientCount() >= 8; });
    EXPECT_LE(server_.clientCount(), 8);
    EXPECT_TRUE(Refused(RemoteRefusal::kTooManyClients));
    EXPECT_TRUE(Holds(kItemL2));
    // One that said hello too many is told why, with the limit, before it is closed.
    const auto refusedOne = [&] {
        return std::find_if(crowd.begin(), crowd.end(),
                            [](const auto& c) { return !Last(*c, "refused").isEmpty(); });
    };
    ASSERT_TRUE(WaitFor([&] { return refusedOne() != crowd.end(); }));
    const auto told = refusedOne();
    const QJsonObject refused = Last(**told, "refused");
    EXPECT_EQ(refused.value("reason").toString(), QStringLiteral("full"));
    EXPECT_EQ(refused.value("limit").toInt(), 8);
    EXPECT_TRUE(WaitFor([&] { return (*told)->closed; }));
}

TEST_F(RemoteServerTest, SilenceReleasesAndASpeakerAfterwardsDoesNotGetItsPressBack) {
    auto c = Greeted();
    // Silence counts from when the words reached this machine, which may be well before the server read them.
    const auto said = std::chrono::steady_clock::now();
    c->Say(R"({"type":"press","item":"L1"})");
    c->Say(R"({"type":"sticks","lx":1})");
    ASSERT_TRUE(WaitFor([&] { return Holds(kItemL1); }));
    ASSERT_TRUE(WaitFor([&] { return !Holds(kItemL1); }));
    EXPECT_GE(std::chrono::steady_clock::now() - said,
              std::chrono::milliseconds(RemoteServer::kSilenceMs) - 50ms);
    EXPECT_EQ(server_.Input().sticks[0].value, 128);
    c->Say(R"({"type":"ping"})");
    ASSERT_TRUE(c->Heard("pong"));
    EXPECT_FALSE(Holds(kItemL1));
    ASSERT_TRUE(c->Heard("released"));
    EXPECT_EQ(Last(*c, "released").value("reason").toString(), QStringLiteral("silence"));
}

TEST_F(RemoteServerTest, AClosedSocketAndReleaseAllLetGo) {
    auto a = Greeted();
    auto b = Greeted();
    a->Say(R"({"type":"press","item":"L1"})");
    b->Say(R"({"type":"press","item":"R1"})");
    ASSERT_TRUE(WaitFor([&] { return Holds(kItemL1) && Holds(kItemR1); }));
    a->socket.close();
    EXPECT_TRUE(WaitFor([&] { return !Holds(kItemL1); }));
    server_.ReleaseAll();
    EXPECT_FALSE(Holds(kItemR1));
}

TEST_F(RemoteServerTest, StrangersWithoutHelloHoldNoPlaceAndGoAfterASecond) {
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < RemoteServer::kMaxWaitingPerAddress + RemoteServer::kMaxClients; ++i) {
        idle.push_back(std::make_unique<RawClient>(port_));
        if (i % 2 == 1) {
            ASSERT_TRUE(idle.back()->Upgrade(port_));  // a WebSocket that says nothing
        }
    }
    auto mute = std::make_unique<Client>();
    mute->Open(port_);
    // Every place is still there for clients that say hello, from the same address.
    std::vector<std::unique_ptr<Client>> real;
    for (int i = 0; i < RemoteServer::kMaxClients; ++i) real.push_back(Greeted());
    EXPECT_EQ(server_.clientCount(), RemoteServer::kMaxClients);
    EXPECT_TRUE(WaitFor([&] {
        return mute->closed && std::all_of(idle.begin(), idle.end(), [](const auto& c) { return c->closed; });
    }));
    EXPECT_TRUE(Refused(RemoteRefusal::kNoHello));
    EXPECT_EQ(server_.clientCount(), RemoteServer::kMaxClients);
    // The burst of refusals is one row of the monitor per reason.
    for (RemoteRefusal r : {RemoteRefusal::kNoHello, RemoteRefusal::kTooManyClients})
        EXPECT_LE(refusals_.count(r), 1) << static_cast<int>(r);
}

// A phone out of range sends no FIN: its place and its "Remote: N" must not wait for TCP to give up.
TEST_F(RemoteServerTest, AGreetedClientSilentForLongIsClosedAndItsPlaceFreed) {
    RawClient raw(port_);
    ASSERT_TRUE(raw.Upgrade(port_));
    // Timed from before the hello left: the server heard it later still.
    const auto said = std::chrono::steady_clock::now();
    raw.Hello(token_);
    ASSERT_TRUE(WaitFor([&] { return server_.clientCount() == 1; }));
    EXPECT_TRUE(WaitFor([&] { return server_.clientCount() == 0; }, 10s + 5s));
    EXPECT_GE(std::chrono::steady_clock::now() - said, 10s);
}

TEST_F(RemoteServerTest, FramesQtTakesInSilenceArePaidForToo) {
    struct Case {
        const char* what;
        bool greet;
        QByteArray frame;
        int count;
    };
    const QByteArray ping = Frame(9, {});
    const Case cases[] = {
        {"pings before hello", false, ping, 8},
        {"bytes before hello", false, Frame(9, QByteArray(100, 'p')), 45},
        {"empty continuations", true, Frame(0, {}, false), 2000},
        {"pings", true, ping, 2000},
    };
    for (const Case& c : cases) {
        RawClient raw(port_);
        ASSERT_TRUE(raw.Upgrade(port_));
        if (c.greet) {
            raw.Hello(token_);
            ASSERT_TRUE(WaitFor([&] { return server_.clientCount() == 1; })) << c.what;
            raw.socket.write(Frame(1, R"({"type":"press","item":"L1"})", false));
        }
        for (int i = 0; i < c.count; ++i) raw.socket.write(c.frame);
        EXPECT_TRUE(WaitFor([&] { return raw.closed; })) << c.what;
        EXPECT_TRUE(WaitFor([&] { return server_.clientCount() == 0; })) << c.what;
    }
    EXPECT_TRUE(Refused(RemoteRefusal::kFlood));
}

// Stopping, switching LAN mode and closing with every kind of connection still open: none of them may touch
// what the server has freed (the address sanitizer build tells).
TEST(RemoteServerEnd, StopsWhateverItsConnectionsAreDoing) {
    enum class Kind { kIdle, kHalfHead, kGreeted, kNeverReads };
    enum class End { kStop, kLan, kClose };
    for (Kind kind : {Kind::kIdle, Kind::kHalfHead, Kind::kGreeted, Kind::kNeverReads}) {
        for (End end : {End::kStop, End::kLan, End::kClose}) {
            ControllerModel model;
            auto server = std::make_unique<RemoteServer>();
            ASSERT_TRUE(server->Start({0, false}, BuildRemoteHello(model, "1"), Language::kEnglish, nullptr));
            const RemoteStatus s = server->status();
            RawClient raw(s.port, false);
            ASSERT_TRUE(raw.connected);
            if (kind == Kind::kHalfHead) raw.socket.write("GET / HTTP/1.1\r\nHo");
            if (kind == Kind::kNeverReads) {
                ASSERT_TRUE(raw.Upgrade(s.port));
                raw.Hello(s.token);
            }
            Client greeted;  // accepted after the raw one, so that one is in the server's hands too
            greeted.Open(s.port);
            ASSERT_TRUE(greeted.Connected());
            greeted.Hello(s.token);
            ASSERT_TRUE(greeted.Heard("hello"));
            if (kind == Kind::kNeverReads) {
                ASSERT_TRUE(WaitFor([&] { return server->clientCount() == 2; }));
            }
            if (end == End::kStop) server->Stop();
            if (end == End::kLan) {
                ASSERT_TRUE(server->Start({0, true}, {}, Language::kEnglish, nullptr));
            }
            if (end == End::kClose) server.reset();
            EXPECT_TRUE(WaitFor([&] { return greeted.closed; }));
            EXPECT_TRUE(!server || server->clientCount() == 0);
        }
    }
}

TEST(RemoteServerLan, ListensOnEveryAddressAndStillChecksTheToken) {
    ControllerModel model;
    RemoteServer server;
    ASSERT_TRUE(server.Start({0, true}, BuildRemoteHello(model, "1"), Language::kEnglish, nullptr));
    const RemoteStatus s = server.status();
    EXPECT_TRUE(s.lan);
    EXPECT_EQ(s.token.size(), 32);
    Client c;
    c.Open(s.port);
    ASSERT_TRUE(c.Connected());
    c.Hello(s.token);
    EXPECT_TRUE(c.Heard("hello"));
    // A second server cannot have the same port, and says so.
    RemoteServer second;
    QString reason;
    EXPECT_FALSE(second.Start({s.port, false}, {}, Language::kEnglish, &reason));
    EXPECT_FALSE(reason.isEmpty());
}

}  // namespace
}  // namespace zanth
