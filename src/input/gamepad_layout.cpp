#include "input/gamepad_layout.h"

#include <SDL.h>

#include <cstddef>
#include <utility>

namespace zanth {
namespace {

// Linux input ABS_* codes (a kernel ABI, the same everywhere).
constexpr int kAbsRz = 0x05;
constexpr int kAbsThrottle = 0x06;
constexpr int kAbsHat0X = 0x10;
constexpr int kAbsHat3Y = 0x17;
constexpr int kAbsMax = 0x3f;  // SDL stops before it
constexpr int kHatPairs = 4;

bool IsHatCode(int code) {
    return code >= kAbsHat0X && code <= kAbsHat3Y;
}

// Trigger readings run 0..32767; past half way is a press.
constexpr int kTriggerPressed = 16384;

static_assert(kControllerAxes == SDL_CONTROLLER_AXIS_MAX);
static_assert(kControllerButtons == SDL_CONTROLLER_BUTTON_MAX);

// Generic-pad button number of each game-controller button; the triggers are added on 5 and 7.
constexpr std::pair<SDL_GameControllerButton, int> kButtons[] = {
    {SDL_CONTROLLER_BUTTON_B, 0},
    {SDL_CONTROLLER_BUTTON_A, 1},
    {SDL_CONTROLLER_BUTTON_Y, 2},
    {SDL_CONTROLLER_BUTTON_X, 3},
    {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, 4},
    {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, 6},
    {SDL_CONTROLLER_BUTTON_BACK, 8},
    {SDL_CONTROLLER_BUTTON_START, 9},
    {SDL_CONTROLLER_BUTTON_LEFTSTICK, 10},
    {SDL_CONTROLLER_BUTTON_RIGHTSTICK, 11},
    {SDL_CONTROLLER_BUTTON_GUIDE, 12},
    {SDL_CONTROLLER_BUTTON_MISC1, 13},
    {SDL_CONTROLLER_BUTTON_PADDLE1, 14},
    {SDL_CONTROLLER_BUTTON_PADDLE2, 15},
    {SDL_CONTROLLER_BUTTON_PADDLE3, 16},
    {SDL_CONTROLLER_BUTTON_PADDLE4, 17},
    {SDL_CONTROLLER_BUTTON_TOUCHPAD, 18},
};

}  // namespace

std::optional<AxisSlots> AxisSlotsFromAbsBits(const AbsBits& bits, int sdlAxes, int sdlHats) {
    int hatPairs = 0;
    for (int p = 0; p < kHatPairs; ++p) {
        if (bits[static_cast<std::size_t>(kAbsHat0X + 2 * p)] ||
            bits[static_cast<std::size_t>(kAbsHat0X + 2 * p + 1)])
            ++hatPairs;
    }
    // SDL takes a hat pair for a hat when its values look digital, else for two axes. All or none can be
    // told apart by the counts; a mixture cannot.
    if (sdlHats != hatPairs && sdlHats != 0) return std::nullopt;
    const bool hatsAreAxes = sdlHats != hatPairs;

    AxisSlots slots;
    int sliders = 0;
    for (int code = 0; code < kAbsMax; ++code) {
        if (!bits[static_cast<std::size_t>(code)]) continue;
        if (IsHatCode(code)) {
            if (hatsAreAxes) slots.push_back(kUnreadAxis);
        } else if (code <= kAbsRz) {
            slots.push_back(code);
        } else if (code >= kAbsThrottle && code < kAbsHat0X && sliders < 2) {
            slots.push_back(kSliderSlot + sliders++);
        } else {
            slots.push_back(kUnreadAxis);
        }
    }
    if (static_cast<int>(slots.size()) != sdlAxes) return std::nullopt;
    return slots;
}

AxisSlots PositionalAxisSlots(int sdlAxes) {
    AxisSlots slots;
    for (int a = 0; a < sdlAxes; ++a) slots.push_back(a < kSliderSlot + 2 ? a : kUnreadAxis);
    return slots;
}

std::int32_t PovFromHat(unsigned hatBits) {
    switch (hatBits) {
        case SDL_HAT_UP:
            return 0;
        case SDL_HAT_RIGHTUP:
            return 4500;
        case SDL_HAT_RIGHT:
            return 9000;
        case SDL_HAT_RIGHTDOWN:
            return 13500;
        case SDL_HAT_DOWN:
            return 18000;
        case SDL_HAT_LEFTDOWN:
            return 22500;
        case SDL_HAT_LEFT:
            return 27000;
        case SDL_HAT_LEFTUP:
            return 31500;
        default:
            return kPovCentred;  // centred, or a combination no hat can show
    }
}

GamepadState GenericGamepadReading(const ControllerReading& c) {
    GamepadState s = GamepadState::Neutral();
    auto axis = [&](SDL_GameControllerAxis a) { return c.axes[static_cast<std::size_t>(a)] + 32768; };
    auto button = [&](SDL_GameControllerButton b) { return c.buttons[static_cast<std::size_t>(b)]; };
    s.axes[0] = axis(SDL_CONTROLLER_AXIS_LEFTX);
    s.axes[1] = axis(SDL_CONTROLLER_AXIS_LEFTY);
    // The right stick where a generic pad has it (Z, RZ) and where an Xbox pad has it (RX, RY), so that
    // bindings made for either keep working.
    s.axes[2] = s.axes[3] = axis(SDL_CONTROLLER_AXIS_RIGHTX);
    s.axes[5] = s.axes[4] = axis(SDL_CONTROLLER_AXIS_RIGHTY);

    unsigned hat = 0;
    if (button(SDL_CONTROLLER_BUTTON_DPAD_UP)) hat |= SDL_HAT_UP;
    if (button(SDL_CONTROLLER_BUTTON_DPAD_RIGHT)) hat |= SDL_HAT_RIGHT;
    if (button(SDL_CONTROLLER_BUTTON_DPAD_DOWN)) hat |= SDL_HAT_DOWN;
    if (button(SDL_CONTROLLER_BUTTON_DPAD_LEFT)) hat |= SDL_HAT_LEFT;
    s.pov[0] = PovFromHat(hat);

    for (auto [b, index] : kButtons) {
        if (button(b)) s.buttons[static_cast<std::size_t>(index)] = kButtonDownByte;
    }
    if (c.axes[SDL_CONTROLLER_AXIS_TRIGGERLEFT] >= kTriggerPressed) s.buttons[5] = kButtonDownByte;
    if (c.axes[SDL_CONTROLLER_AXIS_TRIGGERRIGHT] >= kTriggerPressed) s.buttons[7] = kButtonDownByte;
    return s;
}

}  // namespace zanth
