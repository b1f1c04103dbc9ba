#include "sound/sound_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "base/clock.h"

namespace zanth {
namespace {

// One stretch of audible sound.
struct Heard {
    std::string file;
    std::uint32_t from;
    std::uint32_t to;
    bool operator==(const Heard&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Heard& h) {
    return os << h.file << " [" << h.from << ", " << h.to << ")";
}

// a comes before b on the wrapping 32-bit clock.
bool Before(std::uint32_t a, std::uint32_t b) {
    return static_cast<std::int32_t>(a - b) < 0;
}

// Stands in for the audio device: knows how long each file plays, follows the same clock as the rules and
// keeps a log of the calls and of what was actually audible.
class FakeOutput : public SoundOutput {
  public:
    FakeOutput() = default;
    explicit FakeOutput(std::map<std::string, std::uint32_t> durations) : durations_(std::move(durations)) {}

    void Start(const std::string& file) override {
        calls.push_back("start " + file);
        End(TickCount());
        Play(file);
    }
    void Retrigger(const std::string& file) override {
        calls.push_back("retrigger " + file);
        if (!Playing()) Play(file);
    }
    void Stop() override {
        calls.push_back("stop");
        End(TickCount());
    }

    // Everything audible so far, a sound still going counted to its natural end.
    std::vector<Heard> heard() const {
        std::vector<Heard> all = done_;
        if (open_) all.push_back(*open_);
        return all;
    }

    std::vector<std::string> calls;

  private:
    bool Playing() const { return open_ && Before(TickCount(), open_->to); }
    void Play(const std::string& file) {
        auto d = durations_.find(file);
        if (d == durations_.end()) return;  // empty or unplayable: silence
        const std::uint32_t now = TickCount();
        End(now);  // a sound that ended by itself goes to the log
        open_ = Heard{file, now, now + d->second};
    }
    void End(std::uint32_t at) {
        if (!open_) return;
        if (Before(at, open_->to)) open_->to = at;
        if (Before(open_->from, open_->to)) done_.push_back(*open_);
        open_.reset();
    }

    std::map<std::string, std::uint32_t> durations_;
    std::optional<Heard> open_;
    std::vector<Heard> done_;
};

constexpr int kL1 = 6, kR1 = 9, kF1 = 4;  // sound entries of some buttons

class SoundRulesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        now_ = 0;
        model_ = ControllerModel{};
        out_ = FakeOutput{{{"a.wav", 1000}, {"b.wav", 1020}, {"c.wav", 200}, {"one.wav", 1000}}};
        SetTickSource([this] { return now_; });
        model_.soundEffectCount = kSoundEffectCount;
        for (int i = 0; i < kSoundEffectCount; ++i) {
            model_.soundEffects[i].item = kSoundItems[i];
            model_.soundEffects[i].enabled = 1;
        }
    }
    void TearDown() override { SetTickSource({}); }

    SoundEffect& effect(int entry) { return model_.soundEffects[entry]; }
    void Hold(int entry, bool down) { model_.item(kSoundItems[entry]).keyDown = down ? 1 : 0; }
    void Set(int entry, std::string file, int length, int repeat = 0, int repeatMode = 0) {
        effect(entry).file = std::move(file);
        effect(entry).length = length;
        effect(entry).repeat = repeat;
        effect(entry).repeatMode = repeatMode;
    }
    // One control tick at the current time, then the clock moves on by one period.
    void Tick() {
        UpdateSounds(model_, out_);
        now_ += 50;
    }
    void RunUntil(std::uint32_t t) {
        while (static_cast<std::int32_t>(t - now_) > 0) Tick();
    }

    std::uint32_t now_ = 0;
    ControllerModel model_;
    FakeOutput out_;
};

struct HoldCase {
    const char* what;
    std::string file;
    int length, repeat, repeatMode;
    std::uint32_t releaseAt;
    std::vector<Heard> expected;
};

std::vector<Heard> Every(const std::string& file, std::uint32_t period, std::uint32_t audible, int n) {
    std::vector<Heard> v;
    for (int k = 0; k < n; ++k) v.push_back({file, k * period, k * period + audible});
    return v;
}

// One button pressed alone at 0 ms, through each row of the behaviour table.
TEST_F(SoundRulesTest, OneButtonHeldThenReleased) {
    std::vector<Heard> timedRepeatToEnd = Every("a.wav", 300, 300, 8);
    timedRepeatToEnd.push_back({"a.wav", 2400, 3400});
    const std::vector<HoldCase> cases = {
        {"untimed, once", "a.wav", 0, 0, 0, 2500, {{"a.wav", 0, 1000}}},
        {"untimed, released early, plays to its end", "a.wav", 0, 0, 0, 200, {{"a.wav", 0, 1000}}},
        // A 1020 ms file ends between ticks: the next play starts at the following tick.
        {"untimed repeat, back to back",
         "b.wav",
         0,
         1,
         0,
         2500,
         {{"b.wav", 0, 1020}, {"b.wav", 1050, 2070}, {"b.wav", 2100, 3120}}},
        {"timed, stop", "a.wav", 300, 0, 0, 2500, {{"a.wav", 0, 300}}},
        {"timed, stop, released early", "a.wav", 300, 0, 0, 100, {{"a.wav", 0, 300}}},
        {"timed, file length", "a.wav", 300, 0, 1, 2500, {{"a.wav", 0, 1000}}},
        {"timed repeat, stop", "a.wav", 300, 1, 0, 2500, Every("a.wav", 300, 300, 9)},
        {"timed repeat, file shorter than length", "c.wav", 300, 1, 0, 2500, Every("c.wav", 300, 200, 9)},
        {"timed repeat, file length", "a.wav", 300, 1, 1, 2500, timedRepeatToEnd},
    };
    for (const HoldCase& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        Set(kL1, c.file, c.length, c.repeat, c.repeatMode);
        Hold(kL1, true);
        RunUntil(c.releaseAt);
        Hold(kL1, false);
        RunUntil(6000);
        EXPECT_EQ(out_.heard(), c.expected);
        EXPECT_EQ(effect(kL1).playing, 0);
        EXPECT_EQ(model_.currentLength, 0);
    }
}

TEST_F(SoundRulesTest, TwoPressesInOneTickTheLaterIsHeardAndCurrent) {
    Set(kL1, "a.wav", 0);
    Set(kR1, "b.wav", 500);
    Hold(kR1, true);
    Hold(kL1, true);
    Tick();
    EXPECT_EQ(out_.calls, (std::vector<std::string>{"start a.wav", "start b.wav"}));
    EXPECT_EQ(model_.currentSound, kR1);
    EXPECT_EQ(model_.currentLength, 500);
    EXPECT_EQ(effect(kL1).playing, 1);
    EXPECT_EQ(effect(kR1).playing, 1);
    RunUntil(3000);
    EXPECT_EQ(out_.heard(), (std::vector<Heard>{{"b.wav", 0, 500}}));
}

TEST_F(SoundRulesTest, AnotherPressTakesOverEvenWithAnEmptyFile) {
    Set(kL1, "a.wav", 600);
    Set(kR1, "", 0);
    Hold(kL1, true);
    RunUntil(200);
    Hold(kR1, true);
    RunUntil(3000);
    // The empty entry ends L1's sound and its cut-off: nothing is stopped later.
    EXPECT_EQ(out_.heard(), (std::vector<Heard>{{"a.wav", 0, 200}}));
    EXPECT_EQ(out_.calls, (std::vector<std::string>{"start a.wav", "start "}));
    EXPECT_EQ(model_.currentSound, kR1);
    EXPECT_EQ(model_.currentLength, 0);
}

TEST_F(SoundRulesTest, SwitchedOffEntriesDoNotStartOrDisturb) {
    Set(kL1, "b.wav", 0, 1);
    Set(kR1, "a.wav", 0);
    effect(kR1).enabled = 0;
    Hold(kL1, true);
    RunUntil(100);
    Hold(kR1, true);
    RunUntil(600);
    // Switching the repeating entry OFF while held does not end its repetition before the release.
    ASSERT_TRUE(ToggleSoundEnabled(model_, kL1));
    RunUntil(1500);
    Hold(kL1, false);
    RunUntil(4000);
    EXPECT_EQ(out_.heard(), (std::vector<Heard>{{"b.wav", 0, 1020}, {"b.wav", 1050, 2070}}));
    // Pressed again while OFF: silent.
    Hold(kL1, true);
    RunUntil(5000);
    EXPECT_EQ(out_.heard().size(), 2u);
}

TEST_F(SoundRulesTest, OnlyExactlyOneEnablesAStart) {
    for (int enabled : {2, -1, 0}) {
        SCOPED_TRACE(enabled);
        SetUp();
        Set(kF1, "a.wav", 0);
        effect(kF1).enabled = enabled;
        Hold(kF1, true);
        RunUntil(now_ + 500);
        Hold(kF1, false);
        Tick();
        EXPECT_TRUE(out_.calls.empty());
        EXPECT_EQ(effect(kF1).playing, 0);
    }
}

// The repeat service looks only at the current entry, which a cut-off resets to the first one ("1").
TEST_F(SoundRulesTest, AfterACutOffOnlyButtonOneResumesItsRepetition) {
    for (int held : {0, 1}) {
        SCOPED_TRACE(held);
        SetUp();
        Set(held, "one.wav", 0, 1);
        Set(kF1, "c.wav", 300, 0, 0);
        Hold(held, true);
        RunUntil(100);
        Hold(kF1, true);  // cuts in at 100, cut off at 400
        RunUntil(1400);
        std::vector<Heard> expected{{"one.wav", 0, 100}, {"c.wav", 100, 300}};
        if (held == 0) expected.push_back({"one.wav", 450, 1450});  // resumed at the tick after the cut-off
        EXPECT_EQ(out_.heard(), expected);
    }
}

TEST_F(SoundRulesTest, StopSoundKeepsTheLatches) {
    Set(kL1, "a.wav", 0, 1);
    Set(kR1, "b.wav", 700);
    Hold(kL1, true);
    Hold(kR1, true);
    RunUntil(200);
    StopSound(model_, out_);
    EXPECT_EQ(model_.currentSound, 0);
    EXPECT_EQ(model_.currentLength, 0);
    EXPECT_EQ(effect(kL1).playing, 1);
    EXPECT_EQ(effect(kR1).playing, 1);
    RunUntil(3000);
    EXPECT_EQ(out_.heard(), (std::vector<Heard>{{"b.wav", 0, 200}}));
    // Released and pressed again: heard again.
    Hold(kR1, false);
    Tick();
    Hold(kR1, true);
    const std::uint32_t pressedAt = now_;
    RunUntil(pressedAt + 2000);
    EXPECT_EQ(out_.heard().back(), (Heard{"b.wav", pressedAt, pressedAt + 700}));
}

TEST_F(SoundRulesTest, NegativeLengthNeverCutsOffNorRepeats) {
    Set(kL1, "c.wav", -100, 1, 0);
    Set(kR1, "a.wav", 0, 1);
    Hold(kL1, true);
    RunUntil(5000);
    EXPECT_EQ(out_.calls, (std::vector<std::string>{"start c.wav"}));
    EXPECT_EQ(model_.currentLength, -100);
    // Another sound replaces the negative length, and with it the repetition comes back.
    Hold(kR1, true);
    RunUntil(7100);
    EXPECT_EQ(out_.heard(),
              (std::vector<Heard>{
                  {"c.wav", 0, 200}, {"a.wav", 5000, 6000}, {"a.wav", 6000, 7000}, {"a.wav", 7000, 8000}}));
}

TEST_F(SoundRulesTest, CutOffAcrossTheTickCounterWrap) {
    now_ = 0xFFFFFF00u;  // 256 ms before the wrap
    const std::uint32_t start = now_;
    Set(kL1, "a.wav", 400);
    Hold(kL1, true);
    Tick();
    while (out_.calls.size() == 1 && now_ != start + 2000) Tick();
    ASSERT_EQ(out_.calls, (std::vector<std::string>{"start a.wav", "stop"}));
    EXPECT_EQ(out_.heard(), (std::vector<Heard>{{"a.wav", start, start + 400}}));
    EXPECT_EQ(model_.currentLength, 0);
}

TEST_F(SoundRulesTest, ToggleSoundEnabledRows) {
    struct Case {
        int row, before, after;
        bool changed;
    };
    const Case cases[] = {
        {3, 1, 0, true},   {3, 0, 1, true},   {3, 2, 0, true},
        {15, 0, 1, true},  {0, -5, 0, true},  {-1, 1, 1, false},  // click below the rows
        {16, 1, 1, false},                                        // beyond the entries in use
        {31, 1, 1, false}, {32, 1, 1, false}, {1000, 1, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        const int probe = c.row >= 0 && c.row < 32 ? c.row : 0;
        for (auto& e : model_.soundEffects) e.enabled = c.before;
        EXPECT_EQ(ToggleSoundEnabled(model_, c.row), c.changed);
        EXPECT_EQ(model_.soundEffects[probe].enabled, c.after);
        // No other entry moved.
        for (int i = 0; i < 32; ++i) {
            if (i != probe || !c.changed) {
                EXPECT_EQ(model_.soundEffects[i].enabled, c.before) << i;
            }
        }
    }
}

TEST(ShortFileNameTest, Table) {
    struct Case {
        const char* path;
        const char* expected;
    };
    const Case cases[] = {
        {"", ""},
        {"a.wav", "a.wav"},
        {"C:\\Data\\a.wav", "a.wav"},
        {".\\Data\\", ".\\Data\\"},  // ends with a separator: shown whole
        {"/home/u/sounds/b.wav", "b.wav"},
        {"./Data/", "./Data/"},
        {"dir\\sub/c.wav", "c.wav"},
        {"dir/sub\\c.wav", "c.wav"},
        {"\\", "\\"},
        {"音声/効果音.wav", "効果音.wav"},
    };
    for (const Case& c : cases) EXPECT_EQ(ShortFileName(c.path), c.expected) << c.path;
}

TEST(SoundLabelTest, Table) {
    struct Case {
        const char* name;
        const char* file;
        const char* expected;
    };
    const Case cases[] = {
        {"Horn", "./Data/horn.wav", "Horn"},
        {"", "./Data/horn.wav", "horn.wav"},
        {"Horn", "", ""},  // a name without a file shows nothing
        {"", "", ""},
    };
    for (const Case& c : cases) {
        SoundEffect e;
        e.name = c.name;
        e.file = c.file;
        EXPECT_EQ(SoundLabel(e), c.expected) << c.name << "|" << c.file;
    }
}

}  // namespace
}  // namespace zanth
