#include "input/apply.h"

#include "input/devices.h"

namespace zanth {
namespace {

// 127 is never a reading (the dead zone gives 128, outside it at most 95 or at least 159), so the first
// reading always counts as a change.
constexpr int kNoReading = 127;
int lastRightX = kNoReading;
int lastRightY = kNoReading;

// Sets one input flag of an item and asks for its repaint, only when the value changes.
void SetFlag(ControllerModel& model, ControllerItem& item, int ControllerItem::*flag, int value) {
    if (item.*flag == value) return;
    item.*flag = value;
    model.InvalidateItem(item);
}

void ReleaseAll(ControllerModel& model, int ControllerItem::*flag) {
    for (ControllerItem& item : model.inputItems()) SetFlag(model, item, flag, 0);
}

enum Direction { kUp = 0, kRight = 1, kDown = 2, kLeft = 3 };

// One axis of the left stick onto its pair of stick items: `low` is pressed below the dead zone, `high`
// above it.
void ApplyStickAxis(ControllerModel& model, bool bound, int raw, ControllerItem& low, ControllerItem& high) {
    const bool lowDown = bound && raw < kDeadZoneLow;
    const bool highDown = bound && raw > kDeadZoneHigh;
    SetFlag(model, low, &ControllerItem::padDown, lowDown ? 1 : 0);
    SetFlag(model, high, &ControllerItem::padDown, highDown ? 1 : 0);
}

// One axis of the right stick: the value outside the dead zone, 128 inside it, and whether it differs from
// the reading before.
void ApplyRightAxis(const ControllerModel& model, const GamepadState& state, int code, int& value,
                    int& changed, int& last) {
    value = 128;
    changed = 0;
    // A code no axis has is taken as unbound, not as a centred axis: the slider then stays the mouse's.
    if (code < 0 || code >= static_cast<int>(state.axes.size()) || model.gamepadReady != 1) {
        last = 128;
        return;
    }
    value = RightStickValue(model, state, code);
    if (value != last) {
        changed = 1;
        last = value;
    }
}

// A right-stick axis after the gamepad was lost: if its last reading had moved the slider off centre, flag
// one change so that the slider returns; the start value (no reading yet) and a centred reading need none.
void ReleaseRightAxis(int& changed, int& last) {
    changed = 0;
    if (last == kNoReading || last == 128) return;
    changed = 1;
    last = 128;
}

}  // namespace

int ApplyKeyToItem(ControllerModel& model, ControllerItem& item, const KeyStates& keys) {
    if (item.keyCode < 0 || item.keyCode >= 256) return 0;
    if (keys[static_cast<std::size_t>(item.keyCode)] != 0) {
        if (item.keyDown != 0) return 1;  // still held
        if (item.togglesLed == 1) model.FlipLed();
        item.keyDown = 1;
        model.InvalidateItem(item);
    } else if (item.keyDown != 0) {
        item.keyDown = 0;
        model.InvalidateItem(item);
    }
    return 1;
}

void ApplyKeyboard(ControllerModel& model, const KeyStates& keys) {
    // Buttons, pad items and stick items lie in this order in the table.
    for (ControllerItem& item : model.inputItems()) ApplyKeyToItem(model, item, keys);
}

void ApplyKeyboard(ControllerModel& model, const KeyboardDevice& keyboard) {
    ApplyKeyboard(model, keyboard.keys());
}

void ReleaseKeyboardItems(ControllerModel& model) {
    ReleaseAll(model, &ControllerItem::keyDown);
}

int ReadAxis(const ControllerModel& model, const GamepadState& state, int code) {
    if (model.gamepadReady != 1 || code < 0 || code >= static_cast<int>(state.axes.size()))
        return kAxisCentre;
    return state.axes[static_cast<std::size_t>(code)];
}

void SetPadDirections(ControllerModel& model, int up, int right, int down, int left) {
    const int wanted[4] = {up, right, down, left};
    auto pads = model.padItems();
    for (std::size_t i = 0; i < 4; ++i) {
        // 0 presses and 1 releases, so an argument equal to the current flag asks for the other state.
        if (wanted[i] == pads[i].padDown) {
            pads[i].padDown = pads[i].padDown == 0 ? 1 : 0;
            model.InvalidateItem(pads[i]);
        }
    }
}

void ApplyPadButtons(ControllerModel& model, const GamepadState& state) {
    for (ControllerItem& item : model.buttons()) {
        if (item.padButton < 0 || item.padButton >= static_cast<int>(state.buttons.size())) continue;
        const bool down = state.buttons[static_cast<std::size_t>(item.padButton)] > kButtonThreshold;
        SetFlag(model, item, &ControllerItem::padDown, down ? 1 : 0);
    }
}

void ApplyPov(ControllerModel& model, const GamepadState& state) {
    // Eight sectors of 45 degrees centred on N, NE, E, ... ; each presses its direction(s).
    static constexpr int kSectors[8][4] = {
        {0, 1, 1, 1}, {0, 0, 1, 1}, {1, 0, 1, 1}, {1, 0, 0, 1},
        {1, 1, 0, 1}, {1, 1, 0, 0}, {1, 1, 1, 0}, {0, 1, 1, 0},
    };
    const int pov = state.pov[0];
    if (pov < 0 || pov >= 36000) {
        SetPadDirections(model, 1, 1, 1, 1);
        return;
    }
    const int* s = kSectors[((pov + 2250) / 4500) % 8];
    SetPadDirections(model, s[kUp], s[kRight], s[kDown], s[kLeft]);
}

void ApplyLeftStick(ControllerModel& model, const GamepadState& state, GamepadSticks& sticks) {
    const int xCode = model.axisBindings[kAxisLX].axisIndex;
    const int yCode = model.axisBindings[kAxisLY].axisIndex;
    const int rawX = ReadAxis(model, state, xCode);
    const int rawY = ReadAxis(model, state, yCode);
    sticks.padLX = ScaleAxis(rawX);
    sticks.padLY = ScaleAxis(rawY);
    auto st = model.stickItems();
    ApplyStickAxis(model, xCode != -1, rawX, st[kLeft], st[kRight]);
    // Y grows downwards: a low reading is up.
    ApplyStickAxis(model, yCode != -1, rawY, st[kUp], st[kDown]);
}

void ApplyRightStick(ControllerModel& model, const GamepadState& state, GamepadSticks& sticks) {
    ApplyRightAxis(model, state, model.axisBindings[kAxisRX].axisIndex, sticks.padRX, sticks.padRXChanged,
                   lastRightX);
    ApplyRightAxis(model, state, model.axisBindings[kAxisRY].axisIndex, sticks.padRY, sticks.padRYChanged,
                   lastRightY);
}

void ApplyGamepad(ControllerModel& model, const GamepadState& state, GamepadSticks& sticks) {
    ApplyPadButtons(model, state);
    ApplyPov(model, state);
    ApplyLeftStick(model, state, sticks);
    ApplyRightStick(model, state, sticks);
}

void ApplyGamepad(ControllerModel& model, GamepadDevice& joystick) {
    ApplyGamepad(model, joystick.state, joystick);
}

void ReleaseGamepadItems(ControllerModel& model, GamepadSticks& sticks) {
    ReleaseAll(model, &ControllerItem::padDown);
    sticks.padLX = sticks.padLY = sticks.padRX = sticks.padRY = 128;
    ReleaseRightAxis(sticks.padRXChanged, lastRightX);
    ReleaseRightAxis(sticks.padRYChanged, lastRightY);
}

int RightStickValue(const ControllerModel& model, const GamepadState& state, int code) {
    const int raw = ReadAxis(model, state, code);
    return raw < kDeadZoneLow || raw > kDeadZoneHigh ? ScaleAxis(raw) : 128;
}

void ResetRightStickHistory() {
    lastRightX = lastRightY = kNoReading;
}

}  // namespace zanth
