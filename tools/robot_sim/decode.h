#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace zanth::sim {

// One message of the emulator: the command byte "k" or "K" and the 8 frame bytes.
using Message = std::array<std::uint8_t, 9>;

// The readable line of a message, e.g.
//   k FF FF FF 80 80 80 80 F3 | buttons: - | RX=128 RY=128 LX=128 LY=128 | LED on
std::string DescribeMessage(const Message& m);

// Cuts the bytes read from the line into messages. A message starts with "k" or "K"; any other byte where a
// message should start is skipped and counted.
class MessageReader {
  public:
    void Feed(const std::uint8_t* data, std::size_t size);
    // The next complete message, false when none is complete yet.
    bool Next(Message& out);
    // Bytes skipped since the last call.
    std::size_t TakeSkipped();

  private:
    std::deque<std::uint8_t> input_;
    std::size_t skipped_ = 0;
};

}  // namespace zanth::sim
