// The pads people plug in, copied as SDL virtual devices, driving the controller with the factory bindings:
// what reaches the robot's frame is what the item table promises.
#include "input/gamepad_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>

#include "input/apply.h"
#include "input/gamepad_reader.h"
#include "link/frame.h"
#include "test_model.h"
#include "virtual_gamepad.h"

namespace zanth {
namespace {

using test::PadShape;

// One control of a pad: a button, a raw axis moved to `value`, or the hat showing `value` (SDL hat bits).
struct Control {
    enum Kind { kButton, kAxis, kHat } kind;
    int index;
    int value = 0;
};
struct Reach {
    const char* what;
    Control control;
    int item;  // the item it presses, -1 none
};
// A raw axis of the pad that must move a frame byte to 0 and to 255.
struct StickAxis {
    const char* what;
    int axis;
    int frameByte;
};

struct Layout {
    const char* what;
    PadShape shape;
    GamepadKind kind;
    std::optional<AbsBits> absBits;  // the recorded capabilities of a raw joystick
    std::vector<Reach> reaches;
    std::vector<StickAxis> sticks;
};

void PrintTo(const Layout& layout, std::ostream* os) {
    *os << layout.what;
}

constexpr int kRightX = 3, kRightY = 4, kLeftX = 5, kLeftY = 6;  // frame bytes

Control B(int index) {
    return {Control::kButton, index, 1};
}
Control Hat(int bits) {
    return {Control::kHat, 0, bits};
}
Control Axis(int index, int value) {
    return {Control::kAxis, index, value};
}

Layout Xbox() {
    return {"Xbox-style pad",
            test::XboxStylePad(),
            GamepadKind::kGameController,
            std::nullopt,
            {{"Y top", B(3), kItem1},
             {"B right", B(1), kItem2},
             {"A bottom", B(0), kItem3},
             {"X left", B(2), kItem4},
             {"LB", B(4), kItemL1},
             {"LT past half way", Axis(2, 1000), kItemL2},
             {"LT short of half way", Axis(2, -2000), -1},
             {"RB", B(5), kItemR1},
             {"RT", Axis(5, 32767), kItemR2},
             {"Back", B(6), kItemSelect},
             {"Start", B(7), kItemStart},
             {"left stick click", B(9), kItemL3},
             {"right stick click", B(10), kItemR3},
             {"Guide", B(8), -1},
             {"d-pad up", Hat(SDL_HAT_UP), kItemPadUp},
             {"d-pad left", Hat(SDL_HAT_LEFT), kItemPadLeft}},
            {{"right X", 3, kRightX}, {"right Y", 4, kRightY}, {"left X", 0, kLeftX}, {"left Y", 1, kLeftY}}};
}

// A PlayStation pad as a HID joystick: right stick on Z/RZ, analog triggers on RX/RY, square first.
Layout PlayStation() {
    return {"PlayStation-style pad",
            {"PS Style Pad",
             6,
             1,
             14,
             2,
             "x:b0,a:b1,b:b2,y:b3,leftshoulder:b4,rightshoulder:b5,back:b8,start:b9,leftstick:b10,"
             "rightstick:b11,guide:b12,touchpad:b13,leftx:a0,lefty:a1,rightx:a2,righty:a5,lefttrigger:a3,"
             "righttrigger:a4,dpup:h0.1,dpright:h0.2,dpdown:h0.4,dpleft:h0.8",
             {3, 4}},
            GamepadKind::kGameController,
            std::nullopt,
            {{"triangle", B(3), kItem1},
             {"circle", B(2), kItem2},
             {"cross", B(1), kItem3},
             {"square", B(0), kItem4},
             {"L1", B(4), kItemL1},
             {"L2", Axis(3, 32767), kItemL2},
             {"R1", B(5), kItemR1},
             {"R2", Axis(4, 32767), kItemR2},
             {"share", B(8), kItemSelect},
             {"options", B(9), kItemStart},
             {"L3", B(10), kItemL3},
             {"R3", B(11), kItemR3},
             {"d-pad down and right", Hat(SDL_HAT_RIGHTDOWN), -2}},
            {{"right X", 2, kRightX}, {"right Y", 5, kRightY}, {"left X", 0, kLeftX}, {"left Y", 1, kLeftY}}};
}

// A generic HID pad SDL has no mapping for: X, Y, Z, RZ and a hat, which Linux numbers 0..3.
Layout GenericHid() {
    AbsBits bits;
    for (int code : {0x00, 0x01, 0x02, 0x05, 0x10, 0x11}) bits.set(static_cast<std::size_t>(code));
    return {"generic HID pad",
            {"Generic USB Joystick", 4, 1, 12, 3, "", {}},
            GamepadKind::kJoystick,
            bits,
            {{"button 3", B(2), kItem1},
             {"button 10", B(9), kItemStart},
             {"hat up", Hat(SDL_HAT_UP), kItemPadUp}},
            {{"right X on Z", 2, kRightX}, {"right Y on RZ", 3, kRightY}, {"left X", 0, kLeftX}}};
}

class GamepadLayoutTest : public test::VirtualGamepadTest, public testing::WithParamInterface<Layout> {
  protected:
    // One tick's worth: poll, the apply rules, the stick bytes as the tick sets them, the frame.
    ControllerFrame Frame() {
        EXPECT_EQ(gamepad_.Poll(), 0);
        ControllerModel& m = model_.model;
        ApplyGamepad(m, gamepad_);
        m.leftStickX = StickByte(m.item(kItemStickLeft), m.item(kItemStickRight), gamepad_.padLX);
        m.leftStickY = StickByte(m.item(kItemStickUp), m.item(kItemStickDown), gamepad_.padLY);
        m.rightStickX = gamepad_.padRX;  // the sliders follow the gamepad's reading
        m.rightStickY = gamepad_.padRY;
        return BuildFrame(m);
    }
    void Work(SDL_Joystick* pad, const Control& c, bool on) {
        const PadShape& shape = GetParam().shape;
        switch (c.kind) {
            case Control::kButton:
                SDL_JoystickSetVirtualButton(pad, c.index, on ? SDL_PRESSED : SDL_RELEASED);
                break;
            case Control::kAxis: {
                const bool atMin = std::count(shape.axesAtMin.begin(), shape.axesAtMin.end(), c.index) > 0;
                const int rest = atMin ? SDL_JOYSTICK_AXIS_MIN : 0;
                SDL_JoystickSetVirtualAxis(pad, c.index, static_cast<Sint16>(on ? c.value : rest));
                break;
            }
            case Control::kHat:
                SDL_JoystickSetVirtualHat(pad, c.index, static_cast<Uint8>(on ? c.value : SDL_HAT_CENTERED));
                break;
        }
    }
    // The frame with only `item` pressed (-2: PAD DOWN and PAD RIGHT), everything else at rest.
    static ControllerFrame Pressed(int item) {
        test::TestModel expected;
        if (item == -2) {
            expected.item(kItemPadDown).keyDown = expected.item(kItemPadRight).keyDown = 1;
        } else if (item >= 0) {
            expected.item(item).keyDown = 1;
        }
        return BuildFrame(expected.model);
    }

    test::TestModel model_;
    GamepadReader gamepad_;
};

TEST_P(GamepadLayoutTest, FactoryBindingsDriveEveryItemAndRestSendsTheRestFrame) {
    const Layout& layout = GetParam();
    SDL_Joystick* pad = Plug(layout.shape);
    ResetRightStickHistory();
    if (layout.absBits) gamepad_.setAbsBitsReader([&](const std::string&) { return layout.absBits; });
    ASSERT_TRUE(gamepad_.Create([] { return true; }, 1));
    EXPECT_EQ(gamepad_.kind(), layout.kind);
    EXPECT_EQ(gamepad_.Description().rfind(layout.shape.name, 0), 0u) << gamepad_.Description();

    const ControllerFrame rest = NeutralFrame(true);
    EXPECT_EQ(Frame(), rest);
    for (const Reach& r : layout.reaches) {
        SCOPED_TRACE(r.what);
        Work(pad, r.control, true);
        EXPECT_EQ(Frame(), Pressed(r.item));
        Work(pad, r.control, false);
        EXPECT_EQ(Frame(), rest);
    }
    for (const StickAxis& s : layout.sticks) {
        SCOPED_TRACE(s.what);
        for (auto [raw, byte] :
             {std::pair{SDL_JOYSTICK_AXIS_MIN, 0}, std::pair{SDL_JOYSTICK_AXIS_MAX, 255}}) {
            SDL_JoystickSetVirtualAxis(pad, s.axis, static_cast<Sint16>(raw));
            ControllerFrame expected = rest;
            expected[static_cast<std::size_t>(s.frameByte)] = static_cast<std::uint8_t>(byte);
            EXPECT_EQ(Frame(), expected) << raw;
        }
        SDL_JoystickSetVirtualAxis(pad, s.axis, 0);
        EXPECT_EQ(Frame(), rest);
    }
}

std::string LayoutName(const testing::TestParamInfo<Layout>& info) {
    static const char* const kNames[] = {"Xbox", "PlayStation", "GenericHid"};
    return kNames[info.index];
}
INSTANTIATE_TEST_SUITE_P(Pads, GamepadLayoutTest, testing::Values(Xbox(), PlayStation(), GenericHid()),
                         LayoutName);

// Raw axes get their codes by identity; what the bits cannot explain keeps SDL's order.
TEST(AxisSlots, ByIdentityFromTheCapabilityBits) {
    struct Case {
        std::vector<int> codes;
        int sdlAxes, sdlHats;
        std::optional<AxisSlots> slots;
    };
    const Case cases[] = {
        {{0x00, 0x01, 0x02, 0x05, 0x10, 0x11}, 4, 1, AxisSlots{0, 1, 2, 5}},
        {{0x00, 0x01, 0x06, 0x07, 0x08},
         5,
         0,
         AxisSlots{0, 1, 6, 7, kUnreadAxis}},  // throttle, rudder, wheel
        {{0x00, 0x01, 0x10, 0x11},
         4,
         0,
         AxisSlots{0, 1, kUnreadAxis, kUnreadAxis}},  // a hat SDL took for axes
        {{0x00, 0x01, 0x03}, 4, 0, std::nullopt},     // SDL counts another axis
    };
    for (const Case& c : cases) {
        AbsBits bits;
        for (int code : c.codes) bits.set(static_cast<std::size_t>(code));
        EXPECT_EQ(AxisSlotsFromAbsBits(bits, c.sdlAxes, c.sdlHats), c.slots) << c.sdlAxes;
    }
}

}  // namespace
}  // namespace zanth
