// A port that keeps failing at once is tried again about once a second at first, then less and less often:
// a bridge that hangs up on every connection is never hammered, and a working one is found within seconds.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <iterator>
#include <mutex>
#include <vector>

#include "../link/loopback_listener.h"
#include "base/clock.h"
#include "control/session.h"
#include "link/background_open.h"
#include "link/port.h"
#include "session_fixture.h"

namespace zanth {
namespace {

using test::SessionTest;
using test::WaitFor;
using namespace std::chrono_literals;

// The wait before the next try, after so many tries in a row that failed at once.
TEST(ReopenDelay, AboutASecondThreeTimesThenTwiceAsLongEachTimeUpToFourSeconds) {
    const struct {
        int failedInARow;
        int delayMs;
    } cases[] = {
        {0, 0},  // the port had been working: it may be back at once
        {1, 900}, {2, 900}, {3, 900}, {4, 1800}, {5, 3600}, {6, 4000}, {7, 4000}, {1000, 4000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ControlSession::ReopenDelayMs(c.failedInARow), c.delayMs) << c.failedInARow;
}

// Every open of the port is timed, on the opener's thread.
class BackOffTest : public SessionTest {
  protected:
    void TimeOpens() {
        openPort_ = [this](const std::string& device, std::string* reason) {
            {
                std::lock_guard lock(mutex_);
                opensUs_.push_back(LinkClockUs());
            }
            return OpenLinkPort(device, -1, reason);
        };
    }
    std::vector<std::int64_t> OpensUs() {
        std::lock_guard lock(mutex_);
        return opensUs_;
    }

    std::mutex mutex_;
    std::vector<std::int64_t> opensUs_;
};

TEST_F(BackOffTest, ABridgeThatHangsUpAtOnceIsTriedLessOftenAfterThreeTries) {
    test::LoopbackListener bridge(16, SOCK_NONBLOCK);
    ports_["COM5"] = bridge.address();
    TimeOpens();
    auto s = Make();
    ASSERT_EQ(s->ToggleConnection(4).outcome, ConnectResult::Outcome::kConnecting);
    ASSERT_TRUE(WaitFor(
        [&] {
            for (int c; (c = accept(bridge.fd(), nullptr, nullptr)) >= 0;) close(c);
            s->Tick({});
            return OpensUs().size() >= 5;
        },
        20s));
    // Connect's open, three tries a second or so apart, then one after twice as long (the clock is read in
    // whole milliseconds).
    const std::vector<std::int64_t> opens = OpensUs();
    const std::int64_t waitedMs[] = {900, 900, 900, 1800};
    for (std::size_t i = 0; i < std::size(waitedMs); ++i)
        EXPECT_GE(opens[i + 1] - opens[i], waitedMs[i] * 1000 - 2000) << i;
    s->Close(SettingsPath());
}

}  // namespace
}  // namespace zanth
