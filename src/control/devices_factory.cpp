#include "control/devices_factory.h"

#include "base/app_context.h"
#include "base/paths.h"
#include "input/gamepad_names.h"
#include "input/gamepad_reader.h"
#include "input/keyboard_backend.h"
#include "input/keyboard_reader.h"
#include "input/stop_key.h"
#include "link/background_open.h"
#include "link/link_worker.h"
#include "model/settings.h"
#include "sound/sound_player.h"

namespace zanth {
namespace {

class ReaderSource final : public GamepadSource {
  public:
    explicit ReaderSource(Language language) : names_(language), language_(language) {}
    const GamepadNames& names() const override { return names_; }
    std::unique_ptr<GamepadDevice> NewGamepad() const override {
        return std::make_unique<GamepadReader>(language_);
    }
    std::vector<PadInfo> ConnectedPads() const override { return GamepadReader::ConnectedPads(); }

  private:
    GamepadNames names_;
    Language language_;
};

class WorkerLink final : public LinkHandle {
  public:
    explicit WorkerLink(LinkWorker& link) : link_(link) {}
    bool Start(std::unique_ptr<Port> port, std::string* why) override {
        return link_.Start(std::move(port), why);
    }
    void Stop(std::optional<ControllerFrame> finalFrame) override { link_.Stop(finalFrame); }
    bool IsRunning() const override { return link_.IsRunning(); }
    LinkProof::Counts Counts() const override { return {link_.MessagesLeft(), link_.GarbageTurns()}; }

  private:
    LinkWorker& link_;
};

class ThreadOpener final : public PortOpener {
  public:
    void Listen(QObject* context, Outcomes outcomes) override {
        QObject::connect(&opener_, &BackgroundOpener::opened, context, std::move(outcomes.opened));
        QObject::connect(&opener_, &BackgroundOpener::gaveUp, context, std::move(outcomes.gaveUp));
        QObject::connect(&opener_, &BackgroundOpener::tryFailed, context, std::move(outcomes.tryFailed));
    }
    bool Begin(const std::string& device, OpenFn open, int periodMs, int tries, int delayMs,
               std::string* why) override {
        return opener_.Begin(device, std::move(open), periodMs, tries, why, delayMs);
    }
    void TryNow() override { opener_.TryNow(); }
    void Cancel() override { opener_.Cancel(); }
    std::unique_ptr<Port> Take() override { return opener_.Take(); }

  private:
    BackgroundOpener opener_;
};

}  // namespace

std::unique_ptr<LinkHandle> MakeLinkHandle(LinkWorker& link) {
    return std::make_unique<WorkerLink>(link);
}

std::unique_ptr<PortOpener> MakePortOpener() {
    return std::make_unique<ThreadOpener>();
}

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
    parts.opener = MakePortOpener();
    // The desktop-wide stop key needs an X server: on any other display the window's own key events stop.
    parts.stopKey = [](std::function<void()> onPress) -> std::unique_ptr<StopKeyGrab> {
        void* display = nullptr;
        if (ProbeQtDisplay(&display) != QtDisplayKind::kX11) return nullptr;
        return MakeX11StopKeyGrabBeside(display, std::move(onPress));
    };
    return parts;
}

std::unique_ptr<ControlSession> MakeSession(const AppContext& app, const Settings& settings) {
    return std::make_unique<ControlSession>(app, settings, MakeDevices(app));
}

std::unique_ptr<GamepadSource> MakeGamepadSource(Language language) {
    return std::make_unique<ReaderSource>(language);
}

}  // namespace zanth
