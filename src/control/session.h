#pragma once
#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/app_context.h"
#include "control/drive_gate.h"
#include "control/link_supervisor.h"
#include "control/match_clock.h"
#include "control/meter_rules.h"
#include "control/monitor_model.h"
#include "control/press_latch.h"
#include "input/input_state.h"
#include "link/frame.h"
#include "link/link_failure.h"
#include "link/port_catalog.h"
#include "model/controller_model.h"
#include "model/settings.h"
#include "remote/remote_server.h"

class QTimer;

class QSocketNotifier;

namespace zanth {

class GamepadDevice;
class InputMixer;
class GamepadSource;
class KeyboardDevice;
class LinkTraffic;
enum class PlayEnd;
class LinkWorker;
class Port;
class RumbleRules;
class SoundOutput;
class StopKeyGrab;

// What the window's controls say, handed to every tick as plain values.
struct PanelInputs {
    int sliderX = 128;  // slider positions, in slider steps (0 .. 256 / divisor)
    int sliderY = 128;
    bool selfNeutral = false;
    bool batteryDisplay = true;
};

// What the window shows. The session keeps it current: after every tick, and between ticks it says so with
// stateChanged().
struct PanelState : LinkStatus {
    // The last poll of the device succeeded (the status boxes say "Ready"); not the same as the model's
    // gamepadReady, which says a gamepad device is open.
    bool keyboardReadable = false;
    bool gamepadReadable = false;
    std::string gamepadDescription;  // the open gamepad's name and kind; empty when none is open
    std::string padAbsent;           // the chosen pad's name while it is not connected; else empty
    std::string axisLine = "80:80:80:80";
    int meterValue = 0;  // 0 = empty, else the battery level pinned to the meter's range
    Rgb meterColour{0, 0, 255};
    bool meterStale = false;  // connected and asking, but no valid reply for a while
    int remoteClients = 0;    // remote-control clients that said hello
    // The emergency stop and enable: the stop in force, whether enabled, whether the robot is driven now,
    // and the sources that must let go before it is.
    std::optional<StopRecord> stop;
    bool enabled = true;
    bool driving = false;
    Holding letGo{};
    // The stop key reaches the program only while its window has the focus: why (empty when it is grabbed
    // for the whole desktop, or not wanted now).
    std::string stopKeyProblem;
    // The practice match: its state, the phase it is in and the time left ("1:59"; empty when none runs),
    // and whether the match holds the robot (a countdown, a pause).
    MatchState matchState = MatchState::kIdle;
    std::string matchPhase;
    std::string matchTime;
    std::int64_t matchLeftMs = 0;
    bool matchHolds = false;
};

// Slider positions the tick moved (the gamepad's right stick, a pending self-neutral); the window follows.
struct SliderMoves {
    std::optional<int> x, y;
};

// The parts the session drives. Tests hand in their own; the program the real devices.
struct SessionParts {
    std::unique_ptr<KeyboardDevice> keyboard;
    std::unique_ptr<GamepadDevice> gamepad;
    std::unique_ptr<SoundOutput> sound;
    // What the operation settings dialog reads meanwhile (names, a gamepad of its own); the session only
    // keeps it. Tests that never show the dialog leave it empty.
    std::unique_ptr<GamepadSource> gamepads;
    // Opens the device a port stands for; empty = the serial port.
    std::function<std::unique_ptr<Port>(const std::string& device, std::string* reason)> openPort;
    // Opens ports off the GUI thread (a network bridge, a lost port); empty = a BackgroundOpener.
    std::unique_ptr<PortOpener> opener;
    // The system's serial devices in the order COM1, COM2, ... counts them; empty = the scan of
    // `deviceRoot`. Given, the list is read at start and when a port stands for nothing, and not watched.
    std::function<std::vector<std::string>()> listDevices;
    // The folder holding dev/ and sys/ for the port list and its watcher; empty = $ZANTH_DEVICE_ROOT, else
    // "/". Tests and end-to-end runs plug devices into a tree of their own.
    std::string deviceRoot;
    // Takes the stop key from the whole desktop while connected; `onPress` runs on a thread of its own.
    // Empty, or a null answer: the key works while the window has the focus (StopKeyPressed).
    std::function<std::unique_ptr<StopKeyGrab>(std::function<void()> onPress)> stopKey;
};

// The controller at work, apart from any window: the model, the input devices, the sound effects and the link
// to the robot. It runs the 50 ms control tick and ties the parts to it: the input mixer (every source folded
// into the frame), the link supervisor (connect, reopen, the port list), the remote-control server; and it
// keeps the battery meter's rules. The window builds the controls, paints, routes the mouse and keys, and
// shows state().
class ControlSession : public QObject {
    Q_OBJECT
  public:
    static constexpr int kPortCount = LinkSupervisor::kPortCount;
    // The meter's rules: MeterRules.
    static constexpr std::uint32_t kNoReplyMs = MeterRules::kNoReplyMs;
    static constexpr int kMeterMin = MeterRules::kMin;
    static constexpr int kMeterMax = MeterRules::kMax;
    // The tries to reopen a lost port and their back-off: LinkSupervisor.
    static constexpr int kReopenPeriodMs = LinkSupervisor::kReopenPeriodMs;
    static constexpr int kQuickFailuresBeforeBackOff = LinkSupervisor::kQuickFailuresBeforeBackOff;
    static int ReopenDelayMs(int quickFailures) { return LinkSupervisor::ReopenDelayMs(quickFailures); }

    ControlSession(const AppContext& app, const Settings& settings, SessionParts parts,
                   QObject* parent = nullptr);
    ~ControlSession() override;

    ControllerModel& model() { return model_; }
    const ControllerModel& model() const { return model_; }
    const PanelState& state() const { return state_; }
    bool connected() const { return state_.link == LinkState::kConnected; }
    // The link runs on an open port: connected, or a reopened port not yet proved.
    bool linkRunning() const { return supervisor_->linkRunning(); }
    int comPortIndex() const { return supervisor_->ports().comPortIndex(); }
    int backgroundInput() const { return background_; }
    // The session's own sound output, whose device and files it keeps (tests look at it).
    SoundOutput& sound() { return *sound_; }
    // What the sound settings dialog's Play and Stop drive: the session's output, for playing and stopping
    // only; opening, closing and the loaded files stay the session's.
    SoundOutput& soundPreview() { return *preview_; }
    // The operation settings dialog reads the gamepads itself (their names, the pads connected, one of its
    // own for the live view and Detect): while `use` runs the session lets go of its own gamepad, and it
    // takes it back afterwards at the level BACK asks for. Only when SessionParts::gamepads was given.
    void LendGamepads(const std::function<void(const GamepadSource&)>& use);
    LinkWorker& link() { return *link_; }
    // The monitor, the recorder and the player of recorded sessions.
    LinkTraffic& traffic() { return *traffic_; }
    // Ends a played session at once (`why`: what the window says of it); the next message carries the
    // controller as it is now.
    void StopPlayback(PlayEnd why);

    // Set-up: opens the gamepad, the keyboard and the sound output (its files start loading), centres the
    // sticks and lights the LED. `windowIsActive` answers whether the main window (or the monitor) is active
    // (the devices read only then at the foreground level).
    void Open(std::function<bool()> windowIsActive);

    // One control tick.
    SliderMoves Tick(const PanelInputs& inputs);

    // The Connect/Disconnect button with port `selection` (0 = COM1) chosen.
    ConnectResult ToggleConnection(int selection);
    // What each of COM1..COM48 stands for (empty: nothing), as the port list shows it now.
    std::vector<std::string> PortDevices() const { return supervisor_->ports().Devices(); }
    // The same with what the system tells about each device; kept current as devices come and go.
    const std::vector<SerialDevice>& PortTable() const { return supervisor_->ports().table(); }
    // The labels of the port list: "COM3 — FT232R USB UART (ttyUSB0)", "COM7".
    std::vector<std::string> PortLabels() const { return supervisor_->ports().Labels(); }
    // The entry the port list should select: the one that opens the device chosen last (at start the one
    // remembered from the last connect), else `current`, else the saved port index; -1 for none.
    int PortSelection(int current) const { return supervisor_->ports().Selection(current); }
    // The user chose entry `index` of the port list: the selection follows its device from now on.
    void NotePortChoice(int index) { supervisor_->ports().NoteChoice(index); }
    // The stable name of the device last connected, saved beside PORT.
    const std::string& rememberedDevice() const { return supervisor_->ports().remembered(); }

    // Centres the right stick's X or Y; answers the slider position of the centre.
    int CentreX();
    int CentreY();
    // A wheel turn over the horizontal (1) or vertical (2) slider, or elsewhere (0).
    void Wheel(int slider);
    void SetResolution(int index);
    void StopSound();
    bool ToggleSound(int row);
    // What the sound list shows for entry `row`: its name, else its file's name, else nothing.
    std::string SoundLabel(int row) const;
    // The sound settings changed: the files are loaded afresh now, not on the first press.
    void SoundsChanged();

    // The operation settings dialog reads the gamepad itself: the session lets go of it meanwhile.
    void SuspendGamepad();
    void ResumeGamepad();
    // The pad that drives this instance from the next ResumeGamepad on (none chosen: the first one found).
    // Saved with the settings.
    void ChoosePad(const PadChoice& pad);
    // Whether the pad's motors tell a red battery meter and a lost port. Saved with the settings.
    void SetRumble(bool on);

    // Tear-down: the devices are shut, the robot gets its last neutral frame and the port closes; then
    // every setting and the port are written to `settingsPath` in one save, and the sound output closes.
    SaveResult Close(const std::string& settingsPath);
    // Every setting and the port as Close would write them, into the file at `path`, with whatever else
    // `settingsPath` holds (a copy to start another window from). Nothing is read from a settings file that
    // could not be read at start.
    SaveResult SaveCopy(const std::string& settingsPath, const std::string& path) const;

    // ---- The emergency stop and enable (session_stop.cpp)
    // Stops the robot: from now on only the neutral frame goes out, a played session ends, and every source
    // must let go once the stop is released. Anyone may stop; `who` names a remote client.
    void EmergencyStop(StopBy by, const std::string& who = {});
    // The main window left the stop (after asking, unless the match ended it). False when nothing was
    // stopped.
    bool ReleaseStop();
    void SetEnabled(bool on);
    // The stop key pressed while the window has the focus (the desktop-wide grab takes it otherwise).
    void StopKeyPressed();
    const StopSettings& stopSettings() const { return stopSettings_; }
    // The stop key, Start disabled and the gamepad's chord, as Operation Setting changed them.
    void SetStopSettings(const StopSettings& settings);

    // ---- The practice match (session_match.cpp)
    // Starts `plan` (kept for the next run): its phases sound, the robot is held where a phase does not
    // drive, the drive is recorded to a file named after the match, and at its end the robot is stopped and
    // the monitor sums it up. False while one runs.
    bool StartMatch(const MatchPlan& plan);
    // Pauses a running match, resumes a paused one.
    bool PauseMatch();
    bool AbortMatch();
    const MatchClock& match() const { return match_; }
    // Time left as the clock says now (before a start: the whole plan's).
    std::int64_t MatchTimeLeftMs() const;
    // The plan as it will be saved; the next Start takes it.
    const MatchPlan& matchPlan() const { return matchPlan_; }
    void SetMatchPlan(const MatchPlan& plan);

    // ---- Remote control (remote_control.cpp)
    // Turns the server on (the user's choice, kept in [REMOTE] at close). False with the reason.
    bool StartRemote(const RemoteOptions& options, QString* reason);
    void StopRemote();
    RemoteStatus remoteStatus() const;
    // Every remote client's input let go at once; they may press again afterwards.
    void StopAllRemoteInput();
    // [REMOTE] ON as it will be saved.
    bool remoteWanted() const { return remoteSettings_.on; }
    const RemoteSettings& remoteSettings() const { return remoteSettings_; }
    // A new key kept beside the settings file; every client is ended and phones scan the new code.
    void NewRemoteKey();
    void RemoveRemoteClient(quint64 id) { remote_->RemoveClient(id); }
    void AnswerRemoteClient(quint64 id, bool allow) { remote_->AnswerClient(id, allow); }
    void SetRemoteAsk(bool ask);
    // The robot's name the clients see: [REMOTE] NAME once set, else the settings file's name.
    QString robotName() const;
    void SetRobotName(const QString& name);
    // Why the key could not be kept beside the settings file (it then lasts for this run); empty when it was.
    const QString& remoteKeyProblem() const { return remoteKeyProblem_; }
    // --remote: on for this run on `port` (the saved one when none), started by Open; the saved state stays.
    void RemoteForThisRun(std::optional<quint16> port);
    // Arrivals, departures and refusals, for the Link Monitor.
    RemoteServer& remoteServer() { return *remote_; }

    // The frame of the controller as it is this moment: the devices read afresh and folded into a copy of
    // the model, so that nothing the tick decides (sound edges, the LED, the gamepad search) changes.
    ControllerFrame SampleFrame();
    // The mouse pressed these items on the picture (their LED flip is done): they reach the robot even when
    // let go at once (session_taps.cpp).
    void NoteMousePress(const ItemSet& items);

  signals:
    // state() changed between ticks: a battery reply came, the port was lost or is back.
    void stateChanged();
    // PortTable() changed: a device came or went.
    void portsChanged();
    // A connect that went on off the GUI thread (a network bridge) failed; the state is kDisconnected.
    void connectFailed(const zanth::ConnectResult& result);
    // Remote clients came or went; the server started or stopped.
    void remoteChanged();

  private:
    void PollDevices();
    void Rumble();
    void SetRightStick(const PanelInputs& inputs, int sliderX, int sliderY, SliderMoves& moves);
    void ShowMeter();
    void OnBatteryReply(int value);
    void SetUpSupervisor(SessionParts& parts, const Settings& settings);
    void Disconnect();
    void PublishRemote();
    void StartRemoteAtOpen();
    QByteArray RemoteHello() const;
    void WriteRemoteFileNow();
    void StopRemoteForClose();
    // ---- The stop (session_stop.cpp)
    void SetUpStop(SessionParts& parts);
    // After the sources' items and sticks: whether the robot is driven this tick.
    void GateTick(int ledBefore);
    Holding WhatSourcesHold() const;
    void GrabStopKey();
    void PublishDrive();
    ControllerFrame Gated(const ControllerFrame& frame) const;
    // ---- The match (session_match.cpp)
    void MatchTick();
    void EndMatch();
    void RecordMatch();
    void PlayPhaseSound(int phase);
    // ---- Taps (session_taps.cpp)
    void SetUpTaps();
    void WatchKeyEvents();
    void ResampleIfLate();
    void WatchPadBeforeMessage();

    const AppContext& app_;
    ControllerModel model_;
    std::unique_ptr<KeyboardDevice> keyboard_;
    std::unique_ptr<GamepadDevice> gamepad_;
    std::unique_ptr<SoundOutput> sound_;
    std::unique_ptr<SoundOutput> preview_;  // over sound_
    std::unique_ptr<GamepadSource> gamepads_;
    std::unique_ptr<LinkWorker> link_;
    std::unique_ptr<LinkTraffic> traffic_;        // after link_: it listens to it
    std::unique_ptr<LinkSupervisor> supervisor_;  // after traffic_: it writes to its monitor
    std::function<bool()> windowIsActive_;
    PanelState state_;
    PanelInputs lastInputs_;
    std::chrono::steady_clock::time_point sampledAt_;  // when the link last asked for a fresh frame
    int background_ = 0;
    int padRetryTicks_ = 0;
    std::unique_ptr<RumbleRules> rumble_;
    bool portJustLost_ = false;  // since the last tick, for the pad's double pulse
    MeterRules meter_;
    bool closed_ = false;
    std::string readError_;  // the settings file could not be read at start: it is never written
    std::unique_ptr<RemoteServer> remote_;
    RemoteSettings remoteSettings_;  // [REMOTE] as read, and as the user changed it since
    bool remoteTouched_ = false;     // the user turned it on or off: [REMOTE] is written at close
    QString remoteKeyProblem_;
    std::optional<quint16> remoteThisRun_;
    std::array<int, 2> localRight_{128, 128};  // the right stick as the sliders and the gamepad make it
    std::optional<ControllerFrame> lastSent_;
    int remoteListTicks_ = 0;
    std::unique_ptr<InputMixer> mixer_;  // every source folded into the model and the frame
    std::unique_ptr<QSocketNotifier> keyNotifier_;
    QTimer* padLead_ = nullptr;  // asks the pad for presses in the moments before a message leaves
    StopSettings stopSettings_;
    std::unique_ptr<DriveGate> gate_;
    std::unique_ptr<StopKeyGrab> stopKey_;
    bool stopKeyGrabbed_ = false;
    bool chordHeld_ = false;  // Back + Start were down at the last tick
    MatchClock match_;
    MatchPlan matchPlan_;
    std::optional<MatchTally> tally_;  // while a match runs
    bool matchRecording_ = false;      // the recording under way is the match's
};

}  // namespace zanth
