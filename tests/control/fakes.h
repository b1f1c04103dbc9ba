#pragma once
// Devices of the rules' own making: what a tick reads is set by the test.
#include <string>
#include <utility>
#include <vector>

#include "input/devices.h"
#include "sound/sound_output.h"

namespace zanth::test {

struct FakeKeyboard final : KeyboardDevice {
    bool Create(std::function<bool()>, int) override { return true; }
    int Poll() override { return ok ? 0 : -1; }
    void Shutdown() override {}
    const KeyStates& keys() const override { return down; }
    KeyStates TakePresses() override { return std::exchange(taps, KeyStates{}); }
    KeyStates down{};
    KeyStates taps{};  // keys that went down since the session last asked
    bool ok = true;
};

struct FakeGamepad final : GamepadDevice {
    bool Create(std::function<bool()>, int level) override {
        ++creates;
        background = level;
        return present;
    }
    int Poll() override { return present ? 0 : -1; }
    void Shutdown() override {}
    void Choose(const PadChoice& pad) override { chosen = pad; }
    std::vector<GamepadState> TakePresses() override { return std::exchange(presses, {}); }
    std::vector<GamepadState> presses;  // readings at presses since the session last asked
    PadChoice chosen;
    bool present = true;
    int creates = 0;
    int background = -1;  // the level of the last Create
};

struct FakeSound final : SoundOutput {
    void Start(const std::string& file) override { started.push_back(file); }
    void Retrigger(const std::string&) override {}
    void Stop() override {}
    std::vector<std::string> started;
};

}  // namespace zanth::test
