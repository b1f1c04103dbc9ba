#include "input/gamepad_reader.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <span>
#include <utility>

#include "base/ui_text.h"
#include "input/evdev_axes.h"

namespace zanth {
namespace {

// The separator between a pad's name and its kind.
constexpr const char* kNameKindSeparator = " \u2014 ";

std::string GuidText(const SDL_JoystickGUID& guid) {
    char text[33];
    SDL_JoystickGetGUIDString(guid, text, sizeof text);
    return text;
}

// Both motors, strong enough to be felt through a hand that holds the pad.
constexpr Uint16 kRumbleStrength = 0xC000;

}  // namespace

// What one successful Create holds: while the device is plugged in, the open joystick (and, for a pad SDL
// knows, the game controller over it).
struct GamepadReader::Device {
    SDL_GameController* controller = nullptr;  // owns `joystick` when set
    SDL_Joystick* joystick = nullptr;
    SDL_JoystickGUID guid{};  // identifies the device again after it was unplugged, with its place
    std::string name;
    std::string place;
    AxisSlots axisSlots;  // raw joysticks: where each of SDL's axes goes
    int hatCount = 0, buttonCount = 0;

    // Opens device `index` of SDL's list, as a game controller where SDL has a mapping for it.
    bool Attach(int index, const AbsBitsReader& readAbsBits) {
        if (SDL_IsGameController(index)) {
            controller = SDL_GameControllerOpen(index);
            if (controller) joystick = SDL_GameControllerGetJoystick(controller);
        }
        if (!joystick) joystick = SDL_JoystickOpen(index);
        if (!joystick) return false;
        guid = SDL_JoystickGetGUID(joystick);
        const char* n = controller ? SDL_GameControllerName(controller) : SDL_JoystickName(joystick);
        name = n ? n : "";
        hatCount = std::max(0, SDL_JoystickNumHats(joystick));
        buttonCount = std::max(0, SDL_JoystickNumButtons(joystick));
        const int axes = std::max(0, SDL_JoystickNumAxes(joystick));
        std::optional<AxisSlots> slots;
        if (!controller && readAbsBits) {
            const char* path = SDL_JoystickPath(joystick);
            if (auto bits = readAbsBits(path ? path : ""))
                slots = AxisSlotsFromAbsBits(*bits, axes, hatCount);
        }
        axisSlots = slots ? std::move(*slots) : PositionalAxisSlots(axes);
        return true;
    }
    void Detach() {
        if (controller)
            SDL_GameControllerClose(controller);
        else if (joystick)
            SDL_JoystickClose(joystick);
        controller = nullptr;
        joystick = nullptr;
    }
    ~Device() { Detach(); }
};

GamepadReader::GamepadReader(Language language)
    : GamepadNames(language), language_(language), absBitsReader_(ReadAbsBits) {}

int PickPad(const std::vector<PadChoice>& connected, const PadChoice& wanted) {
    int first = -1, models = 0;
    for (std::size_t i = 0; i < connected.size(); ++i) {
        if (connected[i].guid != wanted.guid) continue;
        if (!wanted.place.empty() && connected[i].place == wanted.place) return static_cast<int>(i);
        if (first < 0) first = static_cast<int>(i);
        ++models;
    }
    return wanted.place.empty() || models == 1 ? first : -1;
}

std::vector<PadChoice> GamepadReader::Listed(const std::string& guid) const {
    std::vector<PadChoice> pads;
    for (int i = 0; i < SDL_NumJoysticks(); ++i) {
        const char* name = SDL_JoystickNameForIndex(i);
        PadChoice pad{GuidText(SDL_JoystickGetDeviceGUID(i)), name ? name : "", {}};
        if (pad.guid == guid) pad.place = SystemPlace(i);
        pads.push_back(std::move(pad));
    }
    return pads;
}

std::string GamepadReader::SystemPlace(int index, const std::string& root) {
    const char* path = SDL_JoystickPathForIndex(index);
    return path ? PlaceOfDevice(path, root) : std::string();
}

std::string GamepadReader::PlaceOfDevice(const std::string& devicePath, const std::string& root) {
    namespace fs = std::filesystem;
    const std::string node = fs::path(devicePath).filename().string();
    if (node.empty()) return {};
    const bool hidraw = node.rfind("hidraw", 0) == 0;
    const fs::path device = fs::path(root) / "sys/class" / (hidraw ? "hidraw" : "input") / node / "device";
    std::string uniq;
    if (std::ifstream in(device / "uniq"); in) std::getline(in, uniq);
    if (!uniq.empty()) return uniq;
    // The USB socket: the components "usbN/1-2.3" of the device's place in the tree.
    std::error_code error;
    const fs::path real = fs::canonical(device, error);
    if (error) return {};
    std::string bus;
    for (const fs::path& part : real) {
        const std::string p = part.string();
        if (!bus.empty()) return p.find(':') == std::string::npos ? bus + "/" + p : std::string();
        if (p.rfind("usb", 0) == 0 && p.size() > 3) bus = p;
    }
    return {};
}

GamepadReader::~GamepadReader() {
    Shutdown();
    if (sdlSubsystem_) SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
}

GamepadKind GamepadReader::kind() const {
    if (!device_) return GamepadKind::kNone;
    return device_->controller ? GamepadKind::kGameController : GamepadKind::kJoystick;
}

std::string GamepadReader::Description() const {
    if (!device_ || !device_->joystick) return {};  // none opened, or unplugged
    const Msg kindText =
        kind() == GamepadKind::kGameController ? Msg::kGamepadKindController : Msg::kGamepadKindJoystick;
    return device_->name + kNameKindSeparator + UiText(kindText, language_);
}

bool GamepadReader::Create(std::function<bool()> windowIsActive, int background) {
    // Each attempt starts from nothing, so retries while no gamepad is there never pile anything up.
    Shutdown();
    const bool inBackground = background == 1;
    if (!inBackground && !windowIsActive) return false;

    // Without this SDL installs its own SIGINT/SIGTERM handlers and the program no longer ends on SIGTERM.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // One reference on SDL's game controller subsystem (which holds the joystick one) for the object's life,
    // taken by the first search: starting it costs milliseconds, too much for a search every 22nd tick, and
    // while it runs SDL notices gamepads plugged in later by itself. Searches never take more than this one
    // reference. Starting it also reads the user's own mappings from SDL_GAMECONTROLLERCONFIG.
    if (!sdlSubsystem_) {
        if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) return false;
        sdlSubsystem_ = true;
    }
    auto device = std::make_unique<Device>();
    // The state is read by polling; the events tell the presses that began and ended between two polls.
    // Every poll takes them, so that they never pile up.
    SDL_JoystickEventState(SDL_ENABLE);
    SDL_GameControllerEventState(SDL_ENABLE);
    SDL_JoystickUpdate();
    const std::vector<PadChoice> listed = Listed(choice_.guid);
    const int chosen = choice_.any() ? -1 : PickPad(listed, choice_);
    for (int i = 0; i < static_cast<int>(listed.size()) && !device->joystick; ++i) {
        if (!choice_.any() && i != chosen) continue;
        if (device->Attach(i, absBitsReader_)) device->place = SystemPlace(i);
    }
    if (!device->joystick) return false;

    device_ = std::move(device);
    ForgetPresses();
    acquisition_.Configure(std::move(windowIsActive), inBackground);
    acquisition_.Acquire();  // may fail while the window is inactive; Poll asks again
    padLX = padLY = padRX = padRY = 128;
    return true;
}

bool GamepadReader::Reopen() {
    SDL_JoystickUpdate();  // also notices devices plugged in since the last update
    const PadChoice self{GuidText(device_->guid), device_->name, device_->place};
    const std::vector<PadChoice> listed = Listed(self.guid);
    int i = PickPad(listed, self);
    // Without a choice a twin of the pad will do, as any pad would.
    for (int j = 0; i < 0 && choice_.any() && j < static_cast<int>(listed.size()); ++j)
        if (listed[static_cast<std::size_t>(j)].guid == self.guid) i = j;
    if (i < 0 || !device_->Attach(i, absBitsReader_)) return false;
    device_->place = listed[static_cast<std::size_t>(i)].place;
    return true;
}

void GamepadReader::Read() {
    if (SDL_GameController* c = device_->controller) {
        ControllerReading r;
        for (int a = 0; a < kControllerAxes; ++a)
            r.axes[static_cast<std::size_t>(a)] =
                SDL_GameControllerGetAxis(c, static_cast<SDL_GameControllerAxis>(a));
        for (int b = 0; b < kControllerButtons; ++b) {
            r.buttons[static_cast<std::size_t>(b)] =
                SDL_GameControllerGetButton(c, static_cast<SDL_GameControllerButton>(b)) != 0;
        }
        state = GenericGamepadReading(r);
        lastController_ = r;
        return;
    }
    SDL_Joystick* j = device_->joystick;
    const auto& slots = device_->axisSlots;
    for (std::size_t a = 0; a < slots.size(); ++a) {
        const std::int32_t value =
            static_cast<std::int32_t>(SDL_JoystickGetAxis(j, static_cast<int>(a))) + 32768;
        if (slots[a] >= 0 && slots[a] < kSliderSlot)
            state.axes[static_cast<std::size_t>(slots[a])] = value;
        else if (slots[a] >= kSliderSlot)
            state.sliders[static_cast<std::size_t>(slots[a] - kSliderSlot)] = value;
    }
    const int hats = std::min(device_->hatCount, static_cast<int>(state.pov.size()));
    for (int h = 0; h < hats; ++h)
        state.pov[static_cast<std::size_t>(h)] = PovFromHat(SDL_JoystickGetHat(j, h));
    const int buttons = std::min(device_->buttonCount, static_cast<int>(state.buttons.size()));
    for (int b = 0; b < buttons; ++b) {
        state.buttons[static_cast<std::size_t>(b)] = SDL_JoystickGetButton(j, b) ? kButtonDownByte : 0;
    }
}

int GamepadReader::Poll() {
    state = GamepadState::Neutral();
    if (!device_) return -1;
    switch (acquisition_.Check()) {
        case ReadResult::kOk:
            SDL_JoystickUpdate();
            if (device_->joystick && SDL_JoystickGetAttached(device_->joystick)) {
                CollectPresses();
                Read();
                lastRead_ = state;
                return 0;
            }
            // Unplugged: this handle is dead for good; the device is looked for again on the next poll.
            device_->Detach();
            acquisition_.Unacquire();
            break;
        case ReadResult::kNotAcquired:
            if (device_->joystick || Reopen()) acquisition_.Acquire();
            break;
        default:  // input lost: the window was deactivated
            acquisition_.Unacquire();
            break;
    }
    ForgetPresses();
    return -1;
}

void GamepadReader::ForgetPresses() {
    SDL_FlushEvents(SDL_JOYAXISMOTION, SDL_CONTROLLERSENSORUPDATE);
    presses_.clear();
    lastRead_ = GamepadState::Neutral();
    lastController_ = {};
}

void GamepadReader::CollectPresses() {
    constexpr std::size_t kMostKept = 64;  // a pad pressed faster than this between two polls is not a hand
    const SDL_JoystickID self = SDL_JoystickInstanceID(device_->joystick);
    GamepadState shadow = lastRead_;
    ControllerReading controller = lastController_;
    SDL_Event events[32];
    int n = 0;
    while ((n = SDL_PeepEvents(events, 32, SDL_GETEVENT, SDL_JOYAXISMOTION, SDL_CONTROLLERSENSORUPDATE)) >
           0) {
        for (const SDL_Event& e : std::span(events, static_cast<std::size_t>(n))) {
            bool pressed = false;
            if (device_->controller && e.type == SDL_CONTROLLERBUTTONDOWN && e.cbutton.which == self &&
                e.cbutton.button < kControllerButtons) {
                controller.buttons[e.cbutton.button] = true;
                shadow = GenericGamepadReading(controller);
                pressed = true;
            } else if (device_->controller && e.type == SDL_CONTROLLERBUTTONUP && e.cbutton.which == self &&
                       e.cbutton.button < kControllerButtons) {
                controller.buttons[e.cbutton.button] = false;
            } else if (!device_->controller && (e.type == SDL_JOYBUTTONDOWN || e.type == SDL_JOYBUTTONUP) &&
                       e.jbutton.which == self && e.jbutton.button < shadow.buttons.size()) {
                pressed = e.type == SDL_JOYBUTTONDOWN;
                shadow.buttons[e.jbutton.button] = pressed ? kButtonDownByte : 0;
            } else if (!device_->controller && e.type == SDL_JOYHATMOTION && e.jhat.which == self &&
                       e.jhat.hat < shadow.pov.size()) {
                shadow.pov[e.jhat.hat] = PovFromHat(e.jhat.value);
                pressed = e.jhat.value != SDL_HAT_CENTERED;
            }
            if (pressed && presses_.size() < kMostKept) presses_.push_back(shadow);
        }
    }
}

bool GamepadReader::PressWaiting() {
    if (!device_ || !device_->joystick) return false;
    SDL_JoystickUpdate();
    SDL_Event events[32];
    const int n = SDL_PeepEvents(events, 32, SDL_PEEKEVENT, SDL_JOYHATMOTION, SDL_CONTROLLERBUTTONDOWN);
    return std::any_of(events, events + std::max(n, 0), [](const SDL_Event& e) {
        return e.type == SDL_JOYBUTTONDOWN || e.type == SDL_CONTROLLERBUTTONDOWN ||
               (e.type == SDL_JOYHATMOTION && e.jhat.value != SDL_HAT_CENTERED);
    });
}

std::vector<GamepadState> GamepadReader::TakePresses() {
    return std::exchange(presses_, {});
}

void GamepadReader::Choose(const PadChoice& choice) {
    if (choice == choice_) return;
    choice_ = choice;
    if (device_ && !choice_.any() &&
        (GuidText(device_->guid) != choice_.guid || device_->place != choice_.place))
        Shutdown();
}

bool GamepadReader::CanRumble() const {
    return device_ && device_->joystick && SDL_JoystickHasRumble(device_->joystick);
}

bool GamepadReader::Rumble(int ms) {
    if (!CanRumble()) return false;
    // SDL only lengthens a pulse that still runs at the same strength: stopped first, each one is felt.
    SDL_JoystickRumble(device_->joystick, 0, 0, 0);
    return SDL_JoystickRumble(device_->joystick, kRumbleStrength, kRumbleStrength,
                              static_cast<Uint32>(std::max(ms, 0))) == 0;
}

std::vector<PadInfo> GamepadReader::ConnectedPads() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) return {};
    SDL_JoystickUpdate();
    std::vector<PadInfo> pads;
    for (int i = 0; i < SDL_NumJoysticks(); ++i) {
        PadInfo pad;
        pad.controller = SDL_IsGameController(i) == SDL_TRUE;
        const char* name = pad.controller ? SDL_GameControllerNameForIndex(i) : SDL_JoystickNameForIndex(i);
        pad.id = {GuidText(SDL_JoystickGetDeviceGUID(i)), name ? name : "", SystemPlace(i)};
        char id[16];
        std::snprintf(id, sizeof id, "%04x:%04x", SDL_JoystickGetDeviceVendor(i),
                      SDL_JoystickGetDeviceProduct(i));
        pad.shortId = id;
        pads.push_back(std::move(pad));
    }
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    return pads;
}

void GamepadReader::Shutdown() {
    acquisition_.Reset();
    device_.reset();
    presses_.clear();
}

}  // namespace zanth
