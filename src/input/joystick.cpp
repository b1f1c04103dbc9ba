#include "input/joystick.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/ui_text.h"

namespace zanth {
namespace {

constexpr int kAxisCount = 6;
constexpr int kSliderCount = 2;

// SDL hat bits to a direction in hundredths of a degree clockwise from north.
std::int32_t PovFromHat(Uint8 hat) {
    switch (hat) {
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

std::int32_t AxisValue(SDL_Joystick* joystick, int axis, int axisCount) {
    if (axis >= axisCount) return kAxisCentre;  // an axis the device lacks rests in the middle
    return static_cast<std::int32_t>(SDL_JoystickGetAxis(joystick, axis)) + 32768;
}

bool SameGuid(const SDL_JoystickGUID& a, const SDL_JoystickGUID& b) {
    return std::memcmp(a.data, b.data, sizeof a.data) == 0;
}

}  // namespace

// What one successful Create holds: while the device is plugged in, the open joystick.
struct CJoystick::Device {
    SDL_Joystick* joystick = nullptr;
    SDL_JoystickGUID guid{};  // identifies the device again after it was unplugged
    int axisCount = 0, hatCount = 0, buttonCount = 0;

    void Attach(SDL_Joystick* j) {
        joystick = j;
        guid = SDL_JoystickGetGUID(j);
        axisCount = std::max(0, SDL_JoystickNumAxes(j));
        hatCount = std::max(0, SDL_JoystickNumHats(j));
        buttonCount = std::max(0, SDL_JoystickNumButtons(j));
    }
    void Detach() {
        if (joystick) SDL_JoystickClose(joystick);
        joystick = nullptr;
    }
    ~Device() { Detach(); }
};

CJoystick::CJoystick(int language) {
    const std::string none = UiText(Msg::kNone, language);
    buttonNames[0] = {-1, none};
    const std::string button = UiText(Msg::kPadButton, language);
    for (int i = 0; i < 20; ++i)
        buttonNames[static_cast<std::size_t>(i + 1)] = {i, button + std::to_string(i + 1)};
    // Axis codes 0..5 in the order of the gamepad reading.
    static const char* const kAxes[6] = {"X", "Y", "Z", "RX", "RY", "RZ"};
    axisNames[0] = {-1, none};
    for (int i = 0; i < 6; ++i) {
        axisNames[static_cast<std::size_t>(i + 1)] = {
            i, std::string(kAxes[i]) + UiText(Msg::kAxisSuffix, language)};
    }
}

CJoystick::~CJoystick() {
    Shutdown();
    if (sdlJoystick_) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

bool CJoystick::opened() const {
    return device_ != nullptr;
}

bool CJoystick::Create(std::function<bool()> windowIsActive, int background) {
    // Each attempt starts from nothing, so retries while no gamepad is there never pile anything up.
    Shutdown();
    const bool inBackground = background == 1;
    if (!inBackground && !windowIsActive) return false;

    // Without this SDL installs its own SIGINT/SIGTERM handlers and the program no longer ends on SIGTERM.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // One reference on SDL's joystick subsystem for the object's life, taken by the first search: starting
    // the subsystem costs milliseconds, too much for a search every 22nd tick, and while it runs SDL notices
    // gamepads plugged in later by itself. Searches never take more than this one reference.
    if (!sdlJoystick_) {
        if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) return false;
        sdlJoystick_ = true;
    }
    auto device = std::make_unique<Device>();
    // The state is read by polling; queued joystick events would only pile up unread.
    SDL_JoystickEventState(SDL_IGNORE);
    SDL_JoystickUpdate();
    const int count = SDL_NumJoysticks();
    for (int i = 0; i < count && !device->joystick; ++i) {
        if (SDL_Joystick* j = SDL_JoystickOpen(i)) device->Attach(j);
    }
    if (!device->joystick) return false;

    device_ = std::move(device);
    acquisition_.Configure(std::move(windowIsActive), inBackground);
    acquisition_.Acquire();  // may fail while the window is inactive; Poll asks again
    padLX = padLY = padRX = padRY = 128;
    return true;
}

bool CJoystick::Reopen() {
    SDL_JoystickUpdate();  // also notices devices plugged in since the last update
    const int count = SDL_NumJoysticks();
    for (int i = 0; i < count; ++i) {
        if (!SameGuid(SDL_JoystickGetDeviceGUID(i), device_->guid)) continue;
        if (SDL_Joystick* j = SDL_JoystickOpen(i)) {
            device_->Attach(j);
            return true;
        }
    }
    return false;
}

void CJoystick::Read() {
    SDL_Joystick* j = device_->joystick;
    for (int a = 0; a < kAxisCount; ++a)
        state.axes[static_cast<std::size_t>(a)] = AxisValue(j, a, device_->axisCount);
    for (int s = 0; s < kSliderCount; ++s) {
        state.sliders[static_cast<std::size_t>(s)] = AxisValue(j, kAxisCount + s, device_->axisCount);
    }
    const int hats = std::min(device_->hatCount, static_cast<int>(state.pov.size()));
    for (int h = 0; h < hats; ++h)
        state.pov[static_cast<std::size_t>(h)] = PovFromHat(SDL_JoystickGetHat(j, h));
    const int buttons = std::min(device_->buttonCount, static_cast<int>(state.buttons.size()));
    for (int b = 0; b < buttons; ++b) {
        state.buttons[static_cast<std::size_t>(b)] = SDL_JoystickGetButton(j, b) ? kButtonDownByte : 0;
    }
}

int CJoystick::Poll() {
    state = JoyState::Neutral();
    if (!device_) return -1;
    switch (acquisition_.Check()) {
        case ReadResult::kOk:
            SDL_JoystickUpdate();
            if (device_->joystick && SDL_JoystickGetAttached(device_->joystick)) {
                Read();
                return 0;
            }
            // Unplugged: this handle is dead for good; the device is looked for again on the next poll.
            device_->Detach();
            acquisition_.Unacquire();
            return -1;
        case ReadResult::kNotAcquired:
            if (device_->joystick || Reopen()) acquisition_.Acquire();
            return -1;
        default:  // input lost: the window was deactivated
            acquisition_.Unacquire();
            return -1;
    }
}

void CJoystick::Shutdown() {
    acquisition_.Reset();
    device_.reset();
}

int CJoystick::ButtonIndex(int code) const {
    for (std::size_t i = 0; i < buttonNames.size(); ++i) {
        if (buttonNames[i].code == code) return static_cast<int>(i);
    }
    return -1;
}

std::optional<std::string> CJoystick::ButtonName(int code) const {
    const int i = ButtonIndex(code);
    if (i < 0) return std::nullopt;
    return buttonNames[static_cast<std::size_t>(i)].name;
}

int CJoystick::AxisIndex(int code) const {
    for (std::size_t i = 0; i < axisNames.size(); ++i) {
        if (axisNames[i].code == code) return static_cast<int>(i);
    }
    return -1;
}

std::optional<std::string> CJoystick::AxisName(int code) const {
    const int i = AxisIndex(code);
    if (i < 0) return std::nullopt;
    return axisNames[static_cast<std::size_t>(i)].name;
}

}  // namespace zanth
