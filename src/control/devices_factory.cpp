#include "control/devices_factory.h"

#include "base/app_context.h"
#include "base/paths.h"
#include "input/gamepad_names.h"
#include "input/gamepad_reader.h"
#include "input/keyboard_reader.h"
#include "model/settings.h"
#include "sound/sound_player.h"

namespace zanth {
namespace {

class ReaderSource final : public GamepadSource {
  public:
    explicit ReaderSource(int language) : names_(language), language_(language) {}
    const GamepadNames& names() const override { return names_; }
    std::unique_ptr<GamepadDevice> NewGamepad() const override {
        return std::make_unique<GamepadReader>(language_);
    }
    std::vector<PadInfo> ConnectedPads() const override { return GamepadReader::ConnectedPads(); }

  private:
    GamepadNames names_;
    int language_;
};

}  // namespace

SessionParts MakeDevices(const AppContext& app) {
    auto sound = std::make_unique<SoundPlayer>();
    // Paths of a settings file written on Windows are found where they can be; the file keeps them as they
    // are.
    sound->SetPathResolver(
        [settingsFolder = FolderOf(app.configPath), data = app.dataFolder](const std::string& path) {
            return ResolveStoredPath(path, settingsFolder, data);
        });
    SessionParts parts;
    parts.keyboard = std::make_unique<KeyboardReader>();
    parts.gamepad = std::make_unique<GamepadReader>(app.language);
    parts.sound = std::move(sound);
    parts.gamepads = MakeGamepadSource(app.language);
    return parts;
}

std::unique_ptr<ControlSession> MakeSession(const AppContext& app, const Settings& settings) {
    return std::make_unique<ControlSession>(app, settings, MakeDevices(app));
}

std::unique_ptr<GamepadSource> MakeGamepadSource(int language) {
    return std::make_unique<ReaderSource>(language);
}

}  // namespace zanth
