// The monitor's rows, counters and plot: by hand where the rule is arithmetic, against the simulator where it
// is what the wire does.
#include "control/monitor_model.h"

#include <gtest/gtest.h>

#include <QDate>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "link_session.h"

namespace zanth {
namespace {

using namespace std::chrono_literals;
using Status = ReplyRead::Status;
using test::LinkSessionTest;

constexpr std::int64_t kMs = 1000;

ReplyRead Reply(std::int64_t atMs, Status status, int level = 70) {
    ReplyRead r;
    r.atUs = atMs * kMs;
    r.status = status;
    r.level = level;
    return r;
}

TEST(MonitorModel, RowsKeepTheLast500NewestFirstAndCountersRestartWithConnect) {
    MonitorModel m;
    m.OnStarted("/dev/ttyUSB0");
    for (int i = 0; i < 620; ++i) m.OnSent(SentMessage{{}, i, -1});
    EXPECT_EQ(m.rowCount(), MonitorModel::kRowLimit);
    EXPECT_EQ(m.row(0).sent.sentAtUs, 619);
    EXPECT_EQ(m.row(499).sent.sentAtUs, 120);
    m.SetPaused(true);
    m.OnSent(SentMessage{{}, 620, -1});
    EXPECT_EQ(m.row(0).sent.sentAtUs, 619);  // paused: counted, not listed
    EXPECT_EQ(m.counters().messages, 621u);
    m.SetPaused(false);
    m.Clear();
    EXPECT_EQ(m.rowCount(), 0u);

    // A start after a lost port is a reconnect; a start after a Disconnect a new Connect.
    m.OnPortError(700);
    m.OnStarted("/dev/ttyUSB0");
    EXPECT_EQ(m.counters().reconnects, 1u);
    EXPECT_EQ(m.counters().messages, 621u);
    m.OnStarted("/dev/ttyUSB1");
    EXPECT_EQ(m.counters(), MonitorModel::Counters{});
    EXPECT_EQ(m.device(), "/dev/ttyUSB1");
    // A port lost, then Disconnect and Connect: a new Connect all the same.
    m.OnSent(SentMessage{{}, 800, -1});
    m.OnPortError(900);
    m.OnStopped();
    m.OnStarted("/dev/ttyUSB1");
    EXPECT_EQ(m.counters(), MonitorModel::Counters{});
}

TEST(MonitorModel, PlotRunsBreakWhereNoReplyCame) {
    MonitorModel m;
    for (auto [ms, status] : {std::pair{0, Status::kOk},
                              {125, Status::kOk},
                              {250, Status::kOk},
                              {375, Status::kNone},
                              {500, Status::kGarbage},
                              {625, Status::kOk},
                              {750, Status::kOk},
                              {3000, Status::kOk}})
        m.OnReply(Reply(ms, status));
    MonitorModel::Plot p = m.PlotAt(3100 * kMs);
    ASSERT_EQ(p.runs.size(), 3u);  // the third after a second without replies
    EXPECT_EQ(p.runs[0].size(), 3u);
    EXPECT_EQ(p.runs[1].size(), 2u);
    using Span = std::pair<std::int64_t, std::int64_t>;
    EXPECT_EQ(p.gaps, (std::vector<Span>{{250 * kMs, 625 * kMs}, {750 * kMs, 3000 * kMs}}));
    // The replies stopped: a gap up to now.
    p = m.PlotAt(5000 * kMs);
    EXPECT_EQ(p.gaps.back(), (Span{3000 * kMs, 5000 * kMs}));
    // Ten minutes on, only what is younger shows; older replies are forgotten once newer ones come.
    const std::int64_t later = 3000 + 10 * 60 * 1000;
    m.OnReply(Reply(later, Status::kOk, 66));
    p = m.PlotAt(later * kMs);
    ASSERT_EQ(p.runs.size(), 2u);
    EXPECT_EQ(p.runs[0].front().atUs, 3000 * kMs);
    EXPECT_EQ(p.runs[1].front().level, 66);
}

// The wire as the monitor sees it, for a robot that answers, sends garbage, answers late (40 ms: a window a
// little too wide would take it) or not at all. A loaded machine may hold the robot past a window now and
// then, so the counters are held against what the link reported, and the case's own outcome has to come.
TEST_F(LinkSessionTest, MonitorFollowsTheRobotsReplies) {
    struct Case {
        std::vector<std::string> options;
        Status status;
        const char* bytes;  // of the reply row
        const char* note;
    } cases[] = {
        {{"--level", "70"}, Status::kOk, "42 42 20 37 30 20", "ok"},
        {{"--garbage"}, Status::kGarbage, nullptr, "garbage"},
        {{"--delay", "40"}, Status::kLate, "42 42 20 37 30 20", "late"},
        {{"--silent"}, Status::kNone, "", "none"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.front());
        Connect(c.options);
        const auto count = [&](Status s) {
            return static_cast<std::uint64_t>(std::count_if(
                replies_.begin(), replies_.end(), [s](const ReplyRead& r) { return r.status == s; }));
        };
        ASSERT_TRUE(Drive([&] { return count(c.status) >= 3; }, 20s));
        const MonitorModel& m = traffic().monitor();
        const std::uint64_t n = replies_.size();
        const MonitorModel::Counters& k = m.counters();
        EXPECT_EQ(k.messages, sent_.size());
        EXPECT_EQ(k.replies, count(Status::kOk));
        EXPECT_EQ(k.bad, count(Status::kGarbage));
        EXPECT_EQ(k.missed, count(Status::kLate) + count(Status::kNone));
        EXPECT_TRUE(c.status == Status::kOk || k.replies == 0);  // no robot held up makes a valid reply
        EXPECT_EQ(m.device(), sim_->path());
        EXPECT_EQ(m.rowCount(), sent_.size() + n);

        // The newest message and reply rows, as the monitor writes them.
        bool sawSent = false, sawReply = false;
        for (std::size_t i = 0; i < m.rowCount(); ++i) {
            const MonitorText::Fields f = traffic().text().Of(m.row(i));
            if (!sawSent && m.row(i).kind == MonitorModel::Row::Kind::kSent) {
                sawSent = true;
                EXPECT_EQ((std::vector<std::string>(f.begin() + 1, f.end())),
                          (std::vector<std::string>{"k", "FF FF FF 80 80 80 80 F3", "-",
                                                    "RX 128 RY 128 LX 128 LY 128", "LED on", ""}));
            }
            if (!sawReply && m.row(i).kind == MonitorModel::Row::Kind::kReply &&
                m.row(i).reply.status == c.status) {
                sawReply = true;
                if (c.bytes) {
                    EXPECT_EQ(f[2], c.bytes);
                }
                EXPECT_EQ(f[5], c.status == Status::kOk ? "70" : "");
                EXPECT_EQ(f[6], c.note);
            }
        }
        EXPECT_TRUE(sawSent && sawReply);

        const MonitorModel::Plot p = m.PlotAt(LinkClockUs());
        EXPECT_EQ(p.runs.empty(), c.status != Status::kOk);
        EXPECT_TRUE(c.status == Status::kOk || p.gaps.size() == 1u);

        // Saved as text: a header (the program, the port and device, the date, the counters) and the column
        // names above one line per row, oldest first, the seven fields between tabs.
        const std::string log = PathOf("log.txt");
        const std::string counters = traffic().text().Counters(m, LinkClockUs());
        ASSERT_TRUE(traffic().text().Save(m, log).ok);
        std::ifstream in(log);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        std::string names = traffic().text().Heading(0);
        for (int c = 1; c < MonitorText::kColumns; ++c)
            names.append(1, '\t').append(traffic().text().Heading(c));
        const auto columns = std::find(lines.begin(), lines.end(), names);
        ASSERT_NE(columns, lines.end());
        const std::vector<std::string> header(lines.begin(), columns);
        EXPECT_EQ(header.front(), ProgramVersion());
        const QString today = QDate::currentDate().toString(Qt::ISODate);
        for (const std::string& part : {std::string("COM3"), sim_->path(), today.toStdString(),
                                        counters.substr(0, counters.find("Replies"))})
            EXPECT_TRUE(std::any_of(header.begin(), header.end(), [&](const std::string& l) {
                return l.find(part) != std::string::npos;
            })) << part;
        ASSERT_EQ(static_cast<std::size_t>(lines.end() - columns - 1), m.rowCount());
        EXPECT_EQ(std::count(columns[1].begin(), columns[1].end(), '\t'), MonitorText::kColumns - 1);
        EXPECT_EQ(columns[1].substr(12, 2), "\tk");
    }
}

TEST_F(LinkSessionTest, ALostPortCountsAndOpensAGapInThePlot) {
    Connect({});
    ASSERT_TRUE(Drive([&] { return replies_.size() >= 2; }, 10s));
    sim_->Kill(SIGKILL);
    ASSERT_TRUE(Drive([&] { return session_->state().link == LinkState::kReconnecting; }, 10s));
    const MonitorModel& m = traffic().monitor();
    EXPECT_EQ(m.counters().portErrors, 1u);
    const MonitorModel::Plot p = m.PlotAt(LinkClockUs());
    ASSERT_EQ(p.gaps.size(), 1u);
    EXPECT_EQ(p.gaps[0].first, p.runs.back().back().atUs);
}

}  // namespace
}  // namespace zanth
