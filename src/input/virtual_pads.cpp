#include "input/virtual_pads.h"

#include <SDL.h>

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace zanth {
namespace {

constexpr int kAxes = 6, kHats = 1, kButtons = 20;

std::vector<std::string_view> Split(std::string_view text, char by) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(by, start);
        parts.push_back(
            text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

std::optional<long> Number(std::string_view text, int base = 10) {
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

}  // namespace

struct VirtualPads::Pad {
    Description description;
    int number = 0;
    SDL_Joystick* handle = nullptr;  // while plugged in

    static int OnRumble(void* self, Uint16 low, Uint16 high) {
        std::fprintf(stderr, "virtual pad %d: rumble %u %u\n", static_cast<Pad*>(self)->number, low, high);
        return 0;
    }
};

std::vector<VirtualPads::Description> VirtualPads::ParseDescriptions(std::string_view text) {
    std::vector<Description> descriptions;
    for (std::string_view entry : Split(text, ';')) {
        const std::size_t at = entry.rfind('@');
        if (at == std::string_view::npos || at == 0) continue;
        const std::vector<std::string_view> ids = Split(entry.substr(at + 1), ':');
        if (ids.size() != 2) continue;
        const auto vendor = Number(ids[0], 16), product = Number(ids[1], 16);
        if (!vendor || !product || *vendor <= 0 || *vendor > 0xFFFF || *product < 0 || *product > 0xFFFF)
            continue;
        descriptions.push_back(
            {std::string(entry.substr(0, at)), static_cast<Uint16>(*vendor), static_cast<Uint16>(*product)});
    }
    return descriptions;
}

std::unique_ptr<VirtualPads> VirtualPads::FromEnvironment() {
    const char* text = std::getenv("ZANTH_VIRTUAL_PADS");
    if (text == nullptr) return nullptr;
    std::vector<Description> descriptions = ParseDescriptions(text);
    if (descriptions.empty()) return nullptr;
    return std::make_unique<VirtualPads>(std::move(descriptions));
}

VirtualPads::VirtualPads(std::vector<Description> descriptions) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    sdl_ = SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) == 0;
    for (Description& description : descriptions) {
        auto pad = std::make_unique<Pad>();
        pad->description = std::move(description);
        pad->number = static_cast<int>(pads_.size());
        if (sdl_) Plug(*pad);
        pads_.push_back(std::move(pad));
    }
}

VirtualPads::~VirtualPads() {
    for (auto& pad : pads_) Unplug(*pad);
    if (sdl_) SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
}

bool VirtualPads::Plug(Pad& pad) {
    if (pad.handle) return true;
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_UNKNOWN;  // read as a raw joystick: buttons by their numbers
    desc.naxes = kAxes;
    desc.nhats = kHats;
    desc.nbuttons = kButtons;
    desc.vendor_id = pad.description.vendor;
    desc.product_id = pad.description.product;
    desc.name = pad.description.name.c_str();
    desc.userdata = &pad;
    desc.Rumble = &Pad::OnRumble;
    const int index = SDL_JoystickAttachVirtualEx(&desc);
    if (index < 0) return false;
    pad.handle = SDL_JoystickOpen(index);
    if (pad.handle == nullptr) return false;
    // The GUID SDL made, for a test that writes it into a settings file as the chosen pad.
    char guid[33];
    SDL_JoystickGetGUIDString(SDL_JoystickGetGUID(pad.handle), guid, sizeof guid);
    std::fprintf(stderr, "virtual pad %d: %s %s\n", pad.number, guid, pad.description.name.c_str());
    return true;
}

void VirtualPads::Unplug(Pad& pad) {
    if (!pad.handle) return;
    const SDL_JoystickID id = SDL_JoystickInstanceID(pad.handle);
    for (int i = 0; i < SDL_NumJoysticks(); ++i) {
        if (SDL_JoystickGetDeviceInstanceID(i) == id) SDL_JoystickDetachVirtual(i);
    }
    SDL_JoystickClose(pad.handle);
    pad.handle = nullptr;
}

bool VirtualPads::Apply(std::string_view line) {
    std::vector<std::string_view> words;
    for (std::string_view w : Split(line, ' '))
        if (!w.empty()) words.push_back(w);
    if (words.size() < 2) return false;
    const auto n = Number(words[0]);
    if (!n || *n < 0 || *n >= static_cast<long>(pads_.size())) return false;
    Pad& pad = *pads_[static_cast<std::size_t>(*n)];
    if (words.size() == 2 && words[1] == "unplug") return Unplug(pad), true;
    if (words.size() == 2 && words[1] == "plug") return Plug(pad);
    if (words.size() != 4 || !pad.handle) return false;
    const auto control = Number(words[2]), value = Number(words[3]);
    if (!control || !value) return false;
    const int c = static_cast<int>(*control);
    if (words[1] == "button" && (*value == 0 || *value == 1))
        return SDL_JoystickSetVirtualButton(pad.handle, c, static_cast<Uint8>(*value)) == 0;
    if (words[1] == "axis" && *value >= -32768 && *value <= 32767)
        return SDL_JoystickSetVirtualAxis(pad.handle, c, static_cast<Sint16>(*value)) == 0;
    if (words[1] == "hat" && *value >= 0 && *value <= 15)
        return SDL_JoystickSetVirtualHat(pad.handle, c, static_cast<Uint8>(*value)) == 0;
    return false;
}

void VirtualPads::Feed(int fd) {
    char buffer[512];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
    for (std::size_t end = pending_.find('\n'); end != std::string::npos; end = pending_.find('\n')) {
        const std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (!Apply(line)) std::fprintf(stderr, "virtual pads: not understood: %s\n", line.c_str());
        // Each line is a change of its own, as a real pad's events are: a press and its release in one
        // write still reach SDL as two.
        SDL_JoystickUpdate();
    }
}

int VirtualPads::OpenInput() {
    const char* path = std::getenv("ZANTH_VIRTUAL_PAD_INPUT");
    if (path == nullptr || *path == '\0') return -1;
    return open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
}

}  // namespace zanth
