#include "input/apply.h"

#include <gtest/gtest.h>

#include <climits>

#include "test_model.h"

namespace zanth {
namespace {

using test::TestModel;
using Items = std::vector<int>;

KeyStates Keys(std::initializer_list<int> down, std::uint8_t byte = kKeyDownByte) {
    KeyStates k{};
    for (int code : down) k[static_cast<std::size_t>(code)] = byte;
    return k;
}

constexpr int kQ = 16, kW = 17, kF9 = 67;

TEST(ApplyKeyboard, ItemsFollowTheirKeysAndRepaintOnlyOnChange) {
    TestModel t;
    t.item(kItem1).keyCode = kQ;               // shares L1's key
    ApplyKeyboard(t.model, Keys({kQ}, 0x01));  // any non-zero byte is down
    EXPECT_EQ(t.TakeInvalidated(), (Items{kItem1, kItemL1}));
    ApplyKeyboard(t.model, Keys({kQ}));  // held
    EXPECT_TRUE(t.TakeInvalidated().empty());
    ApplyKeyboard(t.model, Keys({}));
    EXPECT_EQ(t.TakeInvalidated(), (Items{kItem1, kItemL1}));
    EXPECT_EQ(t.item(kItemL1).keyDown, 0);
}

TEST(ApplyKeyboard, ModeFlipsLedOncePerPressEdgeBeforeItsOwnRepaint) {
    TestModel t;
    for (int poll = 0; poll < 20; ++poll) ApplyKeyboard(t.model, Keys({kF9}));
    EXPECT_EQ(t.model.ledItem().latched, 0);
    EXPECT_EQ(t.TakeInvalidated(), (Items{kItemLed, kItemMode}));
    ApplyKeyboard(t.model, Keys({}));
    ApplyKeyboard(t.model, Keys({kF9}));
    EXPECT_EQ(t.model.ledItem().latched, 1);
}

TEST(ApplyKeyboard, BindingOutsideKeyRangeLeavesItemAlone) {
    KeyStates all{};
    all.fill(kKeyDownByte);
    for (int binding : {-1, -999, 256, 300, INT_MAX, INT_MIN}) {
        TestModel t;
        ControllerItem& item = t.item(kItem2);
        item.keyCode = binding;
        EXPECT_EQ(ApplyKeyToItem(t.model, item, all), 0) << binding;
        EXPECT_EQ(item.keyDown, 0);
        item.keyDown = 1;
        EXPECT_EQ(ApplyKeyToItem(t.model, item, Keys({})), 0);
        EXPECT_EQ(item.keyDown, 1);
        EXPECT_TRUE(t.TakeInvalidated().empty());
    }
}

TEST(ReleaseKeyboardItems, LetsGoOfWhatTheKeyboardHeldOnly) {
    TestModel t;
    ApplyKeyboard(t.model, Keys({kQ, kW, kF9}));
    t.item(kItem3).mouseDown = 1;
    t.item(kItem4).padDown = 1;
    t.TakeInvalidated();
    ReleaseKeyboardItems(t.model);
    EXPECT_EQ(t.TakeInvalidated(), (Items{kItemMode, kItemL1, kItemStickUp}));
    EXPECT_EQ(t.model.ledItem().latched, 0);  // releasing never flips the LED
    EXPECT_TRUE(t.item(kItem3).IsPressed() && t.item(kItem4).IsPressed());
    ReleaseKeyboardItems(t.model);
    EXPECT_TRUE(t.TakeInvalidated().empty());
}

TEST(ApplyPov, HatValueToPadDirections) {
    // Expected UP, RIGHT, DOWN, LEFT, after starting from LEFT held so that releases are exercised too.
    const std::pair<int, std::array<int, 4>> rows[] = {
        {0, {1, 0, 0, 0}},     {2249, {1, 0, 0, 0}},  {2250, {1, 1, 0, 0}},  {4500, {1, 1, 0, 0}},
        {6750, {0, 1, 0, 0}},  {11250, {0, 1, 1, 0}}, {15750, {0, 0, 1, 0}}, {20250, {0, 0, 1, 1}},
        {24750, {0, 0, 0, 1}}, {29250, {1, 0, 0, 1}}, {33749, {1, 0, 0, 1}}, {33750, {1, 0, 0, 0}},
        {35999, {1, 0, 0, 0}}, {36000, {0, 0, 0, 0}}, {-1, {0, 0, 0, 0}},    {INT_MIN, {0, 0, 0, 0}},
    };
    for (const auto& [pov, want] : rows) {
        TestModel t;
        GamepadState s = GamepadState::Neutral();
        s.pov[0] = 27000;
        ApplyPov(t.model, s);
        s.pov[0] = pov;
        s.pov[1] = 0;  // only the first hat counts
        ApplyPov(t.model, s);
        for (int d = 0; d < 4; ++d)
            EXPECT_EQ(t.item(kPadItemBase + d).padDown, want[d]) << pov << " dir " << d;
    }
}

TEST(ApplyLeftStick, AxisBandsPressStickItems) {
    const std::array<int, 3> rows[] = {{0, 1, 0},     {24575, 1, 0}, {24576, 0, 0}, {40958, 0, 0},
                                       {40959, 0, 1}, {65535, 0, 1}};  // raw, LEFT/UP, RIGHT/DOWN
    for (auto [raw, low, high] : rows) {
        TestModel t;
        GamepadSticks sticks;
        GamepadState s = GamepadState::Neutral();
        s.axes[0] = s.axes[1] = raw;
        ApplyLeftStick(t.model, s, sticks);
        EXPECT_EQ(t.item(kItemStickLeft).padDown, low) << raw;
        EXPECT_EQ(t.item(kItemStickUp).padDown, low) << raw;
        EXPECT_EQ(t.item(kItemStickRight).padDown, high) << raw;
        EXPECT_EQ(t.item(kItemStickDown).padDown, high) << raw;
        EXPECT_EQ(sticks.padLX, raw * 255 / 65535);
    }
}

// An unbound axis, a code no axis has, or a reading while the gamepad is not ready, presses nothing: with
// every axis at its low end no stick item is pressed, and the right stick stays at 128 without a change, so
// its slider stays where the mouse put it.
TEST(ApplyGamepad, UnknownAxisOrGamepadNotReadyIsCentred) {
    const std::pair<int, int> rows[] = {{-1, 1}, {6, 1},       {99, 1},
                                        {-2, 1}, {INT_MIN, 1}, {0, 0}};  // code, ready
    for (auto [code, ready] : rows) {
        TestModel t;
        ResetRightStickHistory();
        t.model.gamepadReady = ready;
        for (auto& binding : t.model.axisBindings) binding.axisIndex = code;
        t.item(kItemStickLeft).padDown = 1;
        GamepadState s = GamepadState::Neutral();
        s.axes.fill(0);
        GamepadSticks sticks;
        ApplyLeftStick(t.model, s, sticks);
        ApplyRightStick(t.model, s, sticks);
        for (auto& item : t.model.stickItems()) EXPECT_EQ(item.padDown, 0) << code << " ready " << ready;
        EXPECT_EQ(sticks.padRX, 128);
        EXPECT_EQ(sticks.padRXChanged, 0);
    }
}

TEST(ApplyRightStick, RawValueToStickValue) {
    const std::pair<int, int> rows[] = {{40958, 128}, {40959, 159}, {65535, 255}, {0, 0}, {24575, 95}};
    for (auto [raw, want] : rows) {
        TestModel t;
        GamepadSticks sticks;
        GamepadState s = GamepadState::Neutral();
        s.axes[2] = s.axes[5] = raw;  // RX, RY
        ApplyRightStick(t.model, s, sticks);
        EXPECT_EQ(sticks.padRX, want) << raw;
        EXPECT_EQ(sticks.padRY, want) << raw;
    }
}

TEST(ApplyRightStick, ChangedOnlyWhenTheReadingDiffers) {
    TestModel t;
    ResetRightStickHistory();
    GamepadSticks sticks;
    GamepadState s = GamepadState::Neutral();
    const std::pair<int, int> steps[] = {{32768, 1}, {32768, 0}, {65535, 1}, {65535, 0}, {36000, 1}};
    for (auto [raw, changed] : steps) {  // the first centred reading counts; back to the dead zone too
        s.axes[2] = raw;
        ApplyRightStick(t.model, s, sticks);
        EXPECT_EQ(sticks.padRXChanged, changed) << raw;
    }
}

TEST(ApplyPadButtons, ThresholdAndBindingsThatPressNothing) {
    const std::pair<int, int> rows[] = {{32, 0}, {33, 1}, {128, 1}};
    for (auto [byte, want] : rows) {
        TestModel t;
        GamepadState s = GamepadState::Neutral();
        s.buttons[2] = static_cast<std::uint8_t>(byte);  // item "1"
        ApplyPadButtons(t.model, s);
        EXPECT_EQ(t.TakeInvalidated(), want ? Items{kItem1} : Items{}) << byte;
    }
    TestModel t;
    GamepadState s = GamepadState::Neutral();
    s.buttons.fill(kButtonDownByte);
    t.item(kItemSelect).padButton = 128;
    t.item(kItemStart).padButton = INT_MAX;
    ApplyPadButtons(t.model, s);
    EXPECT_EQ(t.item(kItemMode).padDown, 0);  // -999 is no button
    EXPECT_EQ(t.item(kItemSelect).padDown, 0);
    EXPECT_EQ(t.item(kItemStart).padDown, 0);
    t.item(kItemMode).padButton = 3;  // bound, MODE is pressed but the gamepad never flips the LED
    ApplyPadButtons(t.model, s);
    EXPECT_EQ(t.item(kItemMode).padDown, 1);
    EXPECT_EQ(t.model.ledItem().latched, 1);
}

TEST(ReleaseGamepadItems, LetsGoOfEverythingAndRecentresTheSlidersOnce) {
    TestModel t;
    ResetRightStickHistory();
    GamepadSticks sticks;
    ReleaseGamepadItems(t.model, sticks);  // never read: nothing to bring back
    EXPECT_EQ(sticks.padRXChanged, 0);

    GamepadState s = GamepadState::Neutral();
    s.buttons[2] = kButtonDownByte;
    s.pov[0] = 4500;
    s.axes = {0, 65535, 65535, 32768, 32768, 32768};  // LEFT, DOWN, RX high, RY centred
    ApplyGamepad(t.model, s, sticks);
    t.item(kItem1).keyDown = 1;
    t.TakeInvalidated();

    ReleaseGamepadItems(t.model, sticks);
    EXPECT_EQ(t.TakeInvalidated(),
              (Items{kItem1, kItemPadUp, kItemPadRight, kItemStickDown, kItemStickLeft}));
    EXPECT_EQ(t.item(kItem1).keyDown, 1);
    EXPECT_EQ((std::array{sticks.padLX, sticks.padLY, sticks.padRX, sticks.padRY}),
              (std::array{128, 128, 128, 128}));
    EXPECT_EQ(sticks.padRXChanged, 1);  // the slider it had moved comes back
    EXPECT_EQ(sticks.padRYChanged, 0);  // this one it had left centred

    ReleaseGamepadItems(t.model, sticks);  // still lost: the sliders are the mouse's again
    EXPECT_TRUE(t.TakeInvalidated().empty());
    EXPECT_EQ(sticks.padRXChanged, 0);
}

}  // namespace
}  // namespace zanth
