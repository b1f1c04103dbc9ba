#pragma once
#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "model/controller_model.h"
#include "model/ini_file.h"
#include "model/match_plan.h"

namespace zanth {

// CONTROLLER and JOYSTICK values of one item; absent = the item keeps its factory binding.
struct StoredBinding {
    std::optional<int> keyCode;
    std::optional<int> padButton;
};

// SOUND values of one item, with the defaults of a missing key. Texts are UTF-8, cut at their limits in
// bytes of the file's encoding.
struct StoredSound {
    std::string file;  // at most kSoundFileLimit bytes
    std::string name;  // at most kSoundNameLimit bytes
    int enabled = 1;
    int length = 0;  // ms, already cut to a multiple of 100 towards zero
    int repeat = 0;
    int repeatMode = 0;
};

// Section REMOTE: the remote-control server. Written only once the user turned it on or off.
struct RemoteSettings {
    static constexpr int kDefaultPort = 8765;
    bool on = false;          // ON: 1 starts the server with the program
    int port = kDefaultPort;  // PORT: 1..65535, anything else the default
    bool lan = false;         // LAN: 1 listens on every address, else only on this machine's
    bool ask = false;         // ASK: 1 asks the user before a new client drives
    std::string name;         // NAME: the robot's name the clients see; empty: the settings file's name
    bool operator==(const RemoteSettings&) const = default;
};

// Section STOP: the emergency stop and enable. Each key is written only once it differs from its default
// (or the file has it already), so a first-run file is as before.
struct StopSettings {
    static constexpr int kSpace = 57;
    // KEY: the stop key by name: "SPACE", "PAUSE", "SCROLL LOCK" or a name of the bindable keys' table ("F2",
    // "Q", "NUM 0"), any case. Held here as its scan code (Linux key code); a name not known reads as Space.
    int key = kSpace;
    bool startDisabled = false;  // STARTDISABLED: 1 sends the neutral frame after Connect until Enable
    bool padChord = false;       // PADCHORD: 1 lets Back + Start held together on the gamepad stop the robot
    bool operator==(const StopSettings&) const = default;
};
// The stop key's name as KEY holds it, and the scan code of a name (-1 for a name that is no stop key).
std::string StopKeyName(int scanCode);
int StopKeyByName(std::string_view name);

// Everything the program reads from the settings file, read once at start. A default-constructed Settings
// is what a missing file gives.
struct Settings {
    int port = 0;            // SYSTEM/PORT as stored (no range check here)
    std::string portDevice;  // SYSTEM/PORTDEVICE: the stable name of the device last connected; empty: none.
                             // Device paths here and in `ports` are whole, never cut to a length
    int background = 0;      // SYSTEM/BACK: 1, anything else 0
    std::map<std::string, std::string> ports;  // section PORTS, keys upper-cased ("COM3" -> "/dev/ttyUSB0");
                                               // keys with an empty value are left out. A path that exists
                                               // as the file's bytes name it is kept as those bytes
    std::map<std::string, StoredBinding> bindings;  // by the item's iniKey, for every item of the table
    std::array<int, 4> axes{0, 1, 2, 5};            // JOYSTICK LX, LY, RX, RY, in AxisBindingIndex order
    std::map<std::string, StoredSound> sounds;      // by the item's iniKey, for the items with a sound effect
    int sliderResolution = 0;                       // SYSTEM/SLIDER; outside 0..4 reads as 0
    PadChoice pad;       // SYSTEM/PADGUID, PADNAME, PADPLACE: the chosen pad; none: the first one found
    bool rumble = true;  // SYSTEM/RUMBLE: 0 turns the pad's warnings off
    RemoteSettings remote;
    StopSettings stop;
    // Section MATCH: NAME, PHASES (the count), PHASE1..PHASEn = "name,seconds,sound,drives" (the name may
    // hold commas: the last three fields are counted from the end). A phase that cannot be read is left out;
    // a section missing, or with no phase left, gives MatchPlan::Default(); names and values as SanePlan.
    // Left empty by a Settings made in code (a throwing default here trips GCC 12's uninitialised-use
    // warning in every Settings{}); SanePlan, which the clock and the dialog apply, makes that the default.
    MatchPlan match;
    TextEncoding encoding = TextEncoding::kUtf8;  // of the file: CP932 when written by the Windows program
    std::string readError;  // non-empty when the file exists but could not be read (too large,
                            // unreadable, a directory): the program must then leave it untouched
    std::string text;       // the file's bytes as LoadSettings read them (empty for a missing file)
};

// Reads the file at `path`. A missing file (or an empty path) is no error: all defaults. A file that
// cannot be read also gives all defaults, with the reason in `readError`.
Settings LoadSettings(const std::string& path);
// The rules of LoadSettings on a document already in memory.
Settings ReadSettings(const IniFile& file);

// Reads the file at `path` as it is now (keeping what others wrote), writes the model, SYSTEM/PORT and,
// when not empty, SYSTEM/PORTDEVICE into it and saves it atomically. A file that cannot be read now is left
// unchanged and the save fails with the reason. Not to be called when the Settings the model was built from
// has a readError: the model then holds defaults, not the user's values. An empty path fails with a reason.
// `remote`, when given, is written as section REMOTE after everything else; then `stop` (STOP) and `match`
// (MATCH), when given, each only where it differs from its default or the file already has the section.
SaveResult SaveSettings(const std::string& path, const ControllerModel& model, int comPortIndex,
                        const std::string& portDevice = {}, const RemoteSettings* remote = nullptr,
                        const StopSettings* stop = nullptr, const MatchPlan* match = nullptr);
// Remembers, for later saves of `path` by SaveSettings, the file as it was read (`settings.text`) and what
// this run would have written into it then (`startModel`, built from `settings`, with its PORT and
// PORTDEVICE). A save that finds the file as it was read writes it as it always has; one that finds it
// changed from outside (an editor, zanth-ini) writes only the keys this run changed, so that every outside
// change of another key is kept. Of a key changed on both sides, this run's value is written.
void RememberSettingsAsRead(const std::string& path, const Settings& settings,
                            const ControllerModel& startModel);
// SaveSettings into another file: what `from` holds now (nothing when empty) with the model written into it,
// saved atomically at `path`. "Save Settings As": the copy starts a second window on its own file.
SaveResult SaveSettingsAs(const std::string& from, const std::string& path, const ControllerModel& model,
                          int comPortIndex, const std::string& portDevice = {},
                          const RemoteSettings* remote = nullptr, const StopSettings* stop = nullptr,
                          const MatchPlan* match = nullptr);
// What SaveSettings writes, in its fixed order: the axis bindings, every input item's bindings, the sound
// effects, SYSTEM/SLIDER, SYSTEM/PORT, then SYSTEM/PORTDEVICE when a device is remembered, the chosen pad
// once one was chosen and RUMBLE once it was turned off. Without these, that order is the section and key
// order of a first-run file.
void WriteSettings(IniFile& file, const ControllerModel& model, int comPortIndex,
                   const std::string& portDevice = {}, const RemoteSettings* remote = nullptr,
                   const StopSettings* stop = nullptr, const MatchPlan* match = nullptr);

}  // namespace zanth
