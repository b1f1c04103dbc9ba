#include "link/frame.h"

#include <gtest/gtest.h>

#include <string>

namespace zanth {
namespace {

// A model at rest after window set-up: nothing pressed, LED lit, sticks centred.
ControllerModel RestingModel() {
    ControllerModel m;
    m.ledItem().latched = 1;
    return m;
}

TEST(Frame, AtRest) {
    auto m = RestingModel();
    EXPECT_EQ(BuildFrame(m), (ControllerFrame{0xFF, 0xFF, 0xFF, 0x80, 0x80, 0x80, 0x80, 0xF3}));
    EXPECT_EQ(BuildFrame(m), NeutralFrame(true));
    m.ledItem().latched = 0;
    EXPECT_EQ(BuildFrame(m), NeutralFrame(false));
}

TEST(Frame, ButtonsAndFlags) {
    struct Case {
        std::vector<int> pressed;
        bool led;
        int byteIndex;
        std::uint8_t expected;
    } cases[] = {
        {{}, false, 7, 0xFB},
        {{kItemF1}, false, 7, 0xFA},
        {{kItemF1, kItemF2}, true, 7, 0xF0},
        {{kItemSelect}, true, 1, 0xFE},
        {{kItemPadLeft, kItemStart}, true, 1, 0x77},
        {{kItem4}, true, 2, 0x7F},
        {{kItemL1}, true, 2, 0xFB},
        {{kItemL2, kItemR2, kItemR1, kItem1, kItem2, kItem3}, true, 2, 0x84},
        {{kItemL3, kItemR3, kItemPadUp, kItemPadRight, kItemPadDown}, true, 1, 0x89},
        {{kItemMode, kItemStickLeft, kItemLed}, true, 1, 0xFF},  // no bits of their own
        {{kItemMode, kItemStickLeft}, true, 2, 0xFF},
    };
    for (const Case& c : cases) {
        auto m = RestingModel();
        m.ledItem().latched = c.led;
        for (std::size_t n = 0; n < c.pressed.size(); ++n) {
            // Every input path counts: spread the presses over key, mouse and gamepad.
            ControllerItem& it = m.item(c.pressed[n]);
            (n % 3 == 0 ? it.keyDown : n % 3 == 1 ? it.mouseDown : it.padDown) = 1;
        }
        EXPECT_EQ(BuildFrame(m)[static_cast<std::size_t>(c.byteIndex)], c.expected)
            << "case with " << c.pressed.size();
    }
}

TEST(Frame, StickBytesInTheirPlaces) {
    auto m = RestingModel();
    m.rightStickX = 1;
    m.rightStickY = 2;
    m.leftStickX = 3;
    m.leftStickY = 255;
    auto f = BuildFrame(m);
    EXPECT_EQ(f[3], 1);
    EXPECT_EQ(f[4], 2);
    EXPECT_EQ(f[5], 3);
    EXPECT_EQ(f[6], 255);
}

TEST(StickByte, GamepadThenMouseThenKeys) {
    struct Flags {
        int key, mouse, pad;
    };
    struct Case {
        Flags neg, pos;
        int expected;
    } cases[] = {
        {{0, 0, 0}, {0, 0, 0}, 128}, {{1, 0, 0}, {0, 0, 0}, 16}, {{0, 0, 0}, {1, 0, 0}, 240},
        {{1, 0, 0}, {1, 0, 0}, 128}, {{0, 1, 0}, {1, 0, 0}, 16}, {{0, 0, 0}, {0, 1, 0}, 240},
        {{0, 1, 0}, {0, 1, 0}, 16},  {{1, 0, 0}, {0, 0, 1}, 77}, {{0, 1, 1}, {0, 0, 0}, 77},
    };
    for (const Case& c : cases) {
        ControllerItem neg, pos;
        neg.keyDown = c.neg.key, neg.mouseDown = c.neg.mouse, neg.padDown = c.neg.pad;
        pos.keyDown = c.pos.key, pos.mouseDown = c.pos.mouse, pos.padDown = c.pos.pad;
        EXPECT_EQ(StickByte(neg, pos, 77), c.expected);
    }
}

TEST(BatteryReply, Parse) {
    struct Case {
        std::string bytes;
        std::optional<int> value;
    } cases[] = {
        {"BB 70 ", 70},
        {"BB 70", 70},
        {"BB 65", 65},
        {"BB:73", 73},
        {"BB70", 0},
        {"BB: 70", 0},
        {"BB  70", 70},
        {"AB 70", {}},
        {"", {}},
        {"B", {}},
        {"BB", 0},
        {"BB 7x0", 7},
        {"BB -5", -5},
        {"BB +9", 9},
        {"Bb 70", {}},
        {"BB 0123456789012345", 2147483647},  // a separator at byte 2 does not limit the number
        {"BBx000000000000123", 1},            // without a space the text ends after byte 15
        {"BB 99999999999", 2147483647},
        {std::string("BB \0"
                     "70",
                     6),
         0},
        {"BB 70 garbage after", 70},
    };
    for (const Case& c : cases) {
        auto got = ParseBatteryReply(reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size());
        EXPECT_EQ(got, c.value) << '"' << c.bytes << '"';
    }
    EXPECT_EQ(ParseBatteryReply(nullptr, 5), std::nullopt);
}

TEST(Frame, WireMessageIsCommandByteThenEightDataBytes) {
    const std::uint8_t data[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    struct Case {
        const std::uint8_t* data;
        int length;
        bool reply;
        WireMessage expected;
    } cases[] = {
        {data, 3, true, {'k', 1, 2, 3, 0, 0, 0, 0, 0}},
        {data, 12, false, {'K', 1, 2, 3, 4, 5, 6, 7, 8}},
        {data, -5, false, {'K', 0, 0, 0, 0, 0, 0, 0, 0}},
        {nullptr, 8, true, {'k', 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) EXPECT_EQ(BuildMessage(c.data, c.length, c.reply), c.expected) << c.length;
    EXPECT_EQ(BuildMessage(NeutralFrame(true), false),
              (WireMessage{'K', 0xFF, 0xFF, 0xFF, 0x80, 0x80, 0x80, 0x80, 0xF3}));
}

TEST(BatteryColour, Bands) {
    const Rgb red{255, 0, 0}, yellow{255, 255, 0}, blue{0, 0, 255};
    struct Case {
        int v;
        Rgb colour;
    } cases[] = {{0, red},     {65, red},  {66, yellow}, {70, yellow},
                 {72, yellow}, {73, blue}, {100, blue},  {-4, red}};
    for (const Case& c : cases) EXPECT_EQ(BatteryColour(c.v), c.colour) << c.v;
}

}  // namespace
}  // namespace zanth
