#include "link/background_open.h"

#include <poll.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "link_test_util.h"
#include "stuck_port.h"

namespace zanth {
namespace {

// A try replaced by a new Begin may have sent a result that has not arrived yet: the owner hears of the new
// try only, and never takes the old one's failure for it.
TEST(BackgroundOpener, AnOldTrysLateResultIsNotTakenForTheNewOne) {
    test::EnsureApp();
    BackgroundOpener opener;
    std::vector<std::string> heard;
    QObject here;
    QObject::connect(&opener, &BackgroundOpener::opened, &here, [&] { heard.push_back("opened"); });
    QObject::connect(&opener, &BackgroundOpener::tryFailed, &here,
                     [&](const QString& why) { heard.push_back("failed: " + why.toStdString()); });
    QObject::connect(&opener, &BackgroundOpener::gaveUp, &here,
                     [&](const QString& why) { heard.push_back("gave up: " + why.toStdString()); });

    // The old try fails once, then hangs in its second attempt until it is cancelled.
    std::atomic<int> oldAttempts{0};
    auto old = [&](const std::string&, int wakeFd, std::string* reason) -> std::unique_ptr<Port> {
        if (++oldAttempts == 1) {
            *reason = "old";
            return nullptr;
        }
        pollfd p{wakeFd, POLLIN, 0};
        poll(&p, 1, -1);
        return nullptr;
    };
    ASSERT_TRUE(opener.Begin("old", old, 1, 0));
    // Its second attempt began: the failure of the first has been sent. No event loop runs meanwhile, so the
    // failure is still on its way when the new try begins.
    const auto until = test::Clock::now() + std::chrono::seconds(10);
    while (oldAttempts < 2 && test::Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(oldAttempts, 2);

    auto log = std::make_shared<test::StuckLog>();
    auto fresh = [&](const std::string&, int, std::string*) -> std::unique_ptr<Port> {
        return std::make_unique<test::StuckPort>(log, test::Stuck::kBeforeTheMessage);
    };
    ASSERT_TRUE(opener.Begin("new", fresh, 1000, 0));
    ASSERT_TRUE(test::RunUntil([&] { return !heard.empty(); }, 10000));
    EXPECT_EQ(heard, std::vector<std::string>{"opened"});
    EXPECT_NE(opener.Take(), nullptr);
}

}  // namespace
}  // namespace zanth
