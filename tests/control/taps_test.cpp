// Presses too short for any sample: each still reaches the robot, in one message, and is then let go.
#include <gtest/gtest.h>

#include "link/frame_decode.h"
#include "link_session.h"

namespace zanth::test {
namespace {

enum class Source { kKey, kMouse, kPad };

class TapsTest : public LinkSessionTest {
  protected:
    bool Carries(const SentMessage& m, int item) const {
        ControllerFrame frame{};
        std::copy(m.bytes.begin() + 1, m.bytes.end(), frame.begin());
        return (FrameDecoder(session_->model()).Decode(frame).held >> item & 1u) != 0;
    }
    // A press of `item` that is over before any device is read again.
    void Tap(Source source, int item) {
        const ControllerItem& it = session_->model().item(item);
        switch (source) {
            case Source::kKey:
                keyboard_->taps[static_cast<std::size_t>(it.keyCode)] = kKeyDownByte;
                break;
            case Source::kMouse:
                session_->NoteMousePress(ItemSet().set(static_cast<std::size_t>(item)));
                break;
            case Source::kPad: {
                GamepadState reading = GamepadState::Neutral();
                reading.buttons[static_cast<std::size_t>(it.padButton)] = kButtonDownByte;
                gamepad_->presses.push_back(reading);
                break;
            }
        }
    }
    // Taps `item` just after a tick: a message carries it, and the ones after it let it go.
    bool TapReachesTheRobotOnce(int item, Source source) {
        if (!Drive([&] { return sent_.size() >= 2; }, 10s)) return false;
        session_->Tick(inputs_);
        Tap(source, item);
        const std::size_t from = sent_.size();
        std::size_t carried = 0;
        auto found = [&] {
            for (std::size_t i = from; i < sent_.size(); ++i)
                if (Carries(sent_[i], item)) return (carried = i) != 0 || true;
            return false;
        };
        return Drive(found, 10s) && Drive([&] { return sent_.size() > carried + 2; }, 10s) &&
               !Carries(sent_.back(), item);
    }
};

TEST_F(TapsTest, ATapFromEverySourceRidesOneMessage) {
    for (Source source : {Source::kKey, Source::kMouse, Source::kPad}) {
        SCOPED_TRACE(static_cast<int>(source));
        Connect({});
        ASSERT_GE(session_->model().item(kItem1).padButton, 0);
        EXPECT_TRUE(TapReachesTheRobotOnce(kItem1, source));
        // The Link Monitor shows the tap as the robot got it (a recording takes the same messages).
        const MonitorModel& monitor = traffic().monitor();
        bool shown = false;
        for (std::size_t i = 0; i < monitor.rowCount(); ++i) {
            const auto& row = monitor.row(i);
            shown = shown || (row.kind == MonitorModel::Row::Kind::kSent && Carries(row.sent, kItem1));
        }
        EXPECT_TRUE(shown);
    }
}

TEST_F(TapsTest, AKeyTapOfModeSwitchesTheLedOnceAndAHeldKeyIsCarriedThroughout) {
    Connect({});
    auto led = [&](const SentMessage& m) {
        ControllerFrame frame{};
        std::copy(m.bytes.begin() + 1, m.bytes.end(), frame.begin());
        return FrameDecoder(session_->model()).Decode(frame).led;
    };
    ASSERT_TRUE(Drive([&] { return sent_.size() >= 2; }, 10s));
    const bool before = led(sent_.back());
    session_->Tick(inputs_);
    Tap(Source::kKey, kItemMode);
    const std::size_t from = sent_.size();
    ASSERT_TRUE(Drive([&] { return sent_.size() > from + 3; }, 10s));
    int flips = 0;
    for (std::size_t i = from; i < sent_.size(); ++i) flips += led(sent_[i]) != led(sent_[i - 1]) ? 1 : 0;
    EXPECT_EQ(flips, 1);
    EXPECT_NE(led(sent_.back()), before);

    Key(kItem2, true);
    ASSERT_TRUE(Drive([&] { return !sent_.empty() && Carries(sent_.back(), kItem2); }, 10s));
    const std::size_t held = sent_.size();
    ASSERT_TRUE(Drive([&] { return sent_.size() >= held + 3; }, 10s));
    for (std::size_t i = held; i < sent_.size(); ++i) EXPECT_TRUE(Carries(sent_[i], kItem2)) << i;
    Key(kItem2, false);
    const std::size_t let = sent_.size() + 1;  // the message under way may have been built before
    ASSERT_TRUE(Drive([&] { return sent_.size() > let; }, 10s));
    EXPECT_FALSE(Carries(sent_.back(), kItem2));
}

}  // namespace
}  // namespace zanth::test
