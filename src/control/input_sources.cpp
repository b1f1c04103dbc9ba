#include "control/input_sources.h"

#include <algorithm>
#include <utility>

#include "input/apply.h"
#include "input/devices.h"
#include "link/frame.h"
#include "remote/remote_server.h"

namespace zanth {
namespace {

// The items that a set of keys, taken as held, presses.
ItemSet ItemsOfKeys(const ControllerModel& model, const KeyStates& keys) {
    ItemSet items;
    for (int i = 0; i < kInputItemCount; ++i) {
        const int code = model.item(i).keyCode;
        if (code >= 0 && code < 256 && keys[static_cast<std::size_t>(code)] != 0)
            items.set(static_cast<std::size_t>(i));
    }
    return items;
}

// The buttons and hat directions the gamepad readings press, by the bindings of `model`.
ItemSet ItemsOfPadReadings(const ControllerModel& model, const std::vector<GamepadState>& readings) {
    ItemSet items;
    if (readings.empty()) return items;
    ControllerModel scratch = model;
    scratch.invalidate = nullptr;
    for (const GamepadState& reading : readings) {
        for (ControllerItem& item : scratch.inputItems()) item.padDown = 0;
        ApplyPadButtons(scratch, reading);
        ApplyPov(scratch, reading);
        for (int i = 0; i < kInputItemCount; ++i)
            if (scratch.item(i).padDown != 0) items.set(static_cast<std::size_t>(i));
    }
    return items;
}

KeyStates Either(const KeyStates& a, const KeyStates& b) {
    KeyStates out{};
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = a[i] | b[i];
    return out;
}

}  // namespace

// ---- Keyboard

ItemSet KeyboardSource::TakePresses(const ControllerModel& model) {
    const KeyStates keys = keyboard_.TakePresses();
    if (std::none_of(keys.begin(), keys.end(), [](std::uint8_t k) { return k != 0; })) return {};
    taps_ = Either(taps_, keys);
    return ItemsOfKeys(model, keys);
}

bool KeyboardSource::Tick(ControllerModel& model, ItemSet&) {
    // A failed poll releases what the keyboard held, so nothing stays pressed on the robot.
    if (keyboard_.Poll() != 0) {
        ReleaseKeyboardItems(model);
        return false;
    }
    ApplyKeyboard(model, Either(keyboard_.keys(), std::exchange(taps_, KeyStates{})));
    return true;
}

void KeyboardSource::Sample(ControllerModel& now) {
    if (keyboard_.Poll() == 0) ApplyKeyboard(now, keyboard_);
}

// ---- Gamepad

// The pad's presses come with its poll (SDL's events of that update): taken after it.
ItemSet PadSource::TakePresses(const ControllerModel& model) {
    const ItemSet pad = ItemsOfPadReadings(model, pad_.TakePresses());
    taps_ |= pad;
    return pad;
}

bool PadSource::Tick(ControllerModel& model, ItemSet& pressed) {
    const bool readable = pad_.Poll() == 0;
    if (readable)
        ApplyGamepad(model, pad_);
    else
        ReleaseGamepadItems(model, pad_);
    pressed |= TakePresses(model);
    // The gamepad's flags are read afresh every tick: a tap set here lasts this one tick.
    const ItemSet taps = std::exchange(taps_, ItemSet{});
    for (int i = 0; i < kInputItemCount; ++i) {
        ControllerItem& item = model.item(i);
        if (!taps.test(static_cast<std::size_t>(i)) || item.padDown != 0) continue;
        item.padDown = 1;
        model.InvalidateItem(item);
    }
    left_ = {pad_.padLX, pad_.padLY};
    return readable;
}

void PadSource::Sample(ControllerModel& now) {
    GamepadSticks sticks = pad_;
    if (pad_.Poll() == 0) {
        ApplyPadButtons(now, pad_.state);
        ApplyPov(now, pad_.state);
        ApplyLeftStick(now, pad_.state, sticks);
        // The right stick as the tick would take it: the gamepad's reading once it differs from the last one.
        auto right = [&](int binding, int last, int& stick) {
            const int code = now.axisBindings[static_cast<std::size_t>(binding)].axisIndex;
            if (code < 0 || code > 5 || now.gamepadReady != 1) return;
            const int value = RightStickValue(now, pad_.state, code);
            if (value != last) stick = value;
        };
        right(kAxisRX, pad_.padRX, now.rightStickX);
        right(kAxisRY, pad_.padRY, now.rightStickY);
    }
    left_ = {sticks.padLX, sticks.padLY};
}

void PadSource::Sticks(ControllerModel& model) {
    model.leftStickX = StickByte(model.item(kItemStickLeft), model.item(kItemStickRight), left_[0]);
    model.leftStickY = StickByte(model.item(kItemStickUp), model.item(kItemStickDown), left_[1]);
}

// ---- Mouse

bool MouseSource::Tick(ControllerModel& model, ItemSet&) {
    // The mouse's flags follow its events: a click the tick never saw held is held for this tick, then let go
    // (the press flipped the LED already).
    const ItemSet mouse = std::exchange(taps_, ItemSet{});
    for (int i = 0; i < kInputItemCount; ++i) {
        ControllerItem& item = model.item(i);
        const auto bit = static_cast<std::size_t>(i);
        const bool letGo = heldByTick_.test(bit) && !mouse.test(bit) && item.mouseDown != 0;
        const bool show = mouse.test(bit) && item.mouseDown == 0;
        heldByTick_.set(bit, show);
        if (letGo || show) {
            item.mouseDown = show ? 1 : 0;
            model.InvalidateItem(item);
        }
    }
    return true;
}

// ---- Remote clients

ItemSet RemoteSource::TakePresses(const ControllerModel&) {
    const ItemSet remote = server_.TakePresses();
    taps_ |= remote;
    return remote;
}

bool RemoteSource::Tick(ControllerModel& model, ItemSet&) {
    input_ = server_.Input();
    input_.items |= std::exchange(taps_, ItemSet{});
    ApplyRemoteItems(model, input_.items, true);
    return true;
}

void RemoteSource::Sample(ControllerModel& now) {
    input_ = server_.Input();
    ApplyRemoteItems(now, input_.items, false);
}

void RemoteSource::Sticks(ControllerModel& model) {
    const std::array<int, 4> merged =
        sticks_.Merge({model.leftStickX, model.leftStickY, model.rightStickX, model.rightStickY},
                      input_.sticks, RemoteNowUs());
    model.leftStickX = merged[0];
    model.leftStickY = merged[1];
    model.rightStickX = merged[2];
    model.rightStickY = merged[3];
}

void RemoteSource::LetGo(ControllerModel& model) {
    ApplyRemoteItems(model, {}, true);
}

}  // namespace zanth
