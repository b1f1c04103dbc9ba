// Recorded sessions: a drive recorded from the wire and played back onto the simulated robot with its timing,
// a playback that gives way to the live controller, and files that cannot be played.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>

#include "../link/link_test_util.h"
#include "control/session_file.h"
#include "link_session.h"

namespace zanth {
namespace {

using namespace std::chrono_literals;
using test::LinkSessionTest;

// What the simulator prints for a message: the command and the frame bytes.
std::string SimText(const WireMessage& m) {
    char text[32];
    std::snprintf(text, sizeof text, "%c %02X %02X %02X %02X %02X %02X %02X %02X", m[0], m[1], m[2], m[3],
                  m[4], m[5], m[6], m[7], m[8]);
    return text;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The offsets of `times` from its first, against the recorded offsets: the error of each, in ms.
std::vector<double> TimingErrors(const std::vector<std::int64_t>& times,
                                 const std::vector<TimedMessage>& recorded) {
    std::vector<double> errors;
    for (std::size_t i = 0; i < times.size() && i < recorded.size(); ++i) {
        const std::int64_t played = times[i] - times[0];
        const std::int64_t wanted = recorded[i].offsetUs - recorded[0].offsetUs;
        errors.push_back(std::abs(static_cast<double>(played - wanted)) / 1000.0);
    }
    return errors;
}

// Every played message at or after its recorded offset from the first (the link reads its clock after the
// write, so by at most a millisecond sooner) and late only by what a loaded machine may hold it up. How
// close to the offsets they come is a figure (bench/test_timing_figures.py), never asserted.
void ExpectNeverEarly(const std::vector<std::int64_t>& times, const std::vector<TimedMessage>& recorded) {
    ASSERT_EQ(times.size(), recorded.size());
    for (std::size_t i = 0; i < times.size(); ++i) {
        const std::int64_t played = times[i] - times[0];
        const std::int64_t wanted = recorded[i].offsetUs - recorded[0].offsetUs;
        EXPECT_GE(played, wanted - 2000) << i;
        EXPECT_LE(played, wanted + 2000LL * test::kStallMs) << i;
    }
}

class PlaybackTest : public LinkSessionTest {
  protected:
    // Played messages the link has reported. It is done playing before its report of the last one has come
    // through this thread's event loop.
    std::size_t Played() const {
        return static_cast<std::size_t>(std::count_if(
            sent_.begin(), sent_.end(), [](const SentMessage& m) { return m.playedIndex >= 0; }));
    }

    // Plays `file` as the window does: the outcome comes back from the thread that reads it.
    bool PlayNow(const std::string& file, std::string* error) {
        std::optional<QString> outcome;
        const QMetaObject::Connection c =
            QObject::connect(&traffic(), &LinkTraffic::playOutcome, [&](const QString& e) { outcome = e; });
        traffic().Play(file);
        const bool came = Drive([&] { return outcome.has_value(); }, 10s);
        QObject::disconnect(c);
        *error = came ? outcome->toStdString() : "no outcome";
        return came && error->empty();
    }

    // Five seconds of driving recorded into `file`: L1, then SELECT with the stick left, a MODE press, then
    // button 1. The file holds what went out meanwhile, in order.
    void RecordADrive(const std::string& file, RecordedSession* recorded) {
        ASSERT_TRUE(Drive([&] { return !sent_.empty(); }, 5s));
        std::string error;
        ASSERT_TRUE(traffic().StartRecording(file, {ProgramVersion(), "COM3", sim_->path()}, &error))
            << error;
        const std::size_t from = sent_.size();
        const auto start = std::chrono::steady_clock::now();
        ASSERT_FALSE(Drive([] { return false; }, 5s,
                           [&] {
                               const auto t = std::chrono::steady_clock::now() - start;
                               Key(kItemL1, t > 500ms && t < 1500ms);
                               Key(kItemSelect, t > 1500ms && t < 2500ms);
                               Key(kItemStickLeft, t > 1500ms && t < 2500ms);
                               Key(kItemMode, t > 2700ms && t < 2900ms);
                               Key(kItem1, t > 3500ms && t < 4500ms);
                           }));
        ASSERT_TRUE(traffic().StopRecording(&error)) << error;

        SessionFileError fault;
        *recorded = ReadSessionFile(file, &fault);
        ASSERT_EQ(fault.kind, SessionFileError::Kind::kNone) << fault.detail;
        ASSERT_GE(recorded->messages.size(), 30u);
        ASSERT_LE(from + recorded->messages.size(), sent_.size());
        for (std::size_t i = 0; i < recorded->messages.size(); ++i)
            ASSERT_EQ(recorded->messages[i].bytes, sent_[from + i].bytes) << i;
        EXPECT_EQ(recorded->header.device, sim_->path());
    }
};

TEST_F(PlaybackTest, ARecordedDriveIsPlayedBackInOrderAndOnTime) {
    Connect({});
    const std::string file = PathOf("drive.zsr");
    RecordedSession recorded;
    ASSERT_NO_FATAL_FAILURE(RecordADrive(file, &recorded));

    const std::size_t playFrom = sent_.size();
    std::string error;
    ASSERT_TRUE(PlayNow(file, &error)) << error;
    ASSERT_TRUE(Drive([&] { return !traffic().playing() && Played() == recorded.messages.size(); }, 15s));
    std::vector<std::string> lines;
    for (std::string line; lines.size() < sent_.size() && !(line = sim_->ReadLine(5000)).empty();)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), sent_.size());

    // The same frames in the same order, on the link and at the robot; sim line j is the link's message j.
    std::vector<std::int64_t> linkTimes;
    std::size_t next = 0;
    for (std::size_t j = playFrom; j < sent_.size(); ++j) {
        if (sent_[j].playedIndex < 0) continue;
        ASSERT_EQ(sent_[j].playedIndex, static_cast<int>(next));
        ASSERT_EQ(sent_[j].bytes, recorded.messages[next].bytes) << next;
        EXPECT_EQ(lines[j].substr(0, 25), SimText(sent_[j].bytes)) << j;
        linkTimes.push_back(sent_[j].sentAtUs);
        ++next;
    }
    ASSERT_EQ(next, recorded.messages.size());

    ExpectNeverEarly(linkTimes, recorded.messages);
    const std::vector<double> link = TimingErrors(linkTimes, recorded.messages);
    RecordProperty("playbackMedianErrorMs", std::to_string(Median(link)));
    RecordProperty("playbackMaxErrorMs", std::to_string(*std::max_element(link.begin(), link.end())));
}

// A session of L2 held, written as the recorder writes it, with the messages `gapsMs` apart in turn.
std::string HeldL2Session(const std::string& path, int messages, std::vector<int> gapsMs = {125}) {
    SessionRecorder recorder;
    std::string reason;
    EXPECT_TRUE(recorder.Begin(path, {ProgramVersion(), "COM3", "/dev/null"}, &reason)) << reason;
    std::int64_t at = 0;
    for (int i = 0; i < messages; ++i) {
        recorder.Add(SentMessage{{'K', 0xFF, 0xFF, 0xFE, 0x80, 0x80, 0x80, 0x80, 0xF3}, at, -1});
        at += gapsMs[static_cast<std::size_t>(i) % gapsMs.size()] * 1000LL;
    }
    EXPECT_TRUE(recorder.Finish(&reason)) << reason;
    return path;
}

// Pauses that are not the link's own rhythm are kept too.
TEST_F(PlaybackTest, PlaybackKeepsTheRecordedPauses) {
    Connect({});
    const std::string file = HeldL2Session(PathOf("pauses.zsr"), 8, {150, 700, 210, 400});
    const RecordedSession recorded = ReadSessionFile(file, nullptr);
    std::string error;
    ASSERT_TRUE(PlayNow(file, &error)) << error;
    ASSERT_TRUE(Drive([&] { return !traffic().playing() && Played() == recorded.messages.size(); }, 10s));
    std::vector<std::int64_t> times;
    for (const SentMessage& m : sent_)
        if (m.playedIndex >= 0) times.push_back(m.sentAtUs);
    ExpectNeverEarly(times, recorded.messages);
}

// The port lost for 8 s while L2 was held: the robot never keeps the held frame through a silence. It gets
// the neutral frame at the link's rhythm through the pause, which is cut short, and the monitor says so.
TEST_F(PlaybackTest, APauseOfEightSecondsPlaysAsNeutralAtTheRhythm) {
    Connect({});
    const std::string file = HeldL2Session(PathOf("gap.zsr"), 10, {125, 125, 125, 125, 8000});
    const PlayedSession planned = PrepareForPlaying(ReadSessionFile(file, nullptr));
    ASSERT_EQ(planned.gaps.size(), 1u);
    ASSERT_FALSE(Drive([] { return false; }, 500ms));  // live frames flowing
    const std::size_t playFrom = sent_.size();
    std::string error;
    ASSERT_TRUE(PlayNow(file, &error)) << error;
    EXPECT_FALSE(traffic().PlaybackNote().empty());
    ASSERT_TRUE(Drive([&] { return !traffic().playing() && Played() == planned.messages.size(); }, 15s));
    EXPECT_EQ(traffic().PlaybackNote(), app_->Tr(Msg::kPlaybackFinished));

    // Through the pause the robot gets nothing pressed and the sticks centred, with the command byte and the
    // lit LED of the message before it.
    const WireMessage neutral = {'K', 0xFF, 0xFF, 0xFF, 0x80, 0x80, 0x80, 0x80, 0xF3};
    ASSERT_GT(planned.gaps[0].fillers, 0u);
    for (std::size_t k = 0; k < planned.gaps[0].fillers; ++k)
        EXPECT_EQ(planned.messages[planned.gaps[0].firstFiller + k].bytes, neutral) << k;
    // A frame that holds anything is followed by the next within the held pause: in the plan, which the
    // link keeps (never early; a loaded machine may only make it late).
    for (std::size_t i = 0; i + 1 < planned.messages.size(); ++i) {
        if (planned.messages[i].bytes == neutral) continue;
        EXPECT_LT(planned.messages[i + 1].offsetUs - planned.messages[i].offsetUs, kHeldPauseUs) << i;
    }

    // What went out is what was planned, byte for byte.
    std::vector<WireMessage> played;
    for (std::size_t j = playFrom; j < sent_.size(); ++j)
        if (sent_[j].playedIndex >= 0) played.push_back(sent_[j].bytes);
    ASSERT_EQ(played.size(), planned.messages.size());
    for (std::size_t i = 0; i < played.size(); ++i) EXPECT_EQ(played[i], planned.messages[i].bytes) << i;

    // The monitor numbers the recorded messages as the file does and notes each neutral one.
    const MonitorModel& m = traffic().monitor();
    std::vector<int> numbers;
    std::size_t notes = 0;
    for (std::size_t i = m.rowCount(); i-- > 0;) {
        const MonitorModel::Row& row = m.row(i);
        if (row.kind != MonitorModel::Row::Kind::kSent || row.sent.playedIndex < 0) continue;
        if (traffic().text().Of(row)[6] == app_->Tr(Msg::kMonitorGapNeutral))
            ++notes;
        else
            numbers.push_back(row.sent.playedIndex);
    }
    EXPECT_EQ(notes, planned.gaps[0].fillers);
    EXPECT_EQ(numbers, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

// Stops and enables are written as lines of their own: the file's format says so (an older program calls it
// newer, not damaged), whatever came first, and every message still plays.
TEST(PlayedSession, StopAndEnableLinesRaiseTheFormatAndPlayNothing) {
    const QTemporaryDir dir;
    const WireMessage neutral = {'k', 0xFF, 0xFF, 0xFF, 0x80, 0x80, 0x80, 0x80, 0xF3};
    for (const bool lostFirst : {false, true}) {
        const std::string path = dir.filePath(lostFirst ? "a.zsr" : "b.zsr").toStdString();
        SessionRecorder recorder;
        std::string reason;
        ASSERT_TRUE(recorder.Begin(path, {ProgramVersion(), "COM1", "/dev/null"}, &reason)) << reason;
        recorder.MarkHold(0, SessionRecorder::Hold::kStop);  // before the first message: nothing
        recorder.Add(SentMessage{neutral, 1000, -1});
        if (lostFirst) recorder.MarkLost(2000);
        recorder.MarkHold(3000, SessionRecorder::Hold::kStop);
        recorder.Add(SentMessage{neutral, 4000, -1});
        recorder.MarkHold(5000, SessionRecorder::Hold::kRelease);
        recorder.Add(SentMessage{neutral, 6000, -1});
        ASSERT_TRUE(recorder.Finish(&reason)) << reason;
        std::ifstream in(path);
        std::string header, text((std::istreambuf_iterator<char>(in)), {});
        header = text.substr(0, text.find('\n'));
        EXPECT_EQ(header.rfind("zanth-session\t3\t", 0), 0u) << header;
        EXPECT_NE(text.find("\nstop\t2000\n"), std::string::npos) << text;
        EXPECT_NE(text.find("\nrelease\t4000\n"), std::string::npos) << text;
        SessionFileError fault;
        const RecordedSession recorded = ReadSessionFile(path, &fault);
        ASSERT_EQ(fault.kind, SessionFileError::Kind::kNone) << fault.detail;
        EXPECT_EQ(recorded.messages.size(), 3u);
    }
}

// The recorder marks a lost port; the pause after it plays as neutral though it is short, with the LED and
// the command byte of the message before it; a long pause is cut and what follows moves up; the rest
// plays as recorded.
TEST(PlayedSession, APortLostMarkPlaysAsNeutralAndLongPausesAreCut) {
    const QTemporaryDir dir;
    const std::string path = dir.filePath("lost.zsr").toStdString();
    const WireMessage held = {'k', 0xFF, 0xFF, 0xFE, 0x80, 0x80, 0x80, 0x80, 0xFB};  // L2, LED off
    const std::int64_t times[] = {0, 125000, 725000, 850000, 5850000, 5975000};
    SessionRecorder recorder;
    std::string reason;
    ASSERT_TRUE(recorder.Begin(path, {ProgramVersion(), "COM3", "/dev/null"}, &reason)) << reason;
    for (std::int64_t at : times) {
        recorder.Add(SentMessage{held, 1000000 + at, -1});
        if (at == 125000) {
            recorder.MarkLost(1000000 + 300000);
            recorder.MarkLost(1000000 + 400000);  // the same pause
        }
    }
    ASSERT_TRUE(recorder.Finish(&reason)) << reason;
    // A program that knows no "lost" line calls the file newer, not damaged: its format is 2, not 1.
    std::string header;
    std::getline(std::ifstream(path), header);
    EXPECT_EQ(header.rfind("zanth-session\t2\t", 0), 0u) << header;
    SessionFileError fault;
    RecordedSession recorded = ReadSessionFile(path, &fault);
    ASSERT_EQ(fault.kind, SessionFileError::Kind::kNone) << fault.detail;
    EXPECT_EQ(recorded.lostAfter, std::vector<std::size_t>{1});

    const PlayedSession played = PrepareForPlaying(recorded);
    ASSERT_EQ(played.gaps.size(), 2u);
    EXPECT_TRUE(played.gaps[0].lost);
    EXPECT_FALSE(played.gaps[1].lost);
    EXPECT_EQ(played.gaps[1].playedUs, kPlayedGapUs);
    // Nothing pressed, the sticks centred; the command byte and the unlit LED as before the pause.
    const WireMessage neutral = {'k', 0xFF, 0xFF, 0xFF, 0x80, 0x80, 0x80, 0x80, 0xFB};
    std::size_t next = 0;  // the recorded message expected next
    std::int64_t cut = 0;
    for (std::size_t i = 0; i < played.messages.size(); ++i) {
        const TimedMessage& m = played.messages[i];
        if (i > 0) {
            EXPECT_GE(m.offsetUs - played.messages[i - 1].offsetUs, kFillerStepUs) << i;
        }
        const auto inGap = [&](const PlayedGap& g) {
            return i >= g.firstFiller && i < g.firstFiller + g.fillers;
        };
        if (inGap(played.gaps[0]) || inGap(played.gaps[1])) {
            EXPECT_EQ(m.bytes, neutral) << i;
            continue;
        }
        if (next == 4) cut = played.gaps[1].recordedUs - kPlayedGapUs;
        EXPECT_EQ(m, (TimedMessage{recorded.messages[next].offsetUs - cut, recorded.messages[next].bytes}))
            << i;
        ++next;
    }
    EXPECT_EQ(next, recorded.messages.size());
}

TEST_F(PlaybackTest, AKeyPressStopsPlaybackAndTheLiveFrameGoesNext) {
    Connect({});
    std::string error;
    ASSERT_TRUE(PlayNow(HeldL2Session(PathOf("l2.zsr"), 200), &error)) << error;
    ASSERT_TRUE(Drive([&] { return !sent_.empty() && sent_.back().playedIndex >= 3; }, 10s));
    // The picture shows the played frame, not the idle controller.
    ASSERT_TRUE(traffic().ShownItems().has_value());
    EXPECT_EQ(*traffic().ShownItems() & (1u << kItemL2), 1u << kItemL2);

    Key(kItemL1, true);
    session_->Tick(inputs_);
    EXPECT_FALSE(traffic().playing());
    EXPECT_FALSE(traffic().ShownItems().has_value());
    EXPECT_EQ(traffic().PlaybackNote(),
              Format(app_->Tr(Msg::kPlaybackStopped), {app_->Tr(Msg::kPlayEndKey)}));
    const std::size_t after = sent_.size();
    ASSERT_TRUE(Drive([&] { return sent_.size() >= after + 2; }, 5s));
    // At most the message under way at the press was still played; the next one is the live controller.
    std::size_t i = after;
    if (sent_[i].playedIndex >= 0) ++i;
    EXPECT_EQ(sent_[i].playedIndex, -1);
    EXPECT_EQ(sent_[i].bytes[3], 0xFB) << "L1 held, L2 not";
}

// A stop ends a played session like a key does, and from then on only the neutral frame goes out, whatever
// a source holds; the monitor says who stopped it.
TEST_F(PlaybackTest, AStopEndsPlaybackAndOnlyTheNeutralFrameFollows) {
    Connect({});
    std::string error;
    ASSERT_TRUE(PlayNow(HeldL2Session(PathOf("l2.zsr"), 200), &error)) << error;
    ASSERT_TRUE(Drive([&] { return !sent_.empty() && sent_.back().playedIndex >= 2; }, 10s));
    session_->EmergencyStop(StopBy::kRemote, "phone");
    EXPECT_FALSE(traffic().playing());
    Key(kItemL1, true);
    const std::size_t after = sent_.size();
    ASSERT_TRUE(Drive([&] { return sent_.size() >= after + 4; }, 5s));
    const ControllerFrame neutral = NeutralFrame(true);
    for (std::size_t i = after + 1; i < sent_.size(); ++i) {
        EXPECT_EQ(sent_[i].playedIndex, -1) << i;
        EXPECT_TRUE(std::equal(neutral.begin(), neutral.end(), sent_[i].bytes.begin() + 1)) << i;
    }
    bool told = false;
    const MonitorModel& monitor = traffic().monitor();
    for (std::size_t i = 0; i < monitor.rowCount() && !told; ++i)
        told = monitor.row(i).kind == MonitorModel::Row::Kind::kDrive &&
               monitor.row(i).note.find("phone") != std::string::npos;
    EXPECT_TRUE(told);
}

struct Damaged {
    const char* what;
    std::string path;
    SessionFileError::Kind kind;
    Msg message;  // the reason the player gives (damaged files: their line instead)
};

// Files the player must refuse, made from `good`, a complete session of three messages.
std::vector<Damaged> DamagedFiles(const std::function<std::string(const std::string&)>& pathOf,
                                  const std::string& good) {
    using Kind = SessionFileError::Kind;
    std::string text;
    {
        std::ifstream in(good);
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::size_t endLine = text.rfind("end\t");
    auto write = [&](const std::string& name, const std::string& content) {
        std::ofstream(pathOf(name), std::ios::binary) << content;
        return pathOf(name);
    };
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919) & 0xFF);
    const std::string huge = pathOf("huge.zsr");
    std::ofstream(huge).close();
    EXPECT_EQ(truncate(huge.c_str(), 100LL << 20), 0);  // 100 MB, sparse
    const std::string fifo = pathOf("fifo.zsr");
    EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string backwards = text;
    backwards.replace(backwards.find("\n250000\t") + 1, 6, "000009");
    std::string foreignMessage = text;
    foreignMessage.replace(text.find("4B FF"), 5, "58 FF");
    const std::string header = text.substr(0, text.find('\n') + 1);
    const std::string first = text.substr(header.size(), text.find('\n', header.size()) + 1 - header.size());
    const std::string message = first.substr(first.find('\t'));
    std::string pastADay = header;
    for (std::int64_t at = 0; at <= kLongestSessionUs + kLongestPauseUs; at += kLongestPauseUs)
        pastADay += std::to_string(at) + message;
    return {
        {"missing", pathOf("none.zsr"), Kind::kUnreadable, Msg::kSessionUnreadable},
        {"cut before its first message", write("t1.zsr", header), Kind::kTruncated, Msg::kSessionTruncated},
        {"cut in its first message", write("t2.zsr", header + first.substr(0, 9)), Kind::kTruncated,
         Msg::kSessionTruncated},
        {"damaged before a cut", write("t3.zsr", foreignMessage.substr(0, endLine)), Kind::kDamaged,
         Msg::kCount},
        {"wrong header", write("h.zsr", "ZANTH" + text.substr(5)), Kind::kForeign, Msg::kSessionForeign},
        {"binary garbage", write("g.zsr", garbage), Kind::kForeign, Msg::kSessionForeign},
        {"100 MB", huge, Kind::kTooLarge, Msg::kSessionTooLarge},
        {"a FIFO", fifo, Kind::kUnreadable, Msg::kSessionUnreadable},
        {"newer format", write("n.zsr", "zanth-session\t4\tx\ty\tz\n"), Kind::kNewerFormat,
         Msg::kSessionNewer},
        {"time backwards", write("b.zsr", backwards), Kind::kDamaged, Msg::kCount},
        {"a message the link never sends", write("m.zsr", foreignMessage), Kind::kDamaged, Msg::kCount},
        {"no messages", write("e.zsr", header + "end\t0\n"), Kind::kEmpty, Msg::kSessionEmpty},
        {"a pause of a day", write("d.zsr", header + first + "86400000000" + message + "end\t2\n"),
         Kind::kDamaged, Msg::kCount},
        {"longer than a day", write("l.zsr", pastADay + "end\t999\n"), Kind::kDamaged, Msg::kCount},
        {"a lost port before the first message", write("x.zsr", header + "lost\t0\n" + first + "end\t1\n"),
         Kind::kDamaged, Msg::kCount},
        {"a NUL byte in a line",
         write("z1.zsr", std::string(text).replace(text.find('\t', header.size()), 1, 1, '\0')),
         Kind::kDamaged, Msg::kCount},
        {"text after NUL bytes after the closing line",
         write("z2.zsr", text + std::string(4, '\0') + "\n" + first), Kind::kDamaged, Msg::kCount},
    };
}

// A recorder that is killed leaves its lines up to the last second, without the closing line and perhaps
// with half a line after them: that plays up to the last whole line, and says it was cut short. Disconnect
// ends a recording: its file is complete.
TEST_F(PlaybackTest, ARecordingCutShortPlaysUpToItsLastWholeLineAndDisconnectEndsOne) {
    const std::string file = PathOf("cut.zsr");
    const WireMessage held = {'K', 0xFF, 0xFF, 0xFE, 0x80, 0x80, 0x80, 0x80, 0xF3};
    const int count = 40;  // 5 s at the wire's rhythm
    std::string text;
    {
        SessionRecorder recorder;
        std::string reason;
        ASSERT_TRUE(recorder.Begin(file, {ProgramVersion(), "COM3", "/dev/null"}, &reason)) << reason;
        for (int i = 0; i < count; ++i) recorder.Add(SentMessage{held, i * 125000LL, -1});
        std::ifstream in(file);  // what a kill would leave
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    // No port lost in it: format 1, which every older program plays.
    EXPECT_EQ(text.rfind("zanth-session\t1\t", 0), 0u) << text.substr(0, 40);
    const std::string halfALine = text.substr(text.rfind('\n', text.size() - 2) + 1, 12);
    std::size_t kept = 0;
    for (const std::string& tail : {std::string(), halfALine}) {
        std::ofstream(file, std::ios::binary) << text << tail;
        SessionFileError fault;
        const RecordedSession cut = ReadSessionFile(file, &fault);
        ASSERT_EQ(fault.kind, SessionFileError::Kind::kNone) << fault.detail;
        EXPECT_FALSE(cut.complete);
        ASSERT_FALSE(cut.messages.empty());
        EXPECT_GE(cut.messages.back().offsetUs, (count - 1) * 125000LL - kRecorderFlushUs);
        kept = cut.messages.size();
    }
    Connect({});
    std::string error;
    ASSERT_TRUE(PlayNow(file, &error)) << error;
    EXPECT_EQ(traffic().PlaybackNote(), Format(app_->Tr(Msg::kPlaybackCutShort), {std::to_string(kept)}));

    ASSERT_TRUE(traffic().StartRecording(file, {ProgramVersion(), "COM3", sim_->path()}, &error)) << error;
    ASSERT_TRUE(
        Drive([&] { return traffic().recording() && traffic().monitor().counters().messages > 3; }, 5s));
    session_->ToggleConnection(2);
    EXPECT_FALSE(traffic().recording());
    SessionFileError fault;
    EXPECT_TRUE(ReadSessionFile(file, &fault).complete) << fault.detail;
}

// Each refused with its reason, and nothing of it sent.
TEST_F(PlaybackTest, DamagedSessionFilesAreRefusedAndSendNothing) {
    const std::string good = HeldL2Session(PathOf("good.zsr"), 3);
    Connect({});
    for (const Damaged& c : DamagedFiles([this](const std::string& name) { return PathOf(name); }, good)) {
        SCOPED_TRACE(c.what);
        SessionFileError e;
        EXPECT_TRUE(ReadSessionFile(c.path, &e).messages.empty());
        EXPECT_EQ(e.kind, c.kind) << e.detail;
        std::string error;
        EXPECT_FALSE(PlayNow(c.path, &error));
        EXPECT_FALSE(traffic().playing());
        const std::string reason =
            c.kind == SessionFileError::Kind::kDamaged ? "The file is damaged (line " : app_->Tr(c.message);
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
    ASSERT_TRUE(Drive([&] { return sent_.size() >= 3; }, 5s));
    for (const SentMessage& m : sent_) EXPECT_EQ(m.playedIndex, -1);
    // The good one plays, also with the NUL bytes a crash may leave after its last line.
    std::string text;
    {
        std::ifstream in(good);
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::string padded = PathOf("padded.zsr");
    std::ofstream(padded, std::ios::binary) << text << std::string(4096, '\0');
    SessionFileError fault;
    EXPECT_TRUE(ReadSessionFile(padded, &fault).complete) << fault.detail;
    std::string error;
    EXPECT_TRUE(PlayNow(padded, &error)) << error;
}

}  // namespace
}  // namespace zanth
