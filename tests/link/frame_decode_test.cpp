#include "link/frame_decode.h"

#include <gtest/gtest.h>

#include <bit>

#include "../input/test_model.h"

namespace zanth {
namespace {

std::uint32_t Bit(int item) {
    return 1u << item;
}

// Only MODE and the four left-stick items have no bit of their own: MODE acts through the LED, the stick
// items through the stick bytes.
bool HasOwnBit(int item) {
    return item != kItemMode && (item < kStickItemBase || item >= kStickItemBase + 4);
}

// Each item of the model, held alone, reads back as itself and by its name, in both languages.
TEST(FrameDecode, EveryItemHeldAloneReadsBackAsItself) {
    for (const char* language : {"English", "Japanese"}) {
        AppContext app{StartupInfo{language, false, "", {}, {}}};
        ControllerModel model;
        BuildModel(model, app, Settings{});
        const FrameDecoder decoder(model);
        for (int i = 0; i < kInputItemCount; ++i) {
            SCOPED_TRACE(model.item(i).displayName);
            model.item(i).keyDown = 1;
            const DecodedFrame d = decoder.Decode(BuildFrame(model));
            model.item(i).keyDown = 0;
            EXPECT_EQ(d.held, HasOwnBit(i) ? Bit(i) : 0u);
            EXPECT_EQ(decoder.HeldNames(d.held), HasOwnBit(i) ? model.item(i).displayName : "-");
        }
    }
}

// Frames as the robot receives them, byte by byte, independent of how the program builds them.
TEST(FrameDecode, FramesOnTheWire) {
    test::TestModel tm;
    const FrameDecoder decoder(tm.model);
    struct Case {
        ControllerFrame frame;
        std::uint32_t held;
        bool led;
        int rx, ry, lx, ly;
    } cases[] = {
        {{0xFF, 0xFF, 0xFF, 0x80, 0x80, 0x80, 0x80, 0xF3}, 0, true, 128, 128, 128, 128},
        {{0xFF, 0xFE, 0xFF, 0x80, 0x80, 0x80, 0x80, 0xF3}, Bit(kItemSelect), true, 128, 128, 128, 128},
        {{0xFF, 0x77, 0xFF, 0x80, 0x80, 0x80, 0x80, 0xF3},
         Bit(kItemStart) | Bit(kItemPadLeft),
         true,
         128,
         128,
         128,
         128},
        {{0xFF, 0xFF, 0x7F, 0x80, 0x80, 0x80, 0x80, 0xF3}, Bit(kItem4), true, 128, 128, 128, 128},
        {{0xFF, 0xFF, 0xFF, 0x80, 0x80, 0x80, 0x80, 0xFB}, 0, false, 128, 128, 128, 128},
        {{0xFF, 0xFF, 0xFF, 0x80, 0x80, 0x80, 0x80, 0xFA}, Bit(kItemF1), false, 128, 128, 128, 128},
        {{0xFF, 0xFF, 0xFF, 0x80, 0x80, 0x80, 0x80, 0xF1}, Bit(kItemF2), true, 128, 128, 128, 128},
        {{0xFF, 0xFF, 0xFB, 0x00, 0xFF, 0x10, 0xF0, 0xF3}, Bit(kItemL1), true, 0, 255, 16, 240},
    };
    for (const Case& c : cases) {
        const DecodedFrame d = decoder.Decode(c.frame);
        EXPECT_EQ(d.held, c.held) << int(c.frame[1]) << " " << int(c.frame[2]) << " " << int(c.frame[7]);
        EXPECT_EQ(d.led, c.led);
        EXPECT_EQ((std::array{d.rightX, d.rightY, d.leftX, d.leftY}), (std::array{c.rx, c.ry, c.lx, c.ly}));
        EXPECT_TRUE(d.startByteOk);
    }
    EXPECT_EQ(decoder.HeldNames(Bit(kItemStart) | Bit(kItemPadLeft)), "START, PAD LEFT");
    // Everything held at once: 18 names, in the model's order.
    const DecodedFrame all = decoder.Decode({0x00, 0x00, 0x00, 0x80, 0x80, 0x80, 0x80, 0xF0});
    EXPECT_FALSE(all.startByteOk);
    EXPECT_EQ(std::popcount(all.held), 18);
}

}  // namespace
}  // namespace zanth
