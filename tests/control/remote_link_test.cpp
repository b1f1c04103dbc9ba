// A remote client's input on the wire: the simulator on a pseudo-terminal hears it like a key's, and stops
// hearing it soon after the client falls silent.
#include <QWebSocket>

#include "link/frame.h"
#include "link_session.h"

namespace zanth::test {
namespace {

class RemoteLinkTest : public LinkSessionTest {
  protected:
    // A client that said hello to the session's server.
    void Greet() {
        // The link is sending: a press from now on rides the next message.
        ASSERT_TRUE(Drive([&] { return !sent_.empty(); }, 5s));
        QString reason;
        ASSERT_TRUE(session_->StartRemote({0, false}, &reason)) << reason.toStdString();
        const RemoteStatus s = session_->remoteStatus();
        client_.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(s.port)));
        ASSERT_TRUE(Drive([&] { return client_.state() == QAbstractSocket::ConnectedState; }, 5s));
        Say(QStringLiteral(R"({"v":1,"type":"hello","name":"test","token":"%1"})").arg(s.token));
        ASSERT_TRUE(Drive([&] { return session_->state().remoteClients == 1; }, 5s));
    }
    void Say(const QString& json) {
        client_.sendTextMessage(json);
        client_.flush();
        saidUs_ = LinkClockUs();
    }
    static bool L1(const SentMessage& m) {
        ControllerModel held;
        held.item(kItemL1).remoteDown = 1;
        return (m.bytes[3] & ButtonByte2(held)) == 0;  // the buttons go out inverted
    }
    bool LastSentHasL1() const { return !sent_.empty() && L1(sent_.back()); }
    // The monitor has a row for a client: its arrival, departure or refusal.
    bool MonitorSays(const std::string& words) {
        const MonitorModel& m = traffic().monitor();
        for (std::size_t i = 0; i < m.rowCount(); ++i)
            if (m.row(i).kind == MonitorModel::Row::Kind::kRemote &&
                m.row(i).note.find(words) != std::string::npos)
                return true;
        return false;
    }

    QWebSocket client_;
    std::int64_t saidUs_ = 0;
};

TEST_F(RemoteLinkTest, APressRidesTheWireAndNoMessageCarriesItPastTheSilenceLimit) {
    Connect({});
    Greet();
    EXPECT_TRUE(Drive([&] { return MonitorSays("test (127.0.0.1) arrived"); }, 5s));
    Say(R"({"type":"press","item":"L1"})");
    Say(R"({"type":"sticks","lx":1})");
    ASSERT_TRUE(Drive([&] { return LastSentHasL1(); }, 5s));
    EXPECT_EQ(sent_.back().bytes[6], 255);  // the left stick's X, all the way right
    // Silence: the press must leave the wire within 600 ms of the client's last word.
    ASSERT_TRUE(
        Drive([&] { return !sent_.empty() && !LastSentHasL1() && sent_.back().bytes[6] == 128; }, 5s));
    std::int64_t lastWithPress = 0;
    for (const SentMessage& m : sent_)
        if (L1(m)) lastWithPress = m.sentAtUs;
    EXPECT_LE(lastWithPress - saidUs_, 600'000);

    // Pressed again, then Stop all: released at once, whatever the client keeps saying.
    Say(R"({"type":"press","item":"L1"})");
    ASSERT_TRUE(Drive([&] { return LastSentHasL1(); }, 5s));
    session_->StopAllRemoteInput();
    Say(R"({"type":"ping"})");
    const std::size_t before = sent_.size();
    ASSERT_TRUE(Drive([&] { return sent_.size() > before + 1; }, 5s));
    EXPECT_FALSE(LastSentHasL1());
    client_.close();
    EXPECT_TRUE(Drive([&] { return MonitorSays("left"); }, 5s));
}

TEST_F(RemoteLinkTest, AKeyAndAClientHoldTheSameButtonUntilBothLetGo) {
    Connect({});
    Greet();
    Key(kItemL1, true);
    Say(R"({"type":"press","item":"L1"})");
    ASSERT_TRUE(Drive([&] { return LastSentHasL1(); }, 5s, [&] { Say(R"({"type":"ping"})"); }));
    Key(kItemL1, false);
    std::size_t mark = sent_.size();
    // Kept alive by pings, the client's press holds the button alone.
    ASSERT_TRUE(Drive([&] { return sent_.size() > mark + 2; }, 5s, [&] { Say(R"({"type":"ping"})"); }));
    EXPECT_TRUE(LastSentHasL1());
    Say(R"({"type":"release","item":"L1"})");
    ASSERT_TRUE(Drive([&] { return !LastSentHasL1(); }, 5s, [&] { Say(R"({"type":"ping"})"); }));
}

}  // namespace
}  // namespace zanth::test
