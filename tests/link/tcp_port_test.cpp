#include "link/tcp_port.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "base/reason_text.h"
#include "full_listener.h"
#include "link/frame.h"
#include "link/link_worker.h"
#include "link/ports.h"
#include "link/wire.h"
#include "link_test_util.h"
#include "loopback_listener.h"
#include "sim_process.h"

namespace zanth {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

TEST(TcpPort, AddressesOfTheFormTcpHostPortAndWhyOthersAreRefused) {
    const struct {
        std::string address;
        const char* host;  // null: refused, for the reason that holds `says`
        const char* port;
        const char* says;
    } cases[] = {
        {"tcp://192.168.4.1:23", "192.168.4.1", "23", nullptr},
        {"TCP://esp-link.local:2000", "esp-link.local", "2000", nullptr},
        {"tcp://[::1]:5000", "::1", "5000", nullptr},
        {"tcp://127.0.0.1", nullptr, nullptr, "no port"},
        {"tcp://host:", nullptr, nullptr, "no port"},
        {"tcp://[::1]", nullptr, nullptr, "no port"},
        {"tcp://host:0", nullptr, nullptr, "1 to 65535"},
        {"tcp://host:65536", nullptr, nullptr, "1 to 65535"},
        {"tcp://host:23/x", nullptr, nullptr, "1 to 65535"},
        {"tcp://:23", nullptr, nullptr, "no host"},
        {"tcp://", nullptr, nullptr, "no host"},
        {"tcp://a/b:23", nullptr, nullptr, "host name"},
        {"tcp://[::1:23", nullptr, nullptr, "host name"},
        {"tcp://" + std::string(kMaxDevicePathBytes, 'h') + ":23", nullptr, nullptr, "path too long"},
        {"/dev/ttyUSB0", nullptr, nullptr, "not a tcp"},
    };
    for (const auto& c : cases) {
        std::string host, port, reason;
        const bool ok = ParseTcpAddress(c.address, &host, &port, &reason);
        EXPECT_EQ(ok, c.host != nullptr) << c.address;
        if (ok && c.host != nullptr) {
            EXPECT_EQ(host, c.host) << c.address;
            EXPECT_EQ(port, c.port) << c.address;
        } else if (!ok && c.says != nullptr) {
            EXPECT_NE(reason.find(c.says), std::string::npos) << c.address << ": " << reason;
            // Shown to the user: in Japanese too, except for what the program never hands the parser.
            if (c.address.rfind("tcp://", 0) == 0) {
                EXPECT_NE(ReasonText(reason, Language::kJapanese), reason) << reason;
            }
        }
    }
}

TEST(TcpPort, ConnectKeepsItsTimeLimitAndEndsAtOnceWhenWoken) {
    test::FullListener full;
    ASSERT_FALSE(full.address().empty());
    std::string reason;
    auto start = Clock::now();
    EXPECT_EQ(TcpPort::Open(full.address(), 300, -1, &reason), nullptr);
    EXPECT_LT(Clock::now() - start, 300ms + std::chrono::milliseconds(test::kStallMs));
    // It gave up for want of time, not at once for another reason.
    EXPECT_EQ(reason, std::strerror(ETIMEDOUT));

    // Woken, it does not wait out even half of its limit.
    const int wake = eventfd(1, EFD_CLOEXEC);  // already readable
    start = Clock::now();
    EXPECT_EQ(TcpPort::Open(full.address(), 5000, wake, &reason), nullptr);
    EXPECT_LT(Clock::now() - start, 2500ms);
    close(wake);
}

TEST(TcpPort, TalksToTheBridgeAndNoticesItGoing) {
    test::SimProcess sim({"--tcp", "0", "--level", "66"});
    ASSERT_EQ(sim.path().rfind("tcp://127.0.0.1:", 0), 0u) << sim.path();
    std::string reason;
    auto port = TcpPort::Open(sim.path(), 2000, -1, &reason);
    ASSERT_NE(port, nullptr) << reason;
    ASSERT_EQ(port->Write(BuildMessage(NeutralFrame(true), true), 1000, -1).status, PortResult::Status::kOk);
    EXPECT_EQ(port->Drain(1000, -1).status, PortResult::Status::kOk);
    std::uint8_t reply[32];
    const PortResult r = port->Read(reply, 6, 2000, -1);
    ASSERT_EQ(r.status, PortResult::Status::kOk);
    EXPECT_EQ(ParseBatteryReply(reply, static_cast<std::size_t>(r.count)), 66);
    EXPECT_EQ(sim.ReadLine(2000).substr(0, 25), "k FF FF FF 80 80 80 80 F3");

    sim.Kill(SIGTERM);
    const PortResult gone = port->Discard(2000, -1);
    EXPECT_EQ(gone.status, PortResult::Status::kFailed);
    EXPECT_EQ(gone.kind, LinkFailure::Kind::kHungUp);
}

// A bridge may say why before it closes (ser2net when the serial device behind it cannot be opened): a whole
// line of plain text is kept with the failure; garbage, or a line cut short, is not shown as a reason.
TEST(TcpPort, TheLineABridgeSaysBeforeItClosesIsKept) {
    const struct {
        std::string said;
        std::string words;
    } cases[] = {
        {"Device open failure: Value or file not found\r\n", "Device open failure: Value or file not found"},
        {"\x01\x02\xff\xfe\n", ""},
        {"no line end", ""},
        {std::string(300, 'x') + "\n", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        test::LoopbackListener bridge(1);
        std::string reason;
        auto port = TcpPort::Open(bridge.address(), 2000, -1, &reason);
        ASSERT_NE(port, nullptr) << reason;
        const int peer = accept(bridge.fd(), nullptr, nullptr);
        ASSERT_GE(peer, 0);
        ASSERT_EQ(send(peer, c.said.data(), c.said.size(), 0), static_cast<ssize_t>(c.said.size()));
        close(peer);
        LinkFailure failure;
        const PortResult gone = port->Discard(2000, -1);
        failure.kind = gone.kind;
        failure.detail = gone.detail;
        EXPECT_EQ(gone.kind, LinkFailure::Kind::kHungUp) << c.said;
        EXPECT_EQ(BridgeWords(failure), c.words) << c.said;
    }
}

// Output handed to a socket still goes out after it is closed, so the way out waits for nothing: a reading
// bridge still gets the final frame, and one that reads nothing holds nothing up.
TEST(TcpPort, StopLeavesTheFinalFrameToTheSocketAndNeverWaitsOnABridgeThatDoesNotRead) {
    const ControllerFrame moving = {0xFF, 0xFF, 0xFB, 0x80, 0x80, 0x10, 0x80, 0xF3};
    const std::string neutral = "K FF FF FF 80 80 80 80 F3 ";
    {
        test::SimProcess sim({"--tcp", "0"});
        std::string reason;
        auto port = TcpPort::Open(sim.path(), 2000, -1, &reason);
        ASSERT_NE(port, nullptr) << reason;
        LinkWorker worker;
        ASSERT_TRUE(worker.Start(std::move(port)));
        worker.SetFrame(moving, false);
        ASSERT_TRUE(test::RunUntil([&] { return worker.MessagesSent() >= 2; }, 10000));
        worker.Stop(NeutralFrame(true));
        std::string line;
        for (int i = 0; i < 100 && line.rfind(neutral, 0) != 0; ++i) line = sim.ReadLine(5000);
        EXPECT_EQ(line.substr(0, neutral.size()), neutral) << "the final frame never came";
    }

    // A bridge that accepts the connection and never reads from it, with the smallest receive buffer there
    // is.
    test::LoopbackListener deaf(1, 0, 1);
    ASSERT_FALSE(deaf.address().empty());
    std::string reason;
    auto port = TcpPort::Open(deaf.address(), 2000, -1, &reason);
    ASSERT_NE(port, nullptr) << reason;
    // A write given no time on a socket that has no room returns at once; and the port says that what it
    // took still goes after it closes, so the link's way out waits on nothing (LinkStop tests that part).
    const WireMessage filler = BuildMessage(moving, false);
    int written = 0;
    while (written < 1000000 && port->Write(filler, 0, -1).status == PortResult::Status::kOk) ++written;
    ASSERT_LT(written, 1000000);
    EXPECT_TRUE(port->OutputOutlivesClose());
}

TEST(TcpPort, ARefusedConnectSaysSo) {
    // A port that was free a moment ago: nobody listens there.
    std::string address;
    {
        test::FullListener probe;
        address = probe.address();
    }
    std::string reason;
    EXPECT_EQ(TcpPort::Open(address, 2000, -1, &reason), nullptr);
    EXPECT_NE(reason.find("refused"), std::string::npos) << reason;
}

}  // namespace
}  // namespace zanth
