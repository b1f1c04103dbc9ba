// Any bytes as a [PORTS] value taken for a network bridge: an address is refused with a reason, or it is
// "tcp://" (any case), a host and a port 1..65535 and nothing else, within the length a device path may have.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "link/port_catalog.h"
#include "link/ports.h"
#include "link/tcp_port.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string address(reinterpret_cast<const char*>(data), size);
    std::string host, port, reason;
    if (!zanth::ParseTcpAddress(address, &host, &port, &reason)) {
        if (reason.empty()) std::abort();
        return 0;
    }
    if (!reason.empty() || !zanth::IsTcpAddress(address) || address.size() > zanth::kMaxDevicePathBytes)
        std::abort();
    if (host.empty() || host.find_first_of("[]/ ") != std::string::npos) std::abort();
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
        std::abort();
    const long number = std::stol(port);
    if (number < 1 || number > 65535) std::abort();
    // Nothing of the address is dropped: it is the host and the port, the host bracketed or not.
    const std::string rest = address.substr(6);
    if (rest != host + ":" + port && rest != "[" + host + "]:" + port) std::abort();
    return 0;
}
