#include "model/settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>

#include "base/paths.h"
#include "base/text.h"
#include "model/settings_sections.h"

namespace zanth {
namespace {

constexpr std::string_view kSystem = "SYSTEM";
constexpr std::string_view kController = "CONTROLLER";
constexpr std::string_view kJoystick = "JOYSTICK";
constexpr std::string_view kSound = "SOUND";
constexpr std::string_view kPorts = "PORTS";
constexpr std::string_view kRemote = "REMOTE";

// Beside PORT, which counts COMn in the order of enumeration, the device itself by a name that does not
// change when another adapter is plugged in first. Programs that know only PORT ignore it.
constexpr std::string_view kPortDeviceKey = "PORTDEVICE";

// The chosen pad and its warnings: written once there is something to say, so a first-run file is as before.
constexpr std::string_view kPadGuidKey = "PADGUID";
constexpr std::string_view kPadNameKey = "PADNAME";
constexpr std::string_view kPadPlaceKey = "PADPLACE";
constexpr std::string_view kRumbleKey = "RUMBLE";

constexpr std::string_view kAxisKeys[4] = {"LX", "LY", "RX", "RY"};

// Buffer sizes of the text settings: one byte more than the text they hold.
constexpr std::size_t kSoundFileBuffer = kSoundFileLimit + 1;
constexpr std::size_t kSoundNameBuffer = kSoundNameLimit + 1;

std::string SoundKey(std::string_view iniKey, std::string_view suffix) {
    std::string key(iniKey);
    key += '_';
    key += suffix;
    return key;
}

std::string AsciiUpper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

StoredSound ReadSound(const IniFile& file, std::string_view iniKey) {
    StoredSound s;
    s.file = file.GetString(kSound, SoundKey(iniKey, "FILE"), "", kSoundFileBuffer);
    s.name = file.GetString(kSound, SoundKey(iniKey, "NAME"), "", kSoundNameBuffer);
    s.enabled = file.GetInt(kSound, SoundKey(iniKey, "ON"), s.enabled);
    // Playing times are kept in whole tenths of a second; division truncates towards zero.
    s.length = file.GetInt(kSound, SoundKey(iniKey, "LEN"), s.length) / 100 * 100;
    s.repeat = file.GetInt(kSound, SoundKey(iniKey, "REPEAT"), s.repeat);
    s.repeatMode = file.GetInt(kSound, SoundKey(iniKey, "REPEATMODE"), s.repeatMode);
    return s;
}

std::optional<int> ReadOptionalInt(const IniFile& file, std::string_view section, std::string_view key) {
    if (!file.HasKey(section, key)) return std::nullopt;
    return file.GetInt(section, key, 0);
}

// What a save of a settings file compares with: the file as this run read (or last wrote) it, and that
// file with this run's values of then written into it.
struct Baseline {
    std::string read;
    std::string written;
    bool merged = false;  // a save kept outside changes: the model no longer says what the whole file holds
};

std::mutex& BaselineMutex() {
    static std::mutex m;
    return m;
}
std::map<std::string, Baseline>& Baselines() {
    static std::map<std::string, Baseline> baselines;
    return baselines;
}

std::optional<Baseline> BaselineOf(const std::string& path) {
    const std::lock_guard<std::mutex> guard(BaselineMutex());
    const auto it = Baselines().find(path);
    if (it == Baselines().end()) return std::nullopt;
    return it->second;
}

void KeepBaseline(const std::string& path, Baseline baseline) {
    const std::lock_guard<std::mutex> guard(BaselineMutex());
    Baselines()[path] = std::move(baseline);
}

bool DanglingLink(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) &&
           ::stat(path.c_str(), &st) != 0 && errno == ENOENT;
}

std::string DanglingLinkReason(const std::string& path) {
    std::string target(4096, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    target.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return std::string(std::strerror(ENOENT)) + " (a link to " + target + ")";
}

// Every section the program writes; PORTS is only ever read.
constexpr std::string_view kWrittenSections[] = {kSystem, kController,  kJoystick,    kSound,
                                                 kRemote, kStopSection, kMatchSection};

// Writes into `now` (the file as changed from outside) the keys whose value this run changed since
// `base`.
void WriteOwnChanges(IniFile& now, const Baseline& base, const ControllerModel& model, int comPortIndex,
                     const std::string& portDevice, const RemoteSettings* remote, const StopSettings* stop,
                     const MatchPlan* match) {
    IniFile mine = IniFile::Parse(base.read);
    WriteSettings(mine, model, comPortIndex, portDevice, remote, stop, match);
    const IniFile read = IniFile::Parse(base.read);
    const IniFile before = IniFile::Parse(base.written);
    for (const std::string_view section : kWrittenSections) {
        for (const std::string& key : mine.KeyNames(section)) {
            const std::string value = mine.GetString(section, key, "", IniFile::kWholeValue);
            const bool changed = !before.HasKey(section, key) ||
                                 before.GetString(section, key, "", IniFile::kWholeValue) != value;
            // A key neither file had is filled in as always (a first run); one removed outside stays removed.
            const bool missing = !now.HasKey(section, key) && !read.HasKey(section, key);
            if (changed || missing) now.WriteString(section, key, value);
        }
    }
}

// A path is bytes to the system: one that exists as the file has it is that path, even where its bytes
// also read as CP932 text (a file of the Windows program, or one with any byte that is not UTF-8).
std::string PortDevice(const IniFile& file, const std::string& key) {
    std::string device = file.GetString(kPorts, key, "", IniFile::kWholeValue);
    if (file.encoding() != TextEncoding::kCp932) return device;
    std::string bytes = file.GetBytes(kPorts, key);
    struct stat st {};
    if (bytes != device && ::lstat(bytes.c_str(), &st) == 0) return bytes;
    return device;
}

}  // namespace

void RememberSettingsAsRead(const std::string& path, const Settings& settings,
                            const ControllerModel& startModel) {
    IniFile start = IniFile::Parse(settings.text);
    // STOP and MATCH as read, so that a close save that was handed them unchanged keeps an outside edit.
    WriteSettings(start, startModel, settings.port, settings.portDevice, nullptr, &settings.stop,
                  &settings.match);
    KeepBaseline(path, Baseline{settings.text, start.Serialize()});
}

Settings ReadSettings(const IniFile& file) {
    Settings s;
    s.port = file.GetInt(kSystem, "PORT", s.port);
    // Device paths are read whole: the link refuses one too long to use, and it is written back as it was.
    s.portDevice = file.GetString(kSystem, kPortDeviceKey, "", IniFile::kWholeValue);
    s.background = file.GetInt(kSystem, "BACK", 0) == 1 ? 1 : 0;
    for (const std::string& key : file.KeyNames(kPorts)) {
        if (key.empty()) continue;
        // Of keys with the same name the first wins, as for every other read.
        std::string device = PortDevice(file, key);
        if (!device.empty()) s.ports.emplace(AsciiUpper(key), std::move(device));
    }
    for (int i = 0; i < kItemCount; ++i) {
        const std::string_view iniKey = ItemIniKey(i);
        s.bindings[std::string(iniKey)] = StoredBinding{ReadOptionalInt(file, kController, iniKey),
                                                        ReadOptionalInt(file, kJoystick, iniKey)};
    }
    for (std::size_t i = 0; i < s.axes.size(); ++i)
        s.axes[i] = file.GetInt(kJoystick, kAxisKeys[i], s.axes[i]);
    for (const int item : kSoundItems) {
        const std::string_view iniKey = ItemIniKey(item);
        s.sounds[std::string(iniKey)] = ReadSound(file, iniKey);
    }
    s.remote.on = file.GetInt(kRemote, "ON", 0) == 1;
    s.remote.port = file.GetInt(kRemote, "PORT", RemoteSettings::kDefaultPort);
    if (s.remote.port < 1 || s.remote.port > 65535) s.remote.port = RemoteSettings::kDefaultPort;
    s.remote.lan = file.GetInt(kRemote, "LAN", 0) == 1;
    s.remote.ask = file.GetInt(kRemote, "ASK", 0) == 1;
    s.remote.name = file.GetString(kRemote, "NAME", "", IniFile::kWholeValue);
    s.stop = ReadStopSettings(file);
    s.match = ReadMatchPlan(file);
    s.sliderResolution = file.GetInt(kSystem, "SLIDER", 0);
    if (s.sliderResolution < 0 || s.sliderResolution > 4) s.sliderResolution = 0;
    s.pad.guid = file.GetString(kSystem, kPadGuidKey, "", IniFile::kWholeValue);
    s.pad.name = file.GetString(kSystem, kPadNameKey, "", IniFile::kWholeValue);
    s.pad.place = file.GetString(kSystem, kPadPlaceKey, "", IniFile::kWholeValue);
    s.rumble = file.GetInt(kSystem, kRumbleKey, 1) != 0;
    s.encoding = file.encoding();
    return s;
}

Settings LoadSettings(const std::string& path) {
    std::string error;
    const IniFile file = IniFile::Load(path, &error);
    // A link to nothing is not a missing file: the user made it, and the defaults saved through it at close
    // would land where nobody looks (or fail). Like an unreadable file, it is named and left alone.
    if (error.empty() && DanglingLink(path)) error = DanglingLinkReason(path);
    if (!error.empty()) {
        Settings s;
        s.readError = error;
        s.match = MatchPlan::Default();
        return s;
    }
    Settings s = ReadSettings(file);
    s.text = file.Serialize();
    return s;
}

void WriteSettings(IniFile& file, const ControllerModel& model, int comPortIndex,
                   const std::string& portDevice, const RemoteSettings* remote, const StopSettings* stop,
                   const MatchPlan* match) {
    for (std::size_t i = 0; i < model.axisBindings.size(); ++i) {
        file.WriteInt(kJoystick, kAxisKeys[i], model.axisBindings[i].axisIndex);
    }
    // Buttons, then pad items, then stick items: item order. LED and background are read but never written.
    for (int i = 0; i < kInputItemCount; ++i) {
        const ControllerItem& item = model.item(i);
        file.WriteInt(kController, item.iniKey, item.keyCode);
        file.WriteInt(kJoystick, item.iniKey, item.padButton);
    }
    const int count = std::clamp(model.soundEffectCount, 0, static_cast<int>(model.soundEffects.size()));
    for (int i = 0; i < count; ++i) {
        const SoundEffect& effect = model.soundEffects[static_cast<std::size_t>(i)];
        if (effect.item < 0 || effect.item >= kItemCount) continue;
        const std::string& iniKey = model.item(effect.item).iniKey;
        // The limits count in the file's encoding: a CP932 name of 62 bytes is longer in UTF-8.
        file.WriteString(kSound, SoundKey(iniKey, "FILE"), file.Fit(effect.file, kSoundFileLimit));
        file.WriteString(kSound, SoundKey(iniKey, "NAME"), file.Fit(effect.name, kSoundNameLimit));
        file.WriteInt(kSound, SoundKey(iniKey, "ON"), effect.enabled);
        file.WriteInt(kSound, SoundKey(iniKey, "LEN"), effect.length);
        file.WriteInt(kSound, SoundKey(iniKey, "REPEAT"), effect.repeat);
        file.WriteInt(kSound, SoundKey(iniKey, "REPEATMODE"), effect.repeatMode);
    }
    file.WriteInt(kSystem, "SLIDER", model.sliderResolution);
    file.WriteInt(kSystem, "PORT", comPortIndex);
    if (!portDevice.empty()) file.WriteString(kSystem, kPortDeviceKey, portDevice);
    // "Any pad" again after a choice is written as an empty GUID, not left to the old one.
    if (!model.pad.any() || file.HasKey(kSystem, kPadGuidKey)) {
        file.WriteString(kSystem, kPadGuidKey, model.pad.guid);
        file.WriteString(kSystem, kPadNameKey, model.pad.name);
        file.WriteString(kSystem, kPadPlaceKey, model.pad.place);
    }
    if (!model.rumble || file.HasKey(kSystem, kRumbleKey))
        file.WriteInt(kSystem, kRumbleKey, model.rumble ? 1 : 0);
    if (remote) {
        file.WriteInt(kRemote, "ON", remote->on ? 1 : 0);
        file.WriteInt(kRemote, "PORT", remote->port);
        file.WriteInt(kRemote, "LAN", remote->lan ? 1 : 0);
        file.WriteInt(kRemote, "ASK", remote->ask ? 1 : 0);
        // Only once set: the settings file's own name needs no line.
        if (!remote->name.empty() || file.HasKey(kRemote, "NAME"))
            file.WriteString(kRemote, "NAME", remote->name);
    }
    if (stop) WriteStopSettings(file, *stop);
    if (match) WriteMatchPlan(file, *match);
}

SaveResult SaveSettings(const std::string& path, const ControllerModel& model, int comPortIndex,
                        const std::string& portDevice, const RemoteSettings* remote, const StopSettings* stop,
                        const MatchPlan* match) {
    return SaveSettingsAs(path, path, model, comPortIndex, portDevice, remote, stop, match);
}

SaveResult SaveSettingsAs(const std::string& from, const std::string& path, const ControllerModel& model,
                          int comPortIndex, const std::string& portDevice, const RemoteSettings* remote,
                          const StopSettings* stop, const MatchPlan* match) {
    if (path.empty()) return SaveResult{false, "No settings file path (the start-up directory is unknown)"};
    // Read afresh: another instance, or the user, may have changed the file while the window ran. A file
    // that exists but cannot be read is left alone: saving over it would replace everything it holds with
    // only our keys.
    std::string error;
    IniFile file = from.empty() ? IniFile{} : IniFile::Load(from, &error);
    if (!error.empty())
        return SaveResult{false, error + "; the existing file was not read, so it was left unchanged"};
    // A file nobody else touched is written as it always was; one changed from outside keeps those changes.
    std::optional<Baseline> base = from == path ? BaselineOf(path) : std::nullopt;
    const bool merge = base && (base->merged || file.Serialize() != base->read);
    if (merge)
        WriteOwnChanges(file, *base, model, comPortIndex, portDevice, remote, stop, match);
    else
        WriteSettings(file, model, comPortIndex, portDevice, remote, stop, match);
    // The first save into ~/.config/zanth-emulator makes that folder (private, as the XDG rules ask).
    if (std::string made = MakeFolders(FolderOf(path)); !made.empty()) return SaveResult{false, made};
    SaveResult saved = file.Save(path);
    if (saved.ok && base) {
        // After a merge the file as read at start stays the reference: what was removed outside stays so.
        if (!merge) base->read = base->written = file.Serialize();
        base->merged = merge;
        KeepBaseline(path, std::move(*base));
    }
    return saved;
}

}  // namespace zanth
