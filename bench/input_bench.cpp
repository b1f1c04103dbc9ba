// One control tick's worth of input: poll and apply the gamepad (an SDL virtual joystick) and, when $DISPLAY
// names an X server, the keyboard. Run: DISPLAY=:N bench_input_bench (e.g. under xvfb-run -a).
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "input/apply.h"
#include "input/gamepad_reader.h"
#include "input/keyboard_reader.h"
#include "model/controller_model.h"

namespace {

using namespace zanth;

void SetUpModel(ControllerModel& model) {
    static constexpr int kKeys[kInputItemCount] = {23, 24, 38, 37, 63, 64, 67, 65, 66, 16, 44, 31,
                                                   22, 50, 35, 21, 36, 49, 34, 17, 32, 45, 30};
    static constexpr int kPadButtons[kButtonCount] = {2, 0, 1, 3, -1, -1, -999, 8, 9, 4, 5, 10, 6, 7, 11};
    for (int i = 0; i < kInputItemCount; ++i) model.item(i).keyCode = kKeys[i];
    for (int i = 0; i < kButtonCount; ++i) model.item(i).padButton = kPadButtons[i];
    const int axes[4] = {0, 1, 2, 5};
    for (int i = 0; i < 4; ++i) model.axisBindings[static_cast<std::size_t>(i)].axisIndex = axes[i];
    model.gamepadReady = 1;
    model.invalidate = [](const ControllerItem& item) { benchmark::DoNotOptimize(&item); };
}

void BM_PollAndApplyInput(benchmark::State& state) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) {
        state.SkipWithError("no SDL joystick subsystem");
        return;
    }
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = 8;
    desc.nbuttons = 20;
    desc.nhats = 1;
    desc.name = "Bench Pad";
    const int index = SDL_JoystickAttachVirtualEx(&desc);
    SDL_Joystick* pad = index >= 0 ? SDL_JoystickOpen(index) : nullptr;
    if (pad) {
        SDL_JoystickSetVirtualButton(pad, 2, SDL_PRESSED);
        SDL_JoystickSetVirtualHat(pad, 0, SDL_HAT_RIGHTUP);
        SDL_JoystickSetVirtualAxis(pad, 0, 32767);
        SDL_JoystickSetVirtualAxis(pad, 2, -32768);
    }

    ControllerModel model;
    SetUpModel(model);
    GamepadReader joystick;
    KeyboardReader keyboard;
    const bool haveGamepad = joystick.Create(nullptr, 1);
    const char* display = std::getenv("DISPLAY");
    const bool haveKeyboard = display && *display && keyboard.CreateX11(nullptr, 1, display);
    if (!haveGamepad) {
        state.SkipWithError("virtual gamepad did not open");
    } else {
        for (auto _ : state) {
            if (joystick.Poll() == 0) {
                ApplyGamepad(model, joystick);
            } else {
                ReleaseGamepadItems(model, joystick);
            }
            if (haveKeyboard) {
                if (keyboard.Poll() == 0) {
                    ApplyKeyboard(model, keyboard);
                } else {
                    ReleaseKeyboardItems(model);
                }
            }
            benchmark::ClobberMemory();
        }
        state.SetLabel(haveKeyboard ? "gamepad + X11 keyboard" : "gamepad only (no DISPLAY)");
    }
    joystick.Shutdown();
    keyboard.Shutdown();
    if (pad) SDL_JoystickClose(pad);
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}
BENCHMARK(BM_PollAndApplyInput)->Unit(benchmark::kMicrosecond);

}  // namespace
