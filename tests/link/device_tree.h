#pragma once
// A folder that stands in for "/" when the port list is built: dev/ with device nodes (empty files, or links
// to pseudo-terminals that can really be opened), dev/serial/by-id, and the sys/ entries that describe USB
// adapters and Bluetooth ports, laid out as the kernel does.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace zanth::test {

struct UsbInfo {
    std::string vendor, product;  // ids, "0403"
    std::string name;             // the product string; empty: the adapter gives none
    std::string maker;
    std::string serial;
};

class DeviceTree {
  public:
    DeviceTree() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zanth-devtree-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) root_ = pattern;
        std::filesystem::create_directories(root_ / "dev");
    }
    ~DeviceTree() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    DeviceTree(const DeviceTree&) = delete;
    DeviceTree& operator=(const DeviceTree&) = delete;

    std::string root() const { return root_.string(); }
    std::string Dev(const std::string& name) const { return (root_ / "dev" / name).string(); }
    std::string ById(const std::string& link) const { return (root_ / "dev/serial/by-id" / link).string(); }

    // A USB serial port `name` (ttyUSB<n>: the adapter's port under its interface; ttyACM<n>: the interface
    // itself) on USB device `bus`, with a by-id link when `byId` is not empty. `target`: what dev/<name>
    // links to (a pseudo-terminal); empty: an empty file.
    void AddUsb(const std::string& name, const std::string& bus, const UsbInfo& info,
                const std::string& byId = "", const std::string& target = "") {
        namespace fs = std::filesystem;
        const fs::path usb = root_ / "sys/devices/usb1" / bus;
        const fs::path interface = usb / (bus + ":1.0");
        const bool acm = name.rfind("ttyACM", 0) == 0;
        const fs::path port = acm ? interface : interface / name;
        fs::create_directories(port);
        Write(usb / "idVendor", info.vendor);
        Write(usb / "idProduct", info.product);
        if (!info.name.empty()) Write(usb / "product", info.name);
        if (!info.maker.empty()) Write(usb / "manufacturer", info.maker);
        if (!info.serial.empty()) Write(usb / "serial", info.serial);
        const fs::path tty = root_ / "sys/class/tty" / name;
        fs::create_directories(tty);
        fs::create_symlink(fs::relative(port, tty), tty / "device");
        AddNode(name, target);
        if (!byId.empty()) Link(byId, name);
    }
    // A Bluetooth port bound to `address`.
    void AddRfcomm(const std::string& name, const std::string& address) {
        std::filesystem::create_directories(root_ / "sys/class/tty" / name);
        Write(root_ / "sys/class/tty" / name / "address", address);
        AddNode(name, "");
    }
    // A node with nothing in sys/ (a built-in port, or anything else in dev/).
    void AddNode(const std::string& name, const std::string& target) {
        const std::filesystem::path node = root_ / "dev" / name;
        if (target.empty())
            Write(node, "");
        else
            std::filesystem::create_symlink(target, node);
    }
    // dev/serial/by-id/<link> -> ../../<name>, as udev makes it.
    void Link(const std::string& link, const std::string& name) {
        std::filesystem::create_directories(root_ / "dev/serial/by-id");
        std::filesystem::create_symlink("../../" + name, root_ / "dev/serial/by-id" / link);
    }
    // Unplugged: the node, its links and its sys/ entry go.
    void Remove(const std::string& name) {
        namespace fs = std::filesystem;
        std::error_code ec;
        std::vector<fs::path> links;
        for (fs::directory_iterator it(root_ / "dev/serial/by-id", ec), end; !ec && it != end;
             it.increment(ec))
            if (fs::read_symlink(it->path(), ec).filename() == name) links.push_back(it->path());
        for (const fs::path& link : links) fs::remove(link, ec);
        fs::remove(root_ / "dev" / name, ec);
        fs::remove_all(root_ / "sys/class/tty" / name, ec);
    }

  private:
    static void Write(const std::filesystem::path& file, const std::string& text) {
        std::ofstream(file) << text << (text.empty() ? "" : "\n");
    }
    std::filesystem::path root_;
};

}  // namespace zanth::test
