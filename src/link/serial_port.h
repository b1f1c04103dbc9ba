#pragma once
#include <memory>
#include <string>

#include "link/descriptor_port.h"

namespace zanth {

// A serial device opened for the link: 115200 baud, 8 data bits, no parity, one stop bit, raw; other line
// settings (flow control among them) stay as the driver had them. Exclusive: a second open of the same
// device fails while this one lives. Destroying it throws away unsent output and closes the device, so that
// closing never waits on a line that takes nothing.
class SerialPort final : public DescriptorPort {
  public:
    // Null on failure; `reason` (may be null) then gets the system's text, with a hint at the dialout group
    // when permission was denied. Input is not discarded here: the link thread does that.
    static std::unique_ptr<SerialPort> Open(const std::string& device, std::string* reason);
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    const std::string& Device() const override { return device_; }
    void Flush() override;
    int NativeHandle() const override { return fd_; }

  private:
    SerialPort(std::string device, int fd);

    std::string device_;
};

}  // namespace zanth
