#pragma once
#include <memory>
#include <string>

#include "link/descriptor_port.h"

namespace zanth {

// A raw TCP connection to a serial bridge (ser2net, an ESP8266 or ESP32 board) in place of a serial device:
// the same messages, the same waits. The bridge forwards bytes both ways and knows no line settings.
class TcpPort final : public DescriptorPort {
  public:
    // Connects to `address` ("tcp://HOST:PORT") within `timeoutMs`, name lookup included. Ends early,
    // failing, when `wakeFd` (an eventfd; -1 for none) becomes readable. Null on failure; `reason` (may be
    // null) then says why.
    static std::unique_ptr<TcpPort> Open(const std::string& address, int timeoutMs, int wakeFd,
                                         std::string* reason);
    ~TcpPort() override;
    TcpPort(const TcpPort&) = delete;
    TcpPort& operator=(const TcpPort&) = delete;

    const std::string& Device() const override { return address_; }
    // Sent bytes cannot be called back from a socket; closing never waits for them either.
    void Flush() override {}
    // The socket keeps sending what it was given after it is closed.
    bool OutputOutlivesClose() const override { return true; }

  private:
    TcpPort(std::string address, int fd);
    // With the bridge's last line before it closed, when it sent one.
    std::string EndDetail() const override;

    std::string address_;
};

// The last line of `bytes` when they end with a line break and it is plain printable text (a bridge's
// message, as ser2net's "Device open failure: ..."); else empty: garbage is not shown as a reason.
std::string LastTextLine(const std::string& bytes);

// Splits "tcp://HOST:PORT" (HOST may be "[v6 address]"); false with `reason` set when it is not of that form
// or PORT is not 1..65535.
bool ParseTcpAddress(const std::string& address, std::string* host, std::string* port, std::string* reason);

}  // namespace zanth
