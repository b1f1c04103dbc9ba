#pragma once
#include <memory>
#include <string>

#include "link/port.h"

namespace zanth {

// A serial device opened for the link: 115200 baud, 8 data bits, no parity, one stop bit, raw; other line
// settings (flow control among them) stay as the driver had them. Exclusive: a second open of the same
// device fails while this one lives. Destroying it throws away unsent output and closes the device, so that
// closing never waits on a line that takes nothing.
class SerialPort final : public Port {
  public:
    // Null on failure; `reason` (may be null) then gets the system's text, with a hint at the dialout group
    // when permission was denied. Input is not discarded here: the link thread does that.
    static std::unique_ptr<SerialPort> Open(const std::string& device, std::string* reason);
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    const std::string& Device() const override { return device_; }
    PortResult Discard(int ms, int wakeFd) override;
    PortResult Read(std::uint8_t* buffer, int n, int ms, int wakeFd) override;
    PortResult Write(const WireMessage& message, int ms, int wakeFd) override;
    // Asks the driver how much output is still queued (TIOCOUTQ) until none is, sleeping in between.
    PortResult Drain(int ms, int wakeFd) override;
    void Flush() override;
    int NativeHandle() const override { return fd_; }

  private:
    SerialPort(std::string device, int fd) : device_(std::move(device)), fd_(fd) {}
    PortResult Collect(std::uint8_t* buffer, int n, int ms, int wakeFd);
    PortResult DropQueued(short revents);
    PortResult Failure(int error) const;

    std::string device_;
    int fd_;
};

}  // namespace zanth
