// What the user does to the clients (a new key, Remove, Ask) and what each client is told of its own holds.
#include <gtest/gtest.h>

#include <QDir>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "server_fixture.h"

namespace zanth {
namespace {

QStringList Mine(const Client& c) {
    QStringList names;
    for (const QJsonValue& v : RemoteServerTest::Last(c, "state").value("mine").toArray())
        names << v.toString();
    return names;
}

TEST_F(RemoteServerTest, ANewKeyEndsEveryClientAndOnlyTheNewKeyOpens) {
    auto a = Greeted();
    auto b = Greeted();
    server_.SetKey(QString(32, 'a'));
    for (Client* c : {a.get(), b.get()}) {
        ASSERT_TRUE(c->Heard("refused"));
        EXPECT_EQ(Last(*c, "refused").value("reason").toString(), QStringLiteral("token"));
        EXPECT_TRUE(WaitFor([&] { return c->closed; }));
    }
    EXPECT_EQ(server_.status().token, QString(32, 'a'));
    EXPECT_TRUE(server_.status().pageUrls.first().endsWith(QString(32, 'a')));
    token_ = QString(32, 'a');
    auto fresh = Greeted();
    EXPECT_EQ(server_.clientCount(), 1);
}

TEST_F(RemoteServerTest, RemoveEndsThatClientOnly) {
    auto a = Greeted();
    auto b = Greeted();
    ASSERT_EQ(server_.status().clients.size(), 2);
    server_.RemoveClient(server_.status().clients.first().id);
    ASSERT_TRUE(WaitFor([&] { return a->closed || b->closed; }));
    Client& gone = a->closed ? *a : *b;
    Client& kept = a->closed ? *b : *a;
    EXPECT_EQ(Last(gone, "refused").value("reason").toString(), QStringLiteral("denied"));
    kept.Say(R"({"type":"press","item":"L1"})");
    EXPECT_TRUE(WaitFor([&] { return Holds(kItemL1); }));
    EXPECT_FALSE(kept.closed);
}

class AskingServerTest : public RemoteServerTest {
  protected:
    AskingServerTest() { options_.ask = true; }
    // A client that gave the key and waits.
    std::unique_ptr<Client> Waiting(const char* name) {
        auto c = std::make_unique<Client>();
        c->Open(port_);
        EXPECT_TRUE(c->Connected());
        c->socket.sendTextMessage(
            QStringLiteral(R"({"v":1,"type":"hello","name":"%1","token":"%2"})").arg(name, token_));
        EXPECT_TRUE(c->Heard("waiting"));
        return c;
    }
    quint64 IdOf(const char* name) {
        for (const RemoteClientView& v : server_.status().clients)
            if (v.name == QLatin1String(name) && v.waiting) return v.id;
        return 0;
    }
};

TEST_F(AskingServerTest, ANewClientDrivesOnlyOnceAllowedAndADeniedOneIsTold) {
    auto pupil = Waiting("Pupil");
    auto stranger = Waiting("Stranger");
    ASSERT_TRUE(WaitFor([&] { return IdOf("Pupil") != 0 && IdOf("Stranger") != 0; }));
    pupil->Say(R"({"type":"press","item":"L1"})");
    pupil->Say(R"({"type":"ping"})");  // its pong says the press before it was read
    ASSERT_TRUE(pupil->Heard("pong"));
    EXPECT_EQ(server_.clientCount(), 0);
    server_.AnswerClient(IdOf("Pupil"), true);
    server_.AnswerClient(IdOf("Stranger"), false);
    ASSERT_TRUE(pupil->Heard("hello"));
    EXPECT_FALSE(Holds(kItemL1));  // what it said while waiting does not count
    pupil->Say(R"({"type":"press","item":"R1"})");
    EXPECT_TRUE(WaitFor([&] { return Holds(kItemR1); }));
    ASSERT_TRUE(stranger->Heard("refused"));
    EXPECT_EQ(Last(*stranger, "refused").value("reason").toString(), QStringLiteral("denied"));
    EXPECT_TRUE(WaitFor([&] { return stranger->closed; }));
    EXPECT_EQ(server_.clientCount(), 1);
}

TEST_F(AskingServerTest, AStopIsHeardOnceWithItsClientsNameAndNeverFromOneThatWaits) {
    std::vector<std::pair<quint64, std::string>> asked;
    QObject::connect(&server_, &RemoteServer::stopAsked,
                     [&](quint64 id, const QString& name) { asked.emplace_back(id, name.toStdString()); });
    const auto stopThenPing = [](Client& c) {
        c.heard.clear();
        c.Say(R"({"type":"stop"})");
        c.Say(R"({"type":"ping"})");
        return c.Heard("pong");
    };
    auto pupil = Waiting("Pupil");
    ASSERT_TRUE(WaitFor([&] { return IdOf("Pupil") != 0; }));
    const quint64 id = IdOf("Pupil");
    ASSERT_TRUE(stopThenPing(*pupil));
    server_.AnswerClient(id, true);
    ASSERT_TRUE(pupil->Heard("hello"));
    ASSERT_TRUE(stopThenPing(*pupil));
    ASSERT_TRUE(WaitFor([&] { return !asked.empty(); }));
    pupil->Say(R"({"type":"ping"})");  // anything queued behind the stop would have come by its pong
    ASSERT_TRUE(pupil->Heard("pong"));
    QCoreApplication::processEvents();
    EXPECT_EQ(asked, (std::vector<std::pair<quint64, std::string>>{{id, "Pupil"}}));
}

// The session's thread may be stuck in a file or a dialog: the stop is handed on from the server's own.
TEST_F(RemoteServerTest, AStopRunsTheHookWhileTheSessionsThreadIsBusy) {
    std::promise<void> hooked;
    server_.SetStopHook([&hooked] { hooked.set_value(); });
    auto c = Greeted();
    c->Say(R"({"type":"stop"})");
    c->socket.flush();
    EXPECT_EQ(hooked.get_future().wait_for(5s), std::future_status::ready);  // no events run meanwhile
}

TEST_F(RemoteServerTest, TheDriveStateReachesEveryClientAndANewOnesHello) {
    auto a = Greeted();
    auto b = Greeted();
    const auto drive = [](const QJsonObject& o) { return o.value("drive").toObject(); };
    EXPECT_FALSE(drive(Last(*a, "hello")).value("stopped").toBool());
    server_.SetDriveState({true, "remote client Pupil", "19:30:05", false, "Drive", "1:59"});
    for (Client* c : {a.get(), b.get()})
        EXPECT_TRUE(WaitFor([&] { return drive(Last(*c, "state")).value("stopped").toBool(); }));
    auto late = Greeted();
    const QJsonObject told = drive(Last(*late, "hello"));
    EXPECT_EQ(told.value("stopped_by").toString().toStdString(), "remote client Pupil");
    EXPECT_FALSE(told.value("enabled").toBool());
    EXPECT_EQ(told.value("match").toObject().value("time").toString().toStdString(), "1:59");
}

// A clock that ticks far finer than a second: each client still hears at most one time left a second.
TEST_F(RemoteServerTest, TheMatchTimeReachesAClientAtMostOnceASecond) {
    auto c = Greeted();
    QStringList times;
    QObject::connect(&c->socket, &QWebSocket::textMessageReceived, [&](const QString& t) {
        const QJsonValue match = QJsonDocument::fromJson(t.toUtf8()).object().value("drive")["match"];
        const QString time = match["time"].toString();
        if (match.isObject() && (times.isEmpty() || times.back() != time)) times.append(time);
    });
    const auto start = std::chrono::steady_clock::now();
    for (int tick = 0; std::chrono::steady_clock::now() - start < 2500ms; ++tick) {
        server_.SetDriveState({false, "", "", true, "Drive", std::to_string(tick)});
        WaitFor([] { return false; }, 10ms);  // the clock's pace, not a wait for anything
    }
    ASSERT_TRUE(WaitFor([&] { return times.size() >= 2; }));
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LE(times.size(), static_cast<qsizetype>(seconds) + 1) << times.join(' ').toStdString();
}

TEST_F(RemoteServerTest, EachClientHearsItsOwnHoldsAndWhyTheProgramLetGo) {
    auto a = Greeted();
    auto b = Greeted();
    a->Say(R"({"type":"press","item":"L1"})");
    b->Say(R"({"type":"press","item":"R1"})");
    ASSERT_TRUE(WaitFor([&] { return Mine(*a) == QStringList{"L1"} && Mine(*b) == QStringList{"R1"}; }));
    const std::pair<RemoteRelease, const char*> cases[] = {{RemoteRelease::kStopAll, "stop_all"},
                                                           {RemoteRelease::kDisconnect, "disconnect"}};
    for (const auto& [why, reason] : cases) {
        a->heard.clear();
        b->heard.clear();
        a->Say(R"({"type":"press","item":"L1"})");
        ASSERT_TRUE(WaitFor([&] { return Holds(kItemL1); }));
        server_.ReleaseAll(why);
        for (Client* c : {a.get(), b.get()}) {
            ASSERT_TRUE(c->Heard("released")) << reason;
            EXPECT_EQ(Last(*c, "released").value("reason").toString(), QLatin1String(reason));
            EXPECT_TRUE(WaitFor([&] { return c->Heard("state") && Mine(*c).isEmpty(); })) << reason;
        }
        EXPECT_FALSE(Holds(kItemL1));
    }
}

// Every file the page could load, asked again with the tag the browser kept: a reload of the whole page,
// pictures and all, costs a phone no more than 10 KB.
TEST_F(RemoteServerTest, AReloadOfEveryFileWeighsUnderTenKilobytes) {
    const auto get = [&](const QString& path, const QByteArray& tag) {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port_);
        if (!s.waitForConnected(5000)) return QByteArray();
        s.write("GET " + path.toLatin1() + " HTTP/1.1\r\nHost: " + Here() +
                "\r\nAccept-Encoding: gzip\r\nIf-None-Match: " + tag + "\r\n\r\n");
        QByteArray answer;
        WaitFor([&] {
            answer += s.readAll();
            return s.state() == QAbstractSocket::UnconnectedState;
        });
        return answer + s.readAll();
    };
    QStringList paths{"/"};
    for (const QString& name : QDir(":/remote").entryList(QDir::Files)) paths << "/" + name;
    for (int id = 129; id <= 177; ++id) paths << QStringLiteral("/art/%1.svg").arg(id);
    qsizetype reload = 0;
    for (const QString& path : paths) {
        const QByteArray first = get(path, "none");
        const qsizetype at = first.indexOf("ETag: ");
        ASSERT_GE(at, 0) << path.toStdString();
        const QByteArray tag = first.mid(at + 6, first.indexOf("\r\n", at) - at - 6);
        const QByteArray again = get(path, tag);
        EXPECT_TRUE(again.startsWith("HTTP/1.1 304")) << path.toStdString();
        reload += again.size();
    }
    EXPECT_LE(reload, 10 * 1024) << paths.size() << " files";
}

}  // namespace
}  // namespace zanth
