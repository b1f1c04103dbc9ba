#pragma once
#include <memory>

#include "control/session.h"
#include "input/devices.h"

namespace zanth {

class AppContext;
class LinkWorker;
struct Settings;

// The one place that builds the devices of this machine: the keyboard, the gamepad and the sound player the
// session drives, and the gamepads the operation settings dialog reads. Nothing above this layer names them.
SessionParts MakeDevices(const AppContext& app);

// The session the program runs: the model from `settings`, the devices of MakeDevices.
std::unique_ptr<ControlSession> MakeSession(const AppContext& app, const Settings& settings);

// The link thread and the background opener behind the link supervisor's seams.
std::unique_ptr<LinkHandle> MakeLinkHandle(LinkWorker& link);
std::unique_ptr<PortOpener> MakePortOpener();

// Button and axis names in `language`, and the system's gamepads.
std::unique_ptr<GamepadSource> MakeGamepadSource(Language language);

}  // namespace zanth
