#include "control/press_latch.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace zanth {
namespace {

// One row: a tap of item 0 and the messages around it, as words:
//   P   the item's press begins (held or let go again at once: the latch cannot tell)
//   S+  a frame is built and must carry the press; S- must not
//   M   the message of the newest frame leaves; M0 one built earlier, without the press, leaves instead
struct Row {
    const char* what;
    const char* steps;
};

const Row kRows[] = {
    {"a tap between two samples rides one message, then is let go", "P S+ M S- M S-"},
    {"a tap after the sample waits for the next message", "S- P M S+ M S-"},
    {"press, release, press: the second press rides a message of its own", "P S+ P M S+ M S-"},
    {"a frame sampled again before its message still carries the tap", "P S+ S+ M S-"},
    {"an earlier message leaving without the tap does not let it go", "P S+ M0 S+ M S-"},
    {"two taps before one message are carried by that message", "P P S+ M S-"},
    {"nothing pressed, nothing carried", "S- M S- M0 S-"},
};

TEST(PressLatch, EveryPressIsCarriedByAMessageBuiltAfterIt) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        PressLatch latch;
        const ItemSet tap = ItemSet().set(0);
        ItemSet lastFrame;
        std::istringstream steps(row.steps);
        std::string step;
        int n = 0;
        while (steps >> step) {
            SCOPED_TRACE("step " + std::to_string(++n) + " " + step);
            if (step == "P") {
                latch.Press(tap);
            } else if (step == "S+" || step == "S-") {
                lastFrame = latch.Sample();
                EXPECT_EQ(lastFrame.test(0), step == "S+");
                EXPECT_EQ(latch.Pending().test(0), step == "S+");
            } else if (step == "M") {
                latch.Sent(lastFrame);
            } else {
                ASSERT_EQ(step, "M0");
                latch.Sent(ItemSet());
            }
        }
    }
}

TEST(PressLatch, OtherItemsAreLeftAlone) {
    PressLatch latch;
    latch.Press(ItemSet().set(1).set(4));
    latch.Sample();
    latch.Sent(ItemSet().set(1));
    EXPECT_EQ(latch.Sample(), ItemSet().set(4));
    latch.Clear();
    EXPECT_TRUE(latch.Pending().none());
}

}  // namespace
}  // namespace zanth
