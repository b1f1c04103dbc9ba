// Any bytes as the settings file, taken through the program's whole life: loaded, a session built from it
// ticking with keys up and down, the save at close over the same file, and the file read again must build
// the model that was saved. A second life from there must leave the file byte for byte as it is.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "base/app_context.h"
#include "base/text.h"
#include "control/session.h"
#include "input/devices.h"
#include "model/settings.h"
#include "scratch_dir.h"
#include "sound/sound_output.h"

namespace {

const std::string& Dir() {
    static const zanth::fuzz::ScratchDir dir("zanth-settings-fuzz");
    return dir.path();
}

struct Keyboard final : zanth::KeyboardDevice {
    bool Create(std::function<bool()>, int) override { return true; }
    int Poll() override { return 0; }
    void Shutdown() override {}
    const zanth::KeyStates& keys() const override { return down; }
    zanth::KeyStates down{};
};

struct Gamepad final : zanth::GamepadDevice {
    bool Create(std::function<bool()>, int) override { return true; }
    int Poll() override { return 0; }
    void Shutdown() override {}
};

struct Silence final : zanth::SoundOutput {
    void Start(const std::string&) override {}
    void Retrigger(const std::string&) override {}
    void Stop() override {}
};

// A session's life on the file at `path`: three ticks (every key down in the middle one, so that the sound
// effects read from the file start and stop), then the save at close. Answers the model it saved.
zanth::ControllerModel Live(const zanth::AppContext& app, const zanth::Settings& settings,
                            const std::string& path) {
    zanth::SessionParts parts;
    auto keyboard = std::make_unique<Keyboard>();
    Keyboard* keys = keyboard.get();
    parts.keyboard = std::move(keyboard);
    parts.gamepad = std::make_unique<Gamepad>();
    parts.sound = std::make_unique<Silence>();
    parts.listDevices = [] { return std::vector<std::string>{}; };
    zanth::ControlSession session(app, settings, std::move(parts));
    session.Open([] { return true; });
    for (int tick = 0; tick < 3; ++tick) {
        keys->down.fill(tick == 1 ? zanth::kKeyDownByte : 0);
        session.Tick({});
    }
    if (!session.Close(path).ok) std::abort();
    return session.model();
}

// What the settings file keeps of a model.
auto Kept(const zanth::ControllerModel& m) {
    std::vector<std::tuple<int, int>> bindings;
    for (const zanth::ControllerItem& item : m.items) bindings.emplace_back(item.keyCode, item.padButton);
    std::vector<int> axes;
    for (const zanth::AxisBinding& axis : m.axisBindings) axes.push_back(axis.axisIndex);
    std::vector<std::tuple<std::string, std::string, int, int, int, int>> sounds;
    for (int i = 0; i < m.soundEffectCount; ++i) {
        const zanth::SoundEffect& e = m.soundEffects[static_cast<std::size_t>(i)];
        sounds.emplace_back(e.name, e.file, e.enabled, e.length, e.repeat, e.repeatMode);
    }
    return std::make_tuple(bindings, axes, sounds, m.sliderResolution);
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > zanth::IniFile::kMaxFileBytes) return 0;
    static const zanth::AppContext app(zanth::StartupInfo{"English", false, Dir(), {}, {}});
    const std::string path = Dir() + "/Zanth-Emulator.ini";
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), size);

    const zanth::Settings first = zanth::LoadSettings(path);
    if (!first.readError.empty()) std::abort();
    const zanth::ControllerModel saved = Live(app, first, path);

    // A file that is text in neither UTF-8 nor CP932 loads, runs and saves, but its names are bytes no
    // encoding can vouch for: a cut may leave the rest readable as CP932. Only text files must come back
    // whole.
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!zanth::IsValidUtf8(bytes) && !zanth::IsValidCp932(bytes)) return 0;
    const zanth::Settings again = zanth::LoadSettings(path);
    zanth::ControllerModel rebuilt;
    zanth::BuildModel(rebuilt, app, again);
    if (Kept(rebuilt) != Kept(saved) || again.port != first.port) std::abort();

    const std::string file = Contents(path);
    Live(app, again, path);
    if (Contents(path) != file) std::abort();
    return 0;
}
