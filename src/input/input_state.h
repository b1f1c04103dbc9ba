#pragma once
#include <array>
#include <cstdint>

namespace zanth {

// State of all 256 keys, indexed by keyboard scan code (the PC set-1 code as the key-name table uses it).
// A non-zero byte means the key is down; the devices write 0x80.
using KeyStates = std::array<std::uint8_t, 256>;
inline constexpr std::uint8_t kKeyDownByte = 0x80;

// Axis readings run 0..65535 with the centre at 32768.
inline constexpr int kAxisMin = 0;
inline constexpr int kAxisMax = 65535;
inline constexpr int kAxisCentre = 32768;
inline constexpr int kPovCentred = -1;
inline constexpr std::uint8_t kButtonDownByte = 128;

// One reading of a gamepad, laid out like the extended joystick state the bindings and the data view talk
// about. Only the six axes, the two sliders, the hats and the buttons are ever filled; velocity, acceleration
// and force stay 0 (the data view still lists them).
struct GamepadState {
    std::array<std::int32_t, 6> axes{};  // 0 X, 1 Y, 2 Z, 3 RX, 4 RY, 5 RZ; 0..65535
    std::array<std::int32_t, 2> sliders{};
    std::array<std::int32_t, 4> pov{};        // hundredths of a degree clockwise from north; -1 = centred
    std::array<std::uint8_t, 128> buttons{};  // 128 while down
    std::array<std::int32_t, 8> velocity{};   // VX, VY, VZ, VRX, VRY, VRZ, V slider 1, 2
    std::array<std::int32_t, 8> acceleration{};
    std::array<std::int32_t, 8> force{};

    // A reading that presses nothing: axes and sliders centred, hats centred, buttons up. Used instead of
    // all-zero bytes, which would read as "hat north" and "axis at its low end".
    static GamepadState Neutral() {
        GamepadState s;
        s.axes.fill(kAxisCentre);
        s.sliders.fill(kAxisCentre);
        s.pov.fill(kPovCentred);
        return s;
    }
};

// Stick values the gamepad gives the control tick: 0..255, centre 128. The changed flags say that the
// right-stick reading differs from the one before, so the sliders follow the gamepad only when it moves.
struct GamepadSticks {
    int padLX = 128;
    int padLY = 128;
    int padRX = 128;
    int padRY = 128;
    int padRXChanged = 0;
    int padRYChanged = 0;
};

}  // namespace zanth
