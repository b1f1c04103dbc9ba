// The message parser and the rules that fold remote input into the controller.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <utility>
#include <vector>

#include "link/frame.h"
#include "model/controller_model.h"
#include "remote/http_head.h"
#include "remote/log.h"
#include "remote/page_files.h"
#include "remote/protocol.h"
#include "remote/remote_board.h"
#include "remote/remote_input.h"
#include "remote/wire_budget.h"

namespace zanth {
namespace {

TEST(RemoteProtocol, ReadsEveryMessageAndRefusesWhatIsNotOne) {
    struct Case {
        const char* text;
        bool ok;
        RemoteMessageType type = RemoteMessageType::kPing;
    };
    const Case cases[] = {
        {R"({"v":1,"type":"hello","name":"Pupil","token":"ab"})", true, RemoteMessageType::kHello},
        {R"({"type":"hello","token":"ab"})", false},     // hello names the version
        {R"({"v":1,"type":"hello","token":7})", false},  // the token is text
        {R"({"type":"press","item":"L1"})", true, RemoteMessageType::kPress},
        {R"({"v":1,"type":"release","item":"LST4"})", true, RemoteMessageType::kRelease},
        {R"({"type":"press","item":"LED"})", false},  // not an input item
        {R"({"type":"press","item":"l1"})", false},   // names are exact
        {R"({"type":"press"})", false},
        {R"({"type":"sticks","lx":1,"ly":-1,"rx":0,"ry":0.5})", true, RemoteMessageType::kSticks},
        {R"({"type":"sticks","lx":1.01})", false},
        {R"({"type":"sticks","lx":"1"})", false},
        {R"({"type":"release_all"})", true, RemoteMessageType::kReleaseAll},
        {R"({"type":"ping"})", true, RemoteMessageType::kPing},
        {R"({"v":1,"type":"stop"})", true, RemoteMessageType::kStop},
        {R"({"v":2,"type":"ping"})", false},
        {R"({"type":"jump"})", false},
        {R"(["ping"])", false},
        {R"({"type":"ping")", false},
        {"", false},
    };
    for (const Case& c : cases) {
        QString error;
        const auto m = ParseRemoteMessage(QByteArray(c.text), &error);
        EXPECT_EQ(m.has_value(), c.ok) << c.text;
        if (m) {
            EXPECT_EQ(m->type, c.type) << c.text;
        } else {
            EXPECT_FALSE(error.isEmpty()) << c.text;
        }
    }
}

TEST(RemoteProtocol, StickValuesReachBothEndsAndTheCentre) {
    const auto m = ParseRemoteMessage(R"({"type":"sticks","lx":-1,"ly":1,"rx":0})", nullptr);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->sticks, (std::array<int, 4>{0, 255, 128, 128}));
    // Right and down are the larger bytes, as the keys' 240 are.
    EXPECT_GT(StickByteOf(0.5), 128);
    EXPECT_LT(StickByteOf(-0.5), 128);
}

TEST(RemoteFold, AStickFollowsTheSourceThatMovedLastAndFallsBackWhenItCentres) {
    struct Case {
        StickVote a, b;
        int value;
    };
    const Case cases[] = {
        {{128, 0}, {128, 0}, 128}, {{200, 1}, {128, 0}, 200}, {{200, 1}, {50, 2}, 50},  // b moved later
        {{200, 3}, {50, 2}, 200},                                                       // a moved later
        {{200, 1}, {128, 5}, 200},  // b centred: back to a
    };
    for (const Case& c : cases) {
        const StickVote votes[] = {c.a, c.b};
        EXPECT_EQ(FoldStick(votes), c.value);
    }
    // Through the merge: a slider left off centre, then a remote move, then the remote stick released.
    StickMerge merge;
    StickVotes remote{};
    EXPECT_EQ(merge.Merge({128, 128, 200, 128}, remote, 1)[2], 200);
    CastVote(remote[2], 30, 2);
    EXPECT_EQ(merge.Merge({128, 128, 200, 128}, remote, 3)[2], 30);
    EXPECT_EQ(merge.Merge({128, 128, 210, 128}, remote, 4)[2], 210);  // the slider moved last
    CastVote(remote[2], 128, 5);
    EXPECT_EQ(merge.Merge({128, 128, 210, 128}, remote, 6)[2], 210);
}

TEST(RemoteFold, ButtonsAreHeldWhileAnyClientHoldsThemAndReleaseAllLetsGo) {
    RemoteHold a, b;
    ApplyRemoteMessage(a, *ParseRemoteMessage(R"({"type":"press","item":"L1"})", nullptr), 1);
    ApplyRemoteMessage(b, *ParseRemoteMessage(R"({"type":"press","item":"L1"})", nullptr), 1);
    ApplyRemoteMessage(b, *ParseRemoteMessage(R"({"type":"release","item":"L1"})", nullptr), 2);
    ApplyRemoteMessage(b, *ParseRemoteMessage(R"({"type":"sticks","lx":1})", nullptr), 3);
    RemoteInput input;
    AddHold(input, a);
    AddHold(input, b);
    EXPECT_TRUE(input.items.test(kItemL1));
    EXPECT_EQ(input.sticks[0].value, 255);
    ApplyRemoteMessage(b, *ParseRemoteMessage(R"({"type":"release_all"})", nullptr), 4);
    EXPECT_EQ(b.items.count(), 0u);
    EXPECT_EQ(b.sticks[0].value, 128);
}

TEST(RemoteFold, EveryPressEdgeIsTakenOnceWhetherStillHeldOrLetGo) {
    const char* press = R"({"type":"press","item":"L1"})";
    const char* release = R"({"type":"release","item":"L1"})";
    const char* pressR1 = R"({"type":"press","item":"R1"})";
    const char* releaseAll = R"({"type":"release_all"})";
    struct Case {
        const char* what;
        std::vector<std::pair<quint64, const char*>> said;  // client 1 and 2 are greeted, 3 is not
        bool stopAll;
        std::vector<int> first, second;  // two takes in a row
    };
    const Case cases[] = {
        {"a tap", {{1, press}, {1, release}}, false, {kItemL1}, {}},
        {"a hold", {{1, press}}, false, {kItemL1}, {}},
        {"two clients", {{1, press}, {2, pressR1}, {2, releaseAll}}, false, {kItemL1, kItemR1}, {}},
        {"pressed twice while held", {{1, press}, {1, press}}, false, {kItemL1}, {}},
        {"before hello", {{3, press}}, false, {}, {}},
        {"Stop all", {{1, press}, {1, release}}, true, {}, {}},
    };
    for (const Case& c : cases) {
        RemoteBoard board;
        for (quint64 id : {1, 2, 3}) board.Add(id, QStringLiteral("a"));
        board.Greet(1, QStringLiteral("one"));
        board.Greet(2, QStringLiteral("two"));
        std::int64_t now = RemoteNowUs();
        for (const auto& [id, text] : c.said) board.Heard(id, *ParseRemoteMessage(text, nullptr), ++now);
        if (c.stopAll) board.ReleaseAll();
        for (const std::vector<int>* want : {&c.first, &c.second}) {
            RemoteItems expected;
            for (int item : *want) expected.set(static_cast<std::size_t>(item));
            EXPECT_EQ(board.TakePresses(), expected) << c.what;
        }
    }
}

TEST(RemoteFold, AHeldItemCountsAsPressedAndMODEFlipsTheLedOnTheTickOnly) {
    ControllerModel model;
    model.item(kItemMode).togglesLed = 1;
    RemoteItems held;
    held.set(kItemMode);
    held.set(kItemStickLeft);
    ApplyRemoteItems(model, held, false);
    EXPECT_TRUE(model.item(kItemMode).IsPressed());
    EXPECT_EQ(model.ledItem().latched, 0);
    EXPECT_EQ(StickByte(model.item(kItemStickLeft), model.item(kItemStickRight), 128), 16);
    ApplyRemoteItems(model, {}, true);
    ApplyRemoteItems(model, held, true);
    EXPECT_EQ(model.ledItem().latched, 1);
    ApplyRemoteItems(model, held, true);  // still held: no second flip
    EXPECT_EQ(model.ledItem().latched, 1);
}

TEST(RemoteWire, FrameHeadsAreCountedHoweverTheReadsCutThem) {
    // A masked empty ping, a masked 200-byte text frame (16-bit length), an unmasked 3-byte one.
    QByteArray wire = QByteArray::fromHex(
                          "8980"
                          "00000000") +
                      QByteArray::fromHex(
                          "81fe00c8"
                          "00000000") +
                      QByteArray(200, 'x') + QByteArray::fromHex("8103") + "abc";
    for (qsizetype cut : {1, 2, 3, 7, 64, 1000}) {
        FrameCounter counter;
        int frames = 0;
        for (qsizetype at = 0; at < wire.size(); at += cut)
            frames += counter.Feed(QByteArrayView(wire).sliced(at, std::min(cut, wire.size() - at)));
        EXPECT_EQ(frames, 3) << cut;
    }
}

TEST(RemoteWire, RefusalsAreToldOnceASecondPerReasonWithOneRowPerBurst) {
    RefusalFold fold;
    const std::int64_t s = 1'000'000;
    struct Step {
        std::int64_t at;
        RemoteRefusal refusal;
        bool log, row;
        int due;  // the count told by the tick right after
    };
    const Step steps[] = {
        {0, RemoteRefusal::kToken, true, true, 0},       {s / 10, RemoteRefusal::kToken, false, false, 0},
        {s / 5, RemoteRefusal::kHost, true, true, 0},    {s / 2, RemoteRefusal::kToken, false, false, 0},
        {s + 1, RemoteRefusal::kToken, false, false, 3},  // the burst goes on: no new row
        {3 * s, RemoteRefusal::kToken, true, true, 0},    // after a quiet second: a new burst
    };
    for (const Step& step : steps) {
        const RefusalFold::Told told = fold.Count(step.refusal, step.at);
        EXPECT_EQ(told.log, step.log) << step.at;
        EXPECT_EQ(told.row, step.row) << step.at;
        int due = 0;
        for (const auto& [refusal, count] : fold.Due(step.at)) due += count;
        EXPECT_EQ(due, step.due) << step.at;
    }
}

TEST(RemoteWire, TheMatchTimeGoesOutOnceASecondAndEveryOtherChangeAtOnce) {
    const auto drive = [](const char* phase, const char* time, bool stopped = false) {
        RemoteDriveState d;
        d.matchPhase = phase;
        d.matchTime = time;
        d.stopped = stopped;
        return d;
    };
    struct Step {
        std::int64_t atMs;
        RemoteDriveState set;
        const char* toldTime;  // the time this step tells
    };
    const Step steps[] = {
        {0, drive("Countdown", "0:05"), "0:05"},      {400, drive("Countdown", "0:04"), "0:05"},  // held back
        {999, drive("Countdown", "0:03"), "0:05"},    {1000, drive("Countdown", "0:03"), "0:03"},
        {1100, drive("Drive", "2:00"), "2:00"},        // a new phase at once, with its time
        {1200, drive("Drive", "1:59", true), "2:00"},  // the stop goes, the time waits
        {2100, drive("Drive", "1:58", true), "1:58"}, {2150, drive("", ""), ""},  // the match ended
    };
    DrivePacer pacer;
    for (const Step& s : steps) {
        const RemoteDriveState told = pacer.Next(s.set, s.atMs * 1000);
        EXPECT_EQ(told.matchTime, s.toldTime) << s.atMs;
        EXPECT_EQ(told.matchPhase, s.set.matchPhase) << s.atMs;
        EXPECT_EQ(told.stopped, s.set.stopped) << s.atMs;
        pacer.Told(told, s.atMs * 1000);
    }
}

TEST(RemoteWire, ClientTextReachesTheLogWithoutControlCharacters) {
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("evil\r\nzanth.remote: forged"), QStringLiteral("evil\\r\\nzanth.remote: forged")},
        {QStringLiteral("\x1b[2Jname"), QStringLiteral("\\x1b[2Jname")},
        {QStringLiteral("a\\x1b"), QStringLiteral("a\\\\x1b")},  // a backslash of its own stays told apart
        {QString(QChar(0x85)), QStringLiteral("\\x85")},
        {QStringLiteral("Pupil's phone \u00e9"), QStringLiteral("Pupil's phone \u00e9")},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(Printable(in), out) << out.toStdString();
}

TEST(RemoteHttp, OnlyTheServersOwnHostAndOriginPass) {
    const QStringList names{"localhost", "127.0.0.1", "[::1]"};
    struct Case {
        const char* host;
        bool ok;
    };
    const Case hosts[] = {{"127.0.0.1:8765", true},     {"localhost:8765", true}, {"[::1]:8765", true},
                          {"LOCALHOST:8765", true},     {"127.0.0.1:80", false},  {"127.0.0.1", false},
                          {"evil.example:8765", false}, {"[::1]", false},         {"", false}};
    for (const Case& c : hosts) EXPECT_EQ(HostAllowed(c.host, names, 8765), c.ok) << c.host;
    EXPECT_TRUE(OriginAllowed("http://127.0.0.1:8765", true, "127.0.0.1:8765"));
    EXPECT_TRUE(OriginAllowed({}, false, "127.0.0.1:8765"));  // not a browser
    EXPECT_FALSE(OriginAllowed("http://127.0.0.1:9000", true, "127.0.0.1:8765"));
    EXPECT_FALSE(OriginAllowed("null", true, "127.0.0.1:8765"));
    EXPECT_FALSE(OriginAllowed("http://localhost:8765", true, "127.0.0.1:8765"));
}

TEST(RemoteHttp, PathsNameThePageItsFilesAndTheArtworkOnly) {
    EXPECT_EQ(ResourceFor("/"), ":/remote/index.html");
    EXPECT_EQ(ResourceFor("/art/129.svg"), ":/art/129.svg");
    for (const char* path : {"/art/128.svg", "/art/178.svg", "/../x", "/.hidden", "/art/",
                             "/remote/index.html", "//etc/passwd", "/index.html/"})
        EXPECT_TRUE(ResourceFor(path).isEmpty()) << path;
    HttpHead head;
    EXPECT_EQ(ParseHttpHead("GET / HTTP/1.1\r\nHost: a\r\n", &head), HeadParse::kIncomplete);
    EXPECT_EQ(ParseHttpHead("GET /?x=1 HTTP/1.1\r\nHost: a\r\n\r\n", &head), HeadParse::kOk);
    EXPECT_EQ(head.path, "/");
    EXPECT_EQ(ParseHttpHead("GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", &head), HeadParse::kBad);
    EXPECT_EQ(ParseHttpHead(QByteArray(kHttpHeadLimit + 1, 'x'), &head), HeadParse::kBad);
}

}  // namespace
}  // namespace zanth

namespace zanth {
namespace {

TEST(RemoteProtocol, TheProgramsNewMessagesSayWhatThePageShows) {
    const auto json = [](const QByteArray& m) { return QJsonDocument::fromJson(m).object(); };
    const std::pair<QByteArray, QJsonObject> cases[] = {
        {BuildRemoteReleased(RemoteRelease::kStopAll),
         {{"v", 1}, {"type", "released"}, {"reason", "stop_all"}}},
        {BuildRemoteReleased(RemoteRelease::kDisconnect),
         {{"v", 1}, {"type", "released"}, {"reason", "disconnect"}}},
        {BuildRemoteReleased(RemoteRelease::kSilence),
         {{"v", 1}, {"type", "released"}, {"reason", "silence"}}},
        {BuildRemoteRefused(RemoteRefused::kFull, 8),
         {{"v", 1}, {"type", "refused"}, {"reason", "full"}, {"limit", 8}}},
        {BuildRemoteRefused(RemoteRefused::kToken, 8),
         {{"v", 1}, {"type", "refused"}, {"reason", "token"}, {"limit", 8}}},
        {BuildRemoteRefused(RemoteRefused::kDenied, 8),
         {{"v", 1}, {"type", "refused"}, {"reason", "denied"}, {"limit", 8}}},
        {BuildRemoteRefused(RemoteRefused::kVersion, 8),
         {{"v", 1}, {"type", "refused"}, {"reason", "version"}, {"limit", 8}}},
        {BuildRemoteWaiting(), {{"v", 1}, {"type", "waiting"}}},
    };
    for (const auto& [built, want] : cases) EXPECT_EQ(json(built), want) << built.toStdString();
    EXPECT_EQ(json(BuildRemoteState({}, 2, {"L1", "R2"})).value("mine").toArray(), (QJsonArray{"L1", "R2"}));
    // The drive state: who stopped the robot only while it is stopped, the match only while one runs.
    const std::pair<RemoteDriveState, QJsonObject> drives[] = {
        {{}, {{"stopped", false}, {"enabled", true}, {"match", QJsonValue()}}},
        {{true, "the stop key", "19:30:05", false, "Drive", "1:59"},
         {{"stopped", true},
          {"stopped_by", "the stop key"},
          {"stopped_at", "19:30:05"},
          {"enabled", false},
          {"match", QJsonObject{{"phase", "Drive"}, {"time", "1:59"}}}}},
    };
    for (const auto& [drive, want] : drives) {
        EXPECT_EQ(json(BuildRemoteState({}, 1, {}, drive)).value("drive").toObject(), want);
        EXPECT_EQ(json(WithRemoteDrive(BuildRemoteHello(ControllerModel{}, "1"), drive)).value("drive"),
                  want);
    }

    ControllerModel model;
    model.items[kItemL1].keyCode = 44;
    const QJsonObject hello = json(BuildRemoteHello(model, "1", "Class 3", {{44, "Z"}}));
    EXPECT_EQ(hello.value("robot").toString(), "Class 3");
    EXPECT_EQ(hello.value("minor").toInt(), kRemoteProtocolMinor);
    for (const QJsonValue& item : hello.value("items").toArray()) {
        const bool l1 = item.toObject().value("name").toString() == "L1";
        EXPECT_EQ(item.toObject().value("key").toString(), l1 ? "Z" : "")
            << item.toObject().value("name").toString().toStdString();
    }
    bool other = false;
    EXPECT_FALSE(ParseRemoteMessage(R"({"v":2,"type":"hello","token":"a"})", nullptr, &other));
    EXPECT_TRUE(other);
}

TEST(RemoteHttp, FilesAreNamedByTheirContentGzippedAndNotSentAgain) {
    const std::optional<PageFile> page = LoadPageFile(":/remote/index.html");
    ASSERT_TRUE(page);
    EXPECT_FALSE(page->gzipped.isEmpty());
    struct Case {
        QByteArray request;
        const char* status;
        bool gzip;
        const char* cache;
    };
    const QByteArray tag = '"' + page->hash + '"';
    const Case cases[] = {
        {"GET / HTTP/1.1\r\nAccept-Encoding: gzip, br\r\n\r\n", "200", true, "no-cache"},
        {"GET / HTTP/1.1\r\nAccept-Encoding: gzip;q=0\r\n\r\n", "200", false, "no-cache"},
        {"GET / HTTP/1.1\r\n\r\n", "200", false, "no-cache"},
        {"GET /?v=" + page->hash + " HTTP/1.1\r\n\r\n", "200", false, "immutable"},
        {"GET / HTTP/1.1\r\nIf-None-Match: " + tag + "\r\n\r\n", "304", false, "no-cache"},
        {"GET / HTTP/1.1\r\nIf-None-Match: \"0000\"\r\n\r\n", "200", false, "no-cache"},
    };
    for (const Case& c : cases) {
        HttpHead head;
        ASSERT_EQ(ParseHttpHead(c.request, &head), HeadParse::kOk);
        const QByteArray answer = PageAnswer(*page, head);
        EXPECT_TRUE(answer.startsWith("HTTP/1.1 " + QByteArray(c.status))) << c.request.toStdString();
        EXPECT_EQ(answer.contains("Content-Encoding: gzip"), c.gzip) << c.request.toStdString();
        EXPECT_TRUE(answer.contains(c.cache)) << c.request.toStdString();
        EXPECT_TRUE(answer.contains("ETag: " + tag));
    }
}

}  // namespace
}  // namespace zanth
