#include "link/frame.h"

#include <algorithm>
#include <cctype>
#include <climits>

namespace zanth {
namespace {

struct BitOf {
    int item;
    std::uint8_t mask;
};
constexpr BitOf kByte1[] = {{kItemSelect, 0x01},  {kItemL3, 0x02},     {kItemR3, 0x04},
                            {kItemStart, 0x08},   {kItemPadUp, 0x10},  {kItemPadRight, 0x20},
                            {kItemPadDown, 0x40}, {kItemPadLeft, 0x80}};
constexpr BitOf kByte2[] = {{kItemL2, 0x01}, {kItemR2, 0x02}, {kItemL1, 0x04}, {kItemR1, 0x08},
                            {kItem1, 0x10},  {kItem2, 0x20},  {kItem3, 0x40},  {kItem4, 0x80}};

template <std::size_t N>
std::uint8_t Collect(const ControllerModel& model, const BitOf (&bits)[N]) {
    std::uint8_t byte = 0;
    for (const BitOf& b : bits)
        if (model.item(b.item).IsPressed()) byte |= b.mask;
    return byte;
}

}  // namespace

int StickByte(const ControllerItem& negative, const ControllerItem& positive, int gamepadValue) {
    if (negative.padDown || positive.padDown) return gamepadValue;
    if (negative.mouseDown || positive.mouseDown) return negative.mouseDown ? 16 : 240;
    // A remote client's press of a stick item counts as a key's.
    const bool negativeKey = negative.keyDown || negative.remoteDown;
    const bool positiveKey = positive.keyDown || positive.remoteDown;
    if (negativeKey || positiveKey) {
        if (negativeKey && positiveKey) return 128;
        return negativeKey ? 16 : 240;
    }
    return 128;
}

std::uint8_t ButtonByte1(const ControllerModel& model) {
    return Collect(model, kByte1);
}
std::uint8_t ButtonByte2(const ControllerModel& model) {
    return Collect(model, kByte2);
}

std::uint8_t FlagBits(const ControllerModel& model) {
    std::uint8_t bits = 0x04;
    if (model.item(kItemF1).IsPressed()) bits |= 0x01;
    if (model.item(kItemF2).IsPressed()) bits |= 0x02;
    if (model.ledItem().latched) bits |= 0x08;
    return bits;
}

ControllerFrame BuildFrame(const ControllerModel& model) {
    auto byte = [](int v) { return static_cast<std::uint8_t>(v & 0xFF); };
    return {0xFF,
            static_cast<std::uint8_t>(~ButtonByte1(model)),
            static_cast<std::uint8_t>(~ButtonByte2(model)),
            byte(model.rightStickX),
            byte(model.rightStickY),
            byte(model.leftStickX),
            byte(model.leftStickY),
            static_cast<std::uint8_t>(0xF0 | (~FlagBits(model) & 0x0F))};
}

WireMessage BuildMessage(const ControllerFrame& frame, bool replyWanted) {
    return BuildMessage(frame.data(), static_cast<int>(frame.size()), replyWanted);
}

WireMessage BuildMessage(const std::uint8_t* data, int length, bool replyWanted) {
    WireMessage message{};
    message[0] = replyWanted ? 'k' : 'K';
    int copy = data == nullptr ? 0 : std::clamp(length, 0, kMaxFrameBytes);
    std::copy(data, data + copy, message.begin() + 1);
    return message;
}

ControllerFrame NeutralFrame(bool ledLit) {
    return {0xFF, 0xFF, 0xFF, 0x80, 0x80, 0x80, 0x80, static_cast<std::uint8_t>(ledLit ? 0xF3 : 0xFB)};
}

bool LedLit(const ControllerFrame& frame) {
    // The flag bits go out inverted.
    return (frame[7] & 0x08) == 0;
}

std::optional<int> ParseBatteryReply(const std::uint8_t* bytes, std::size_t count) {
    if (bytes == nullptr || count < 2 || bytes[0] != 'B' || bytes[1] != 'B') return std::nullopt;
    // The text ends at the first space among its first 16 bytes (after byte 15 when there is none), and in
    // any case after the last byte received. The usual separator at byte 2 ends it before the number starts,
    // so it does not limit the number: only a space from byte 3 on does.
    std::size_t end = count;
    std::size_t limit = count < 16 ? count : 16;
    std::size_t space = limit;
    for (std::size_t i = 0; i < limit; ++i) {
        if (bytes[i] == ' ') {
            space = i;
            break;
        }
    }
    if (space >= 3) end = space;
    std::size_t i = 3;
    auto isSpace = [](std::uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < end && isSpace(bytes[i])) ++i;
    bool negative = false;
    if (i < end && (bytes[i] == '+' || bytes[i] == '-')) negative = bytes[i++] == '-';
    long long value = 0;
    for (; i < end && bytes[i] >= '0' && bytes[i] <= '9'; ++i) {
        value = value * 10 + (bytes[i] - '0');
        if (value > INT_MAX) value = INT_MAX;  // a runaway number saturates instead of overflowing
    }
    return static_cast<int>(negative ? -value : value);
}

Rgb BatteryColour(int value) {
    if (value <= 65) return {255, 0, 0};
    if (value <= 72) return {255, 255, 0};
    return {0, 0, 255};
}

}  // namespace zanth
