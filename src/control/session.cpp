#include "control/session.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "base/clock.h"
#include "control/input_mixer.h"
#include "control/link_traffic.h"
#include "control/log.h"
#include "input/devices.h"
#include "input/rumble_rules.h"
#include "input/stop_key.h"
#include "link/link_worker.h"
#include "remote/remote_file.h"
#include "sound/sound_output.h"
#include "sound/sound_rules.h"

namespace zanth {
namespace {

// A wheel turn on a slider is followed by its self-neutral once the wheel has been still this long.
constexpr std::uint32_t kWheelSettleMs = 300;
// Ticks counted before the next search for a gamepad while none is open: every 22nd tick searches.
constexpr int kPadSearchCount = 20;

// The session's output as the sound settings dialog may use it: play and stop.
class SoundPreview final : public SoundOutput {
  public:
    explicit SoundPreview(SoundOutput& output) : output_(output) {}
    void Start(const std::string& file) override { output_.Start(file); }
    void Retrigger(const std::string& file) override { output_.Retrigger(file); }
    void Stop() override { output_.Stop(); }
    bool available() const override { return output_.available(); }

  private:
    SoundOutput& output_;
};

}  // namespace

ControlSession::ControlSession(const AppContext& app, const Settings& settings, SessionParts parts,
                               QObject* parent)
    : QObject(parent),
      app_(app),
      keyboard_(std::move(parts.keyboard)),
      gamepad_(std::move(parts.gamepad)),
      sound_(std::move(parts.sound)),
      preview_(std::make_unique<SoundPreview>(*sound_)),
      gamepads_(std::move(parts.gamepads)),
      link_(std::make_unique<LinkWorker>()),
      background_(settings.background == 1 ? 1 : 0),
      rumble_(std::make_unique<RumbleRules>()),
      readError_(settings.readError),
      remote_(std::make_unique<RemoteServer>()),
      remoteSettings_(settings.remote),
      stopSettings_(settings.stop) {
    BuildModel(model_, app_, settings);
    SetMatchPlan(settings.match);
    mixer_ = std::make_unique<InputMixer>(model_, *keyboard_, *gamepad_, *remote_);
    SetUpTaps();
    gamepad_->Choose(model_.pad);
    traffic_ = std::make_unique<LinkTraffic>(app_, model_, *link_);
    connect(link_.get(), &LinkWorker::batteryReply, this, &ControlSession::OnBatteryReply);
    SetUpSupervisor(parts, settings);
    SetUpStop(parts);
    connect(link_.get(), &LinkWorker::messageSent, this, [this](const SentMessage& m) {
        if (m.playedIndex < 0) std::copy(m.bytes.begin() + 1, m.bytes.end(), lastSent_.emplace().begin());
    });
    connect(remote_.get(), &RemoteServer::changed, this, [this] {
        state_.remoteClients = remote_->clientCount();
        traffic_->SetRemoteClients(remote_->status().clients);
        emit remoteChanged();
    });
    connect(remote_.get(), &RemoteServer::clientEvent, this,
            [this](const RemoteEvent& e) { traffic_->NoteRemote(e); });
    // Just before each message leaves, the newest state of the devices goes into it.
    connect(link_.get(), &LinkWorker::frameWanted, this, [this] {
        sampledAt_ = std::chrono::steady_clock::now();
        if (linkRunning() && !traffic_->playing()) {
            link_->SetFrame(Gated(SampleFrame()), lastInputs_.batteryDisplay);
            WatchPadBeforeMessage();
        }
    });
    // A remote press that comes after that sample still rides the message about to leave: sampled again,
    // but only in that short window, so that a busy client costs no keyboard reads the rest of the time.
    connect(remote_.get(), &RemoteServer::inputChanged, this, &ControlSession::ResampleIfLate);
}

ControlSession::~ControlSession() {
    // Whoever listened may be gone already.
    remote_->blockSignals(true);
    stopKey_.reset();          // its thread calls into this session
    remote_->SetStopHook({});  // the server's thread would call into the link
    supervisor_->CancelTries();
    if (!closed_) {
        // The neutral frame first, as at Close: nothing below may hold the robot with a press on it.
        remote_->ReleaseAll();
        gamepad_->Shutdown();
        keyboard_->Shutdown();
        if (linkRunning()) link_->Stop(NeutralFrame(model_.ledItem().latched != 0));
    }
    RemoveRemoteFile(RemoteFilePath(QString::fromStdString(app_.configPath)));
    remote_->Stop();
    supervisor_->ports().StopWatching();
    if (!closed_) sound_->Close();
}

void ControlSession::Open(std::function<bool()> windowIsActive) {
    windowIsActive_ = std::move(windowIsActive);
    model_.gamepadReady = gamepad_->Create(windowIsActive_, background_) ? 1 : 0;
    state_.gamepadReadable = model_.gamepadReady != 0;
    state_.keyboardReadable = keyboard_->Create(windowIsActive_, background_);
    if (state_.gamepadReadable) qCInfo(lcInput) << "gamepad opened";
    if (!state_.keyboardReadable) qCWarning(lcInput) << "no keyboard could be opened";
    WatchKeyEvents();
    model_.leftStickX = model_.leftStickY = model_.rightStickX = model_.rightStickY = 128;
    model_.ledItem().latched = 1;
    model_.wheelTime = 0;
    if (sound_->Open()) sound_->Preload(SoundFiles(model_));
    StartRemoteAtOpen();
}

SliderMoves ControlSession::Tick(const PanelInputs& inputs) {
    lastInputs_ = inputs;
    SliderMoves moves;
    int sliderX = inputs.sliderX;
    int sliderY = inputs.sliderY;
    // A pending self-neutral after a wheel turn.
    if (model_.wheelTime != 0) {
        if (model_.wheelSlider == 0) {
            model_.wheelTime = 0;
        } else if (inputs.selfNeutral) {
            if (TickCount() - model_.wheelTime > kWheelSettleMs) {
                if (model_.wheelSlider == 1) moves.x = sliderX = CentreX();
                if (model_.wheelSlider == 2) moves.y = sliderY = CentreY();
                model_.wheelTime = 0;
            }
        } else {
            model_.wheelTime = 0;
            model_.wheelSlider = 0;
        }
    }
    // Look for a gamepad every 22nd tick while none is open.
    if (padRetryTicks_ <= kPadSearchCount) {
        ++padRetryTicks_;
    } else {
        padRetryTicks_ = 0;
        if (model_.gamepadReady == 0) {
            model_.gamepadReady = gamepad_->Create(windowIsActive_, background_) ? 1 : 0;
            if (model_.gamepadReady) qCInfo(lcInput) << "gamepad found";
        }
    }
    const int ledBefore = model_.ledItem().latched;
    mixer_->TakePresses(model_);
    PollDevices();
    Rumble();
    UpdateSounds(model_, *sound_);
    SetRightStick(inputs, sliderX, sliderY, moves);
    localRight_ = {model_.rightStickX, model_.rightStickY};
    mixer_->Sticks(model_);
    if (state_.matchState == MatchState::kRunning || state_.matchState == MatchState::kPaused) MatchTick();
    GateTick(ledBefore);

    // Written by hand: a formatted print on every tick was a noticeable share of the idle program's time.
    static constexpr char kHex[] = "0123456789abcdef";
    char* axis = state_.axisLine.data();
    for (const int value : {model_.leftStickX, model_.leftStickY, model_.rightStickX, model_.rightStickY}) {
        *axis++ = kHex[(value >> 4) & 0xF];
        *axis++ = kHex[value & 0xF];
        ++axis;  // the colon
    }

    // The newest frame goes to the link thread; the meter follows the replies it brings back.
    if (linkRunning()) {
        // The gamepad's right stick counts once it is moved off centre, not for a first reading at rest.
        const bool padMoved = model_.gamepadReady && ((gamepad_->padRXChanged && gamepad_->padRX != 128) ||
                                                      (gamepad_->padRYChanged && gamepad_->padRY != 128));
        if (traffic_->LiveFrameGoesOut(padMoved ? PlayEnd::kGamepad : LivePress(model_)))
            link_->SetFrame(Gated(mixer_->FrameWithTaps(model_)), inputs.batteryDisplay);
        else
            mixer_->ClearTaps();  // a played session is on the wire: what was pressed meanwhile went nowhere
        if (!inputs.batteryDisplay) meter_.Clear();
        supervisor_->ConfirmLink(false);
        meter_.Update(TickCount(), connected() && inputs.batteryDisplay);
        ShowMeter();
    } else {
        mixer_->ClearTaps();
    }
    PublishRemote();
    return moves;
}

void ControlSession::PollDevices() {
    // A failed poll releases what that device held, so nothing stays pressed on the robot.
    const bool padWasReady = state_.gamepadReadable;
    const InputMixer::Readable readable = mixer_->TickItems(model_);
    state_.gamepadReadable = readable.gamepad;
    state_.keyboardReadable = readable.keyboard;
    state_.gamepadDescription = gamepad_->Description();
    state_.padAbsent = !model_.pad.any() && state_.gamepadDescription.empty() ? model_.pad.name : "";
    traffic_->SetPadInUse(state_.gamepadDescription);
    if (padWasReady && !state_.gamepadReadable) qCInfo(lcInput) << "gamepad not readable";
}

void ControlSession::Rumble() {
    const bool red = connected() && meter_.red();
    const bool lost = std::exchange(portJustLost_, false);
    if (!model_.rumble) return;
    if (const auto ms = rumble_->Tick(TickCount(), red, lost)) gamepad_->Rumble(*ms);
}

void ControlSession::SetRightStick(const PanelInputs&, int sliderX, int sliderY, SliderMoves& moves) {
    // The sliders follow the gamepad's right stick while its reading changes; otherwise they give the stick.
    const int d = model_.divisor();
    auto follow = [&](int changed, int value, int slider, std::optional<int>& move, int& stick) {
        if (changed && model_.gamepadReady) {
            stick = value;
            move = d == 1 ? value : (value + 1) / d;
        } else {
            stick = std::min(slider * d, 255);
        }
    };
    follow(gamepad_->padRXChanged, gamepad_->padRX, sliderX, moves.x, model_.rightStickX);
    follow(gamepad_->padRYChanged, gamepad_->padRY, sliderY, moves.y, model_.rightStickY);
}

ControllerFrame ControlSession::SampleFrame() {
    ControllerModel now = model_;
    now.invalidate = nullptr;
    now.rightStickX = localRight_[0];
    now.rightStickY = localRight_[1];
    mixer_->Sample(now);
    // The LED flips on the tick's press edges only.
    now.ledItem().latched = model_.ledItem().latched;
    mixer_->TakePresses(model_);  // after the devices' reads: a tap up to this moment rides this frame
    return mixer_->FrameWithTaps(now);
}

void ControlSession::StopPlayback(PlayEnd why) {
    if (!traffic_->playing()) return;
    traffic_->StopPlaying(why);
    if (linkRunning()) link_->SetFrame(Gated(SampleFrame()), lastInputs_.batteryDisplay);
}

int ControlSession::CentreX() {
    model_.rightStickX = 128;
    return 128 / model_.divisor();
}

int ControlSession::CentreY() {
    model_.rightStickY = 128;
    return 128 / model_.divisor();
}

void ControlSession::Wheel(int slider) {
    model_.wheelSlider = slider;
    if (slider != 0) model_.wheelTime = TickCount();
}

void ControlSession::SetResolution(int index) {
    model_.sliderResolution = std::clamp(index, 0, 4);
}

void ControlSession::StopSound() {
    zanth::StopSound(model_, *sound_);
}

bool ControlSession::ToggleSound(int row) {
    return ToggleSoundEnabled(model_, row);
}

std::string ControlSession::SoundLabel(int row) const {
    if (row < 0 || row >= model_.soundEffectCount) return {};
    return zanth::SoundLabel(model_.soundEffects[static_cast<std::size_t>(row)]);
}

void ControlSession::SoundsChanged() {
    // Files may have changed on disk too: what was decoded before is dropped, not only what was renamed.
    sound_->ClearCache();
    sound_->Preload(SoundFiles(model_));
}

void ControlSession::LendGamepads(const std::function<void(const GamepadSource&)>& use) {
    SuspendGamepad();
    use(*gamepads_);
    ResumeGamepad();
}

void ControlSession::SuspendGamepad() {
    gamepad_->Shutdown();
}

void ControlSession::ChoosePad(const PadChoice& pad) {
    model_.pad = pad.any() ? PadChoice{} : pad;
    gamepad_->Choose(model_.pad);
}

void ControlSession::SetRumble(bool on) {
    model_.rumble = on;
}

void ControlSession::ResumeGamepad() {
    // At the level BACK asks for: back at the foreground level, background input would end unseen.
    model_.gamepadReady = gamepad_->Create(windowIsActive_, background_) ? 1 : 0;
}

}  // namespace zanth
