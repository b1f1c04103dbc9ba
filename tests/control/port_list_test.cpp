// The port list a user can recognise: labels from the system's names, the remembered device found again
// after the order changed, and a selection that follows its device while devices come and go.
#include <poll.h>

#include <gtest/gtest.h>

#include "../link/device_tree.h"
#include "control/session.h"
#include "link/port.h"
#include "model/ini_file.h"
#include "session_fixture.h"

namespace zanth {
namespace {

using test::DeviceTree;
using test::SessionTest;
using test::WaitFor;

const test::UsbInfo kFtdi{"0403", "6001", "FT232R USB UART", "FTDI", "A50285BI"};
const test::UsbInfo kCh340{"1a86", "7523", "", "", ""};
const char* const kFtdiId = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";

// A port that opens and then only waits: enough for Connect to succeed.
class IdlePort final : public Port {
  public:
    explicit IdlePort(std::string device) : device_(std::move(device)) {}
    const std::string& Device() const override { return device_; }
    PortResult Discard(int ms, int wakeFd) override { return Wait(ms, wakeFd); }
    PortResult Read(std::uint8_t*, int, int ms, int wakeFd) override { return Wait(ms, wakeFd); }
    PortResult Write(const WireMessage& m, int, int) override {
        PortResult r;
        r.count = static_cast<int>(m.size());
        return r;
    }
    PortResult Drain(int, int) override { return {}; }
    void Flush() override {}

  private:
    static PortResult Wait(int ms, int wakeFd) {
        pollfd p{wakeFd, POLLIN, 0};
        PortResult r;
        if (poll(&p, wakeFd >= 0 ? 1 : 0, ms) > 0) r.status = PortResult::Status::kWoken;
        return r;
    }
    std::string device_;
};

class PortListTest : public SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        deviceRoot_ = tree_.root();
        openPort_ = [this](const std::string& device, std::string*) -> std::unique_ptr<Port> {
            opened_.push_back(device);
            return std::make_unique<IdlePort>(device);
        };
    }
    DeviceTree tree_;
    std::vector<std::string> opened_;
};

TEST_F(PortListTest, EntriesNameWhatTheyOpen) {
    tree_.AddUsb("ttyUSB0", "1-1", kFtdi, kFtdiId);
    tree_.AddUsb("ttyUSB1", "1-2", kCh340);
    tree_.AddRfcomm("rfcomm0", "98:D3:31:F5:12:34");
    tree_.AddNode("ttyS0", "");
    ports_["COM6"] = "tcp://esp-link.local:23";
    auto s = Make();
    const std::vector<std::string> labels = s->PortLabels();
    ASSERT_EQ(labels.size(), 48u);
    EXPECT_EQ(labels[0], "COM1 \u2014 FT232R USB UART (ttyUSB0)");
    EXPECT_EQ(labels[1], "COM2 \u2014 USB serial (ttyUSB1)");
    EXPECT_EQ(labels[2], "COM3 \u2014 Bluetooth 98:D3:31:F5:12:34 (rfcomm0)");
    EXPECT_EQ(labels[3], "COM4 \u2014 Serial port (ttyS0)");
    EXPECT_EQ(labels[5], "COM6 \u2014 TCP (esp-link.local:23)");
    EXPECT_EQ(labels[4], "COM5");

    // Two adapters of one make are told apart by their serial numbers.
    s.reset();
    tree_.AddUsb("ttyUSB2", "1-3", {"0403", "6001", "FT232R USB UART", "FTDI", "B7"});
    auto twins = Make();
    EXPECT_EQ(twins->PortLabels()[0], "COM1 \u2014 FT232R USB UART A50285BI (ttyUSB0)");
    EXPECT_EQ(twins->PortLabels()[2], "COM3 \u2014 FT232R USB UART B7 (ttyUSB2)");
}

TEST_F(PortListTest, TheSameRobotIsSelectedNextTimeWhateverTheOrder) {
    tree_.AddUsb("ttyUSB0", "1-1", kFtdi, kFtdiId);
    {
        auto s = Make();
        s->NotePortChoice(0);
        ASSERT_EQ(s->ToggleConnection(0).outcome, ConnectResult::Outcome::kConnected);
        EXPECT_EQ(s->rememberedDevice(), tree_.ById(kFtdiId));
        ASSERT_TRUE(s->Close(SettingsPath()).ok);
    }
    EXPECT_EQ(IniFile::Load(SettingsPath()).GetString("SYSTEM", "PORTDEVICE", "", 4096), tree_.ById(kFtdiId));
    // Next day a second adapter is plugged in first: it takes ttyUSB0 and COM1.
    tree_.Remove("ttyUSB0");
    tree_.AddUsb("ttyUSB0", "1-2", kCh340);
    tree_.AddUsb("ttyUSB1", "1-1", kFtdi, kFtdiId);
    auto s = Make();
    EXPECT_EQ(s->comPortIndex(), 0);  // PORT as saved
    const int selected = s->PortSelection(-1);
    ASSERT_EQ(selected, 1);
    EXPECT_EQ(s->PortLabels()[1], "COM2 \u2014 FT232R USB UART (ttyUSB1)");
    ASSERT_EQ(s->ToggleConnection(selected).outcome, ConnectResult::Outcome::kConnected);
    EXPECT_EQ(opened_.back(), tree_.Dev("ttyUSB1"));
}

TEST_F(PortListTest, TheListFollowsDevicesAndTheSelectionItsDevice) {
    tree_.AddUsb("ttyUSB0", "1-1", kCh340);
    tree_.AddUsb("ttyUSB1", "1-2", kFtdi, kFtdiId);
    auto s = Make();
    int changes = 0;
    QObject::connect(s.get(), &ControlSession::portsChanged, [&] { ++changes; });
    s->NotePortChoice(1);  // the user picks the FTDI adapter, COM2
    auto ftdiAt = [&](int index) {
        return s->PortTable()[static_cast<std::size_t>(index)].name == "ttyUSB1";
    };

    // The other adapter goes: the FTDI is COM1 now, and stays selected.
    tree_.Remove("ttyUSB0");
    ASSERT_TRUE(WaitFor([&] { return ftdiAt(0); }));
    EXPECT_EQ(s->PortSelection(1), 0);
    // The FTDI itself goes: the selection stays where it was ...
    tree_.Remove("ttyUSB1");
    ASSERT_TRUE(WaitFor([&] { return !s->PortTable()[0].present(); }));
    EXPECT_EQ(s->PortSelection(0), 0);
    // ... until it is back, wherever it lands.
    tree_.AddUsb("ttyUSB0", "1-1", kCh340);
    tree_.AddUsb("ttyUSB1", "1-2", kFtdi, kFtdiId);
    ASSERT_TRUE(WaitFor([&] { return ftdiAt(1); }));
    EXPECT_EQ(s->PortSelection(0), 1);
    EXPECT_GE(changes, 3);
}

// The simulated robot comes after COM48, so every stored COM index keeps its entry; connected, it is
// remembered by its name alone and PORT keeps the COM index it held.
TEST_F(PortListTest, TheSimulatedRobotFollowsTheComEntriesAndIsRememberedByName) {
    setenv("ZANTH_ROBOT_SIM", "/bin/true", 1);
    const int sim = ControlSession::kPortCount;
    {
        auto s = Make();
        ASSERT_EQ(s->PortLabels().size(), static_cast<std::size_t>(sim + 1));
        EXPECT_EQ(s->PortLabels()[sim], "Simulated robot");
        s->NotePortChoice(sim);
        EXPECT_EQ(s->ToggleConnection(sim).outcome, ConnectResult::Outcome::kConnecting);
        ASSERT_TRUE(WaitFor([&] { return s->connected(); }));
        EXPECT_EQ(opened_.back(), "sim://zanth-robot-sim");
        EXPECT_EQ(s->comPortIndex(), 0);
        ASSERT_TRUE(s->Close(SettingsPath()).ok);
    }
    const IniFile saved = IniFile::Load(SettingsPath());
    EXPECT_EQ(saved.GetString("SYSTEM", "PORT", "", 16), "0");
    EXPECT_EQ(saved.GetString("SYSTEM", "PORTDEVICE", "", 4096), "sim://zanth-robot-sim");
    EXPECT_EQ(Make()->PortSelection(-1), sim);
    // Without the simulator the list is COM1..COM48 as ever, and the saved index is selected.
    setenv("ZANTH_ROBOT_SIM", "", 1);
    auto without = Make();
    EXPECT_EQ(without->PortLabels().size(), static_cast<std::size_t>(sim));
    EXPECT_EQ(without->PortSelection(-1), 0);
}

}  // namespace
}  // namespace zanth
