#include "link/port_catalog.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/reason_text.h"
#include "device_tree.h"
#include "link/background_open.h"
#include "link/ports.h"
#include "link_test_util.h"
#include "model/settings.h"

namespace zanth {
namespace {

using test::DeviceTree;
using test::UsbInfo;
using Kind = SerialDevice::Kind;

// Two USB adapters, a board's own ACM port, a Bluetooth module and a built-in port, plus what else lives
// in /dev.
void Populate(DeviceTree& tree) {
    tree.AddUsb("ttyUSB1", "1-2", {"0403", "6001", "FT232R USB UART", "FTDI", "A50285BI"},
                "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    tree.AddUsb("ttyUSB0", "1-1", {"1a86", "7523", "", "", ""});  // a CH340 that names nothing
    tree.AddUsb("ttyACM0", "1-3", {"2341", "0043", "Arduino Uno", "Arduino (www.arduino.cc)", "7593"},
                "usb-Arduino__www.arduino.cc__0043_7593-if00");
    tree.AddRfcomm("rfcomm0", "98:D3:31:F5:12:34");
    for (const char* other : {"ttyS0", "tty0", "console", "ttyUSB", "rfcommX"}) tree.AddNode(other, "");
}

TEST(PortCatalog, DevicesCountInGroupsInNumericOrder) {
    const std::vector<std::string> listing = {"ttyS1",   "ttyUSB10", "ttyUSB2",  "ttyACM0", "tty0",
                                              "ttyS0",   "ttyUSB",   "ttyUSBx1", "ttyS10",  "ttyS2",
                                              "console", "pts",      "ttyACM1",  "rfcomm1", "rfcomm0"};
    EXPECT_EQ(OrderSerialNames(listing),
              (std::vector<std::string>{"ttyUSB2", "ttyUSB10", "ttyACM0", "ttyACM1", "rfcomm0", "rfcomm1",
                                        "ttyS0", "ttyS1", "ttyS2", "ttyS10"}));
}

TEST(PortCatalog, DevicesInCountingOrderWithWhatTheSystemTells) {
    DeviceTree tree;
    Populate(tree);
    const std::vector<SerialDevice> devices = ScanSerialDevices(tree.root());
    struct Expected {
        std::string name;
        Kind kind;
        std::string product, usbId, serial, stable;
    };
    const Expected expected[] = {
        {"ttyUSB0", Kind::kUsb, "", "1a86:7523", "", tree.Dev("ttyUSB0")},
        {"ttyUSB1", Kind::kUsb, "FT232R USB UART", "0403:6001", "A50285BI",
         tree.ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0")},
        {"ttyACM0", Kind::kUsb, "Arduino Uno", "2341:0043", "7593",
         tree.ById("usb-Arduino__www.arduino.cc__0043_7593-if00")},
        {"rfcomm0", Kind::kBluetooth, "98:D3:31:F5:12:34", "", "", tree.Dev("rfcomm0")},
        {"ttyS0", Kind::kBuiltIn, "", "", "", tree.Dev("ttyS0")},
    };
    ASSERT_EQ(devices.size(), std::size(expected));
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const SerialDevice& d = devices[i];
        const Expected& e = expected[i];
        EXPECT_EQ(d.name, e.name) << i;
        EXPECT_EQ(d.path, tree.Dev(e.name)) << i;
        EXPECT_EQ(d.kind, e.kind) << e.name;
        EXPECT_EQ(d.product, e.product) << e.name;
        EXPECT_EQ(d.usbId, e.usbId) << e.name;
        EXPECT_EQ(d.serialNumber, e.serial) << e.name;
        EXPECT_EQ(d.stableName, e.stable) << e.name;
    }
    EXPECT_EQ(devices[2].manufacturer, "Arduino (www.arduino.cc)");
}

TEST(PortCatalog, AMappedEntryIsTheDeviceItNamesTheRestCountInOrder) {
    DeviceTree tree;
    Populate(tree);
    const std::vector<SerialDevice> devices = ScanSerialDevices(tree.root());
    const std::string arduino = tree.ById("usb-Arduino__www.arduino.cc__0043_7593-if00");
    const std::map<std::string, std::string> ports = {
        {"COM2", arduino}, {"COM4", ""}, {"COM5", "tcp://bridge.local:23"}, {"COM7", "/dev/pts/9"}};
    const std::vector<SerialDevice> table = BuildPortTable(8, ports, devices);
    ASSERT_EQ(table.size(), 8u);
    // COM2 opens the link it names, and is known for the Arduino it leads to.
    EXPECT_EQ(table[1].path, arduino);
    EXPECT_EQ(table[1].product, "Arduino Uno");
    EXPECT_EQ(table[1].name, "ttyACM0");
    EXPECT_EQ(table[4].kind, Kind::kNetwork);
    EXPECT_EQ(table[4].name, "bridge.local:23");
    EXPECT_EQ(table[6].kind, Kind::kOther);
    EXPECT_EQ(table[6].stableName, "/dev/pts/9");
    // The others (an empty entry among them) are the n-th device, as if the map were not there.
    EXPECT_EQ(table[0].name, "ttyUSB0");
    EXPECT_EQ(table[2].name, "ttyACM0");
    EXPECT_EQ(table[3].name, "rfcomm0");
    EXPECT_FALSE(table[5].present());
    EXPECT_FALSE(table[7].present());
    // The first entry that opens a device is where it is found; the FTDI's place went to the map.
    EXPECT_EQ(FindStableName(table, arduino), 1);
    EXPECT_EQ(FindStableName(table, devices[1].stableName), -1);
}

// A [PORTS] path longer than the settings file's values may be is refused whole, never opened cut. Here its
// first kMaxDevicePathBytes bytes name another robot's port (slashes pad them), and it goes on, legally, into
// a folder whose name begins like that port's.
TEST(PortCatalog, ADevicePathTooLongIsRefusedNeverCut) {
    test::Pty otherRobot;
    ASSERT_FALSE(otherRobot.name.empty());
    DeviceTree tree;
    tree.AddUsb("ttyUSB0", "1-1", {"0403", "6001", "FT232R USB UART", "FTDI", "A50285BI"}, "",
                otherRobot.name);
    const std::string other = tree.Dev("ttyUSB0");
    const std::string head = std::string(kMaxDevicePathBytes - other.size(), '/') + other;
    const std::size_t length = 3080;
    const std::string path = head + "-two" + std::string(length - head.size() - 7, '/') + "tty";
    ASSERT_EQ(path.size(), length);

    const Settings settings = ReadSettings(IniFile::Parse("[PORTS]\nCOM1=" + path + "\n"));
    const std::vector<SerialDevice> table = BuildPortTable(1, settings.ports, ScanSerialDevices(tree.root()));
    EXPECT_TRUE(table[0].path == path) << "cut to " << table[0].path.size() << " bytes";
    EXPECT_NE(table[0].name, "ttyUSB0");
    std::string reason;
    EXPECT_EQ(OpenLinkPort(table[0].path, -1, &reason), nullptr);
    EXPECT_NE(reason.find("path too long"), std::string::npos) << reason;
    EXPECT_NE(ReasonText(reason, Language::kJapanese), reason);
}

}  // namespace
}  // namespace zanth
