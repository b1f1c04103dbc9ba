#include "link/port_watcher.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "device_tree.h"
#include "link_test_util.h"

namespace zanth {
namespace {

using test::DeviceTree;
using test::RunUntil;

bool Lists(const std::vector<SerialDevice>& devices, const std::string& name,
           const std::string& stable = "") {
    return std::any_of(devices.begin(), devices.end(), [&](const SerialDevice& d) {
        return d.name == name && (stable.empty() || d.stableName == stable);
    });
}

TEST(PortWatcher, FollowsDevicesThatComeAndGoAndTheirLinks) {
    test::EnsureApp();
    DeviceTree tree;
    tree.AddNode("ttyS0", "");
    const std::string root = tree.root();
    PortWatcher watcher(
        root, [root] { return ScanSerialDevices(root); }, ScanSerialDevices(root));
    int changes = 0;
    QObject here;  // the watcher's thread tells; the count is kept on this one
    QObject::connect(&watcher, &PortWatcher::changed, &here, [&] { ++changes; });
    ASSERT_TRUE(watcher.Start());

    // Plugged in: the node and, in a folder that did not exist, udev's link.
    tree.AddUsb("ttyUSB0", "1-1", {"0403", "6001", "FT232R USB UART", "FTDI", "A1"}, "usb-FTDI-A1");
    ASSERT_TRUE(RunUntil([&] { return Lists(watcher.Latest(), "ttyUSB0", tree.ById("usb-FTDI-A1")); }, 5000));
    // A second one whose link comes a moment after its node: only the by-id folder tells.
    tree.AddUsb("ttyUSB1", "1-2", {"0403", "6001", "FT232R USB UART", "FTDI", "B2"});
    ASSERT_TRUE(RunUntil([&] { return Lists(watcher.Latest(), "ttyUSB1"); }, 5000));
    tree.Link("usb-FTDI-B2", "ttyUSB1");
    ASSERT_TRUE(RunUntil([&] { return Lists(watcher.Latest(), "ttyUSB1", tree.ById("usb-FTDI-B2")); }, 5000))
        << "the by-id folder was not watched";
    // The list is taken before its signal is queued: the count may still be on its way.
    EXPECT_TRUE(RunUntil([&] { return changes >= 3; }, 5000));
    const int seen = changes;

    // Unplugged.
    tree.Remove("ttyUSB0");
    ASSERT_TRUE(RunUntil([&] { return !Lists(watcher.Latest(), "ttyUSB0"); }, 5000));
    EXPECT_TRUE(RunUntil([&] { return changes > seen; }, 5000));
    EXPECT_TRUE(Lists(watcher.Latest(), "ttyS0"));
}

}  // namespace
}  // namespace zanth
