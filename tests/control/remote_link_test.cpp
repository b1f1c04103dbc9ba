// A remote client's input on the wire: the simulator on a pseudo-terminal hears it like a key's, and stops
// hearing it soon after the client falls silent.
#include <QWebSocket>
#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

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

    // The other way round: the client lets go first, and the key still holds the button.
    const ControllerItem& l1 = session_->model().item(kItemL1);
    Key(kItemL1, true);
    Say(R"({"type":"press","item":"L1"})");
    ASSERT_TRUE(Drive([&] { return l1.remoteDown != 0; }, 5s, [&] { Say(R"({"type":"ping"})"); }));
    Say(R"({"type":"release","item":"L1"})");
    ASSERT_TRUE(Drive([&] { return l1.remoteDown == 0; }, 5s, [&] { Say(R"({"type":"ping"})"); }));
    EXPECT_TRUE(l1.IsPressed());
    mark = sent_.size();
    ASSERT_TRUE(Drive([&] { return sent_.size() > mark + 2; }, 5s));
    for (std::size_t i = mark; i < sent_.size(); ++i) EXPECT_TRUE(L1(sent_[i])) << i;
}

TEST_F(RemoteLinkTest, AfterDisconnectAndConnectNoMessageCarriesAHoldUntilTheClientPressesAgain) {
    Connect({"--keep-open"});
    Greet();
    const auto ping = [&] { Say(R"({"type":"ping"})"); };
    Say(R"({"type":"press","item":"L1"})");
    ASSERT_TRUE(Drive([&] { return LastSentHasL1(); }, 5s, ping));
    ASSERT_EQ(session_->ToggleConnection(2).outcome, ConnectResult::Outcome::kDisconnected);
    const std::int64_t reconnectedUs = LinkClockUs();
    ASSERT_EQ(session_->ToggleConnection(2).outcome, ConnectResult::Outcome::kConnected);
    // The client stays and keeps talking, but holds nothing until it presses again.
    std::vector<SentMessage> after;
    ASSERT_TRUE(Drive(
        [&] {
            after.clear();
            std::copy_if(sent_.begin(), sent_.end(), std::back_inserter(after),
                         [&](const SentMessage& m) { return m.sentAtUs > reconnectedUs; });
            return after.size() >= 4;
        },
        5s, ping));
    for (const SentMessage& m : after) EXPECT_FALSE(L1(m)) << m.sentAtUs - reconnectedUs;
    Say(R"({"type":"press","item":"L1"})");
    ASSERT_TRUE(Drive([&] { return LastSentHasL1(); }, 5s, ping));
}

// A press that comes after the frame for the next message was sampled still rides that message.
TEST_F(RemoteLinkTest, APressInTheLeadBeforeAMessageRidesIt) {
    Connect({});
    Greet();
    // No ticks from here: only the sample for each message, and a sample taken again, read the client.
    bool armed = false;
    std::optional<std::size_t> aimed;  // the message about to leave when the client pressed
    const QMetaObject::Connection c =
        QObject::connect(&session_->link(), &LinkWorker::frameWanted, session_.get(), [&] {
            if (!std::exchange(armed, false)) return;
            Say(R"({"type":"press","item":"L1"})");
            aimed = sent_.size();
        });
    // Each try may miss on a loaded machine (the press has 8 ms to get through the server's thread); without
    // the sample taken again, every one rides the message after.
    int rode = 0;
    for (int attempt = 0; attempt < 20 && rode == 0; ++attempt) {
        aimed.reset();
        armed = true;
        ASSERT_TRUE(Await([&] { return aimed && sent_.size() > *aimed; }, 5s));
        if (L1(sent_[*aimed])) ++rode;
        Say(R"({"type":"release","item":"L1"})");
        const std::size_t mark = sent_.size();
        ASSERT_TRUE(Await([&] { return sent_.size() > mark && !LastSentHasL1(); }, 5s));
    }
    QObject::disconnect(c);
    EXPECT_EQ(rode, 1);
}

}  // namespace
}  // namespace zanth::test
