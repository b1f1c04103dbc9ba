#include "control/match_clock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zanth {
namespace {

using std::chrono::seconds;
using Kind = MatchEvent::Kind;

MatchTime At(double s) {
    return MatchTime(static_cast<long long>(s * 1000));
}

MatchEvent Began(int phase) {
    return {Kind::kPhaseBegan, phase};
}
const MatchEvent kEnded{Kind::kEnded, 0};

// Countdown 5 s, Drive 1:30, Endgame 0:30.
TEST(MatchClockTest, PhasesBeginInOrderAndTheTimeLeftFollowsThem) {
    MatchClock clock;
    EXPECT_EQ(MatchTimeText(clock.TimeLeftMs(At(0))), "0:05");  // idle: as at the start
    ASSERT_TRUE(clock.Start(At(100)));
    EXPECT_FALSE(clock.Start(At(100)));
    const struct {
        double at;
        std::vector<MatchEvent> events;
        std::string left;
        bool drives;
    } steps[] = {
        {100, {Began(0)}, "0:05", false}, {104.001, {}, "0:01", false},    {105, {Began(1)}, "2:00", true},
        {194.5, {}, "0:31", true},        {195, {Began(2)}, "0:30", true}, {224.999, {}, "0:01", true},
        {225, {kEnded}, "0:00", true},    {300, {}, "0:00", true},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(clock.Advance(At(s.at)), s.events) << s.at;
        EXPECT_EQ(MatchTimeText(clock.TimeLeftMs(At(s.at))), s.left) << s.at;
        EXPECT_EQ(clock.Drives(At(s.at)), s.drives) << s.at;
    }
    EXPECT_EQ(clock.state(), MatchState::kEnded);
}

TEST(MatchClockTest, AStallReportsEveryPhaseItSkippedThenTheEnd) {
    MatchClock clock;
    clock.Start(At(0));
    EXPECT_EQ(clock.Advance(At(50)), (std::vector<MatchEvent>{Began(0), Began(1)}));
    EXPECT_FALSE(clock.Drives(At(1000)));  // past the end, before Advance says so
    EXPECT_EQ(clock.Advance(At(1000)), (std::vector<MatchEvent>{Began(2), kEnded}));
    MatchClock again;
    again.Start(At(0));
    EXPECT_EQ(again.Advance(At(500)), (std::vector<MatchEvent>{Began(0), Began(1), Began(2), kEnded}));
}

TEST(MatchClockTest, PauseKeepsTheTimeAndHoldsTheRobot) {
    MatchClock clock;
    clock.Start(At(0));
    clock.Advance(At(10));
    ASSERT_TRUE(clock.Pause(At(10)));
    EXPECT_FALSE(clock.Drives(At(10)));
    EXPECT_EQ(clock.TimeLeftMs(At(500)), MatchTime(seconds(115)).count());
    EXPECT_EQ(clock.Advance(At(500)), std::vector<MatchEvent>{});
    ASSERT_TRUE(clock.Resume(At(500)));
    EXPECT_TRUE(clock.Drives(At(500)));
    EXPECT_EQ(clock.TimeLeftMs(At(600)), MatchTime(seconds(15)).count());
    EXPECT_EQ(clock.Advance(At(600)), std::vector<MatchEvent>{Began(2)});
}

TEST(MatchClockTest, AbortEndsWithoutTheEndAndLetsGo) {
    MatchClock clock;
    clock.Start(At(0));
    clock.Advance(At(1));
    EXPECT_FALSE(clock.SetPlan(MatchPlan{}));  // not while it runs
    ASSERT_TRUE(clock.Abort(At(2)));
    EXPECT_EQ(clock.state(), MatchState::kAborted);
    EXPECT_EQ(clock.Advance(At(1000)), std::vector<MatchEvent>{});
    EXPECT_TRUE(clock.Drives(At(2)));
    EXPECT_EQ(clock.TimeLeftMs(At(2)), 0);
    // A new plan, and a start after the abort runs it from its first phase.
    ASSERT_TRUE(clock.SetPlan(MatchPlan{"One", {{"Only", 2, 3, true}}}));
    ASSERT_TRUE(clock.Start(At(10)));
    EXPECT_EQ(clock.Advance(At(12)), (std::vector<MatchEvent>{Began(0), kEnded}));
}

TEST(MatchClockTest, TimeTextRoundsUp) {
    const struct {
        long long ms;
        const char* text;
    } cases[] = {{0, "0:00"},    {-5, "0:00"},     {1, "0:01"},       {1000, "0:01"},
                 {1001, "0:02"}, {59'001, "1:00"}, {119'000, "1:59"}, {600'000, "10:00"}};
    for (const auto& c : cases) EXPECT_EQ(MatchTimeText(c.ms), c.text) << c.ms;
}

TEST(MatchTallyTest, CountsEachSpanAsTheStateThatBeganIt) {
    MatchTally tally("Practice");
    const MatchSample samples[] = {
        {At(0), true, false, std::nullopt, false, false},  // countdown: no drive time
        {At(5), true, false, 80, false, true},
        {At(65), true, true, std::nullopt, false, true},  // port lost for 4 s
        {At(69), true, false, 62, false, true},
        {At(70), true, false, 70, true, true},  // stopped for 10 s
        {At(80), true, false, std::nullopt, false, true},
        {At(81), true, false, std::nullopt, true, true},
        {At(125), true, false, std::nullopt, true, true},
    };
    for (const MatchSample& s : samples) tally.Feed(s);
    EXPECT_EQ(tally.driveTime(), seconds(60 + 1 + 1));
    EXPECT_EQ(tally.portLostTime(), seconds(4));
    EXPECT_EQ(tally.lowestBattery(), 62);
    EXPECT_EQ(tally.stops(), 2);
    EXPECT_EQ(MatchSummaryText(tally, Language::kEnglish),
              "Match Practice: drive 1:02, lowest battery 62, port lost 0:04, stops 2");
    EXPECT_NE(MatchSummaryText(MatchTally("P"), Language::kJapanese).find("なし"), std::string::npos);
}

TEST(MatchRecordingNameTest, NamesAreSafeAndBounded) {
    std::tm start{};
    start.tm_year = 126;
    start.tm_mon = 11;
    start.tm_mday = 8;
    start.tm_hour = 19;
    start.tm_min = 30;
    start.tm_sec = 5;
    EXPECT_EQ(MatchRecordingName("Practice", start), "Practice 2026-12-08 19-30-05.zsr");
    EXPECT_EQ(MatchRecordingName("../a:b*\n", start), "_._a_b__ 2026-12-08 19-30-05.zsr");
    EXPECT_EQ(MatchRecordingName("", start), "Match 2026-12-08 19-30-05.zsr");
    const std::string longName = MatchRecordingName(std::string(300, 'x'), start);
    EXPECT_LE(longName.size(), 100u);
    EXPECT_EQ(longName.substr(longName.size() - 24), " 2026-12-08 19-30-05.zsr");
}

}  // namespace
}  // namespace zanth
