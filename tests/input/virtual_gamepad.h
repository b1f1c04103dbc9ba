#pragma once
// SDL virtual gamepads for the tests: real SDL underneath, in-process, no device needed.
#include <SDL.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zanth::test {

// The shape of a pad as SDL's raw joystick sees it.
struct PadShape {
    const char* name;
    Uint16 axes, hats, buttons;
    Uint16 product;
    // SDL game controller mapping of its controls ("a:b0,..."); empty when SDL knows no mapping for it.
    std::string mapping;
    // Raw axes that rest at their low end (triggers), set before anything opens the pad.
    std::vector<int> axesAtMin;
};

// xpad on Linux: triggers on Z and RZ resting at their low end, right stick on RX/RY, Back/Start/Guide
// before the stick clicks; a game controller by its mapping.
inline PadShape XboxStylePad() {
    return {"X-Box Style Pad",
            6,
            1,
            11,
            1,
            "a:b0,b:b1,x:b2,y:b3,leftshoulder:b4,rightshoulder:b5,back:b6,start:b7,guide:b8,leftstick:b9,"
            "rightstick:b10,leftx:a0,lefty:a1,lefttrigger:a2,rightx:a3,righty:a4,righttrigger:a5,dpup:h0.1,"
            "dpright:h0.2,dpdown:h0.4,dpleft:h0.8",
            {2, 5}};
}

// Holds SDL's game controller subsystem, as another SDL user of the program might, for the test's life.
// Skips where a real joystick is attached: it would be "the first one".
class VirtualGamepadTest : public testing::Test {
  protected:
    void SetUp() override {
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER), 0) << SDL_GetError();
        SDL_JoystickUpdate();
        if (SDL_NumJoysticks() > 0) GTEST_SKIP() << "a real joystick is attached";
    }
    void TearDown() override { SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER); }  // unplugs them all

    // Plugs the pad in, made a game controller by its mapping if it has one, and returns the handle
    // through which the test works its controls.
    SDL_Joystick* Plug(const PadShape& shape) {
        SDL_VirtualJoystickDesc desc{};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type =
            SDL_JOYSTICK_TYPE_UNKNOWN;  // SDL would give a pad of type "game controller" its own mapping
        desc.naxes = shape.axes;
        desc.nhats = shape.hats;
        desc.nbuttons = shape.buttons;
        desc.vendor_id = 0x7a01;
        desc.product_id = shape.product;
        desc.name = shape.name;
        const int index = SDL_JoystickAttachVirtualEx(&desc);
        EXPECT_GE(index, 0) << SDL_GetError();
        if (!shape.mapping.empty()) {
            char guid[33];
            SDL_JoystickGetGUIDString(SDL_JoystickGetDeviceGUID(index), guid, sizeof guid);
            // SDL drops the last element of a mapping that does not end with a comma.
            const std::string line = std::string(guid) + "," + shape.name + "," + shape.mapping + ",";
            EXPECT_GE(SDL_GameControllerAddMapping(line.c_str()), 0) << SDL_GetError();
        }
        SDL_Joystick* pad = SDL_JoystickOpen(index);
        for (int a : shape.axesAtMin) SDL_JoystickSetVirtualAxis(pad, a, SDL_JOYSTICK_AXIS_MIN);
        return pad;
    }
};

}  // namespace zanth::test
