#include "decode.h"

#include <cstdio>

namespace zanth::sim {

std::string DescribeMessage(const Message& m) {
    static const char* const kByte1[] = {"SELECT", "L3",        "R3",       "START",
                                         "PAD_UP", "PAD_RIGHT", "PAD_DOWN", "PAD_LEFT"};
    static const char* const kByte2[] = {"L2", "R2", "L1", "R1", "1", "2", "3", "4"};
    const std::uint8_t* f = m.data() + 1;
    char hex[64];
    std::snprintf(hex, sizeof hex, "%c %02X %02X %02X %02X %02X %02X %02X %02X", m[0], f[0], f[1], f[2], f[3],
                  f[4], f[5], f[6], f[7]);
    std::string buttons;
    auto add = [&](const char* name) {
        if (!buttons.empty()) buttons += ' ';
        buttons += name;
    };
    // A pressed button is a 0 bit on the wire.
    for (int bit = 0; bit < 8; ++bit)
        if (!(f[1] & (1 << bit))) add(kByte1[bit]);
    for (int bit = 0; bit < 8; ++bit)
        if (!(f[2] & (1 << bit))) add(kByte2[bit]);
    if (!(f[7] & 0x01)) add("F1");
    if (!(f[7] & 0x02)) add("F2");
    if (buttons.empty()) buttons.push_back('-');  // not `= "-"`: GCC 12 warns falsely (-Wrestrict) at -O3
    char sticks[80];
    std::snprintf(sticks, sizeof sticks, "RX=%d RY=%d LX=%d LY=%d", f[3], f[4], f[5], f[6]);
    std::string line = std::string(hex) + " | buttons: " + buttons + " | " + sticks + " | LED " +
                       ((f[7] & 0x08) ? "off" : "on");
    if (f[0] != 0xFF) line += " | bad start byte";
    return line;
}

void MessageReader::Feed(const std::uint8_t* data, std::size_t size) {
    input_.insert(input_.end(), data, data + size);
}

bool MessageReader::Next(Message& out) {
    while (!input_.empty() && input_.front() != 'k' && input_.front() != 'K') {
        input_.pop_front();
        ++skipped_;
    }
    if (input_.size() < out.size()) return false;
    for (std::uint8_t& b : out) {
        b = input_.front();
        input_.pop_front();
    }
    return true;
}

std::size_t MessageReader::TakeSkipped() {
    const std::size_t n = skipped_;
    skipped_ = 0;
    return n;
}

}  // namespace zanth::sim
