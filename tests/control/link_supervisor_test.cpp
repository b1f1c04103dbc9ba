// The connect and reopen rules over a link and an opener of the test's own making, in the test's own time:
// no port, no thread, no waiting.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "base/app_context.h"
#include "base/clock.h"
#include "control/link_supervisor.h"
#include "link/port.h"

namespace zanth {
namespace {

class NullPort final : public Port {
  public:
    const std::string& Device() const override { return device_; }
    PortResult Discard(int, int) override { return {}; }
    PortResult Read(std::uint8_t*, int, int, int) override { return {}; }
    PortResult Write(const WireMessage&, int, int) override { return {}; }
    PortResult Drain(int, int) override { return {}; }
    void Flush() override {}

  private:
    std::string device_ = "null";
};

struct FakeLink final : LinkHandle {
    bool Start(std::unique_ptr<Port>, std::string*) override { return running = true; }
    void Stop(std::optional<ControllerFrame>) override { running = false; }
    bool IsRunning() const override { return running; }
    LinkProof::Counts Counts() const override { return {}; }
    bool running = false;
};

struct FakeOpener final : PortOpener {
    void Listen(QObject*, Outcomes o) override { outcomes = std::move(o); }
    bool Begin(const std::string&, OpenFn, int, int, int delayMs, std::string* why) override {
        if (refuse) *why = "refused";
        if (!refuse) delays.push_back(delayMs);
        return !refuse;
    }
    void TryNow() override {}
    void Cancel() override {}
    std::unique_ptr<Port> Take() override { return std::move(port); }
    void Open() {
        port = std::make_unique<NullPort>();
        outcomes.opened();
    }
    Outcomes outcomes;
    std::unique_ptr<Port> port;
    std::vector<int> delays;  // of every Begin taken
    bool refuse = false;
};

TEST(LinkSupervisor, ALostPortIsTriedAgainUntilItAnswersAndIsPortLostWhenNoTryCanStart) {
    QTemporaryDir dir;
    const AppContext app(StartupInfo{"English", false, dir.path().toStdString(), {}, {}});
    std::uint32_t now = 1000;
    SetTickSource([&] { return now; });
    LinkStatus status;
    MonitorModel monitor;
    auto link = std::make_unique<FakeLink>();
    auto opener = std::make_unique<FakeOpener>();
    FakeLink& l = *link;
    FakeOpener& o = *opener;
    auto ports = std::make_unique<PortList>(
        app, std::map<std::string, std::string>{}, [] { return std::vector<std::string>{"/dev/robot"}; }, "",
        0, "");
    LinkSupervisor s(
        app, status, std::move(link), std::move(opener),
        [](const std::string&, std::string*) { return std::make_unique<NullPort>(); }, std::move(ports),
        monitor);
    ASSERT_EQ(s.Connect(0).outcome, ConnectResult::Outcome::kConnected);
    const LinkFailure unplugged{LinkFailure::Kind::kUnplugged, "/dev/robot", "gone"};

    now += 5000;  // it had been working: tried again at once
    s.OnLinkFailed(unplugged);
    EXPECT_FALSE(l.running);
    EXPECT_EQ(status.link, LinkState::kReconnecting);
    ASSERT_EQ(o.delays.size(), 1u);
    EXPECT_EQ(o.delays.back(), 0);

    o.Open();  // reopened, and dead again 200 ms later: a failed try, whose time counts toward the next
    now += 200;
    s.OnLinkFailed(unplugged);
    ASSERT_EQ(o.delays.size(), 2u);
    EXPECT_EQ(o.delays.back(), LinkSupervisor::ReopenDelayMs(1) - 200);

    o.Open();
    s.ConfirmLink(false);  // open, but nothing proves it yet
    EXPECT_EQ(status.link, LinkState::kReconnecting);
    s.ConfirmLink(true);
    EXPECT_EQ(status.link, LinkState::kConnected);
    EXPECT_FALSE(status.failure);

    o.refuse = true;
    now += 5000;
    s.OnLinkFailed(unplugged);
    EXPECT_EQ(status.link, LinkState::kPortLost);
    EXPECT_TRUE(status.failure);
    SetTickSource(nullptr);
}

}  // namespace
}  // namespace zanth
