#include "model/settings.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "base/paths.h"
#include "base/text.h"

namespace zanth {
namespace {

constexpr std::string_view kSystem = "SYSTEM";
constexpr std::string_view kController = "CONTROLLER";
constexpr std::string_view kJoystick = "JOYSTICK";
constexpr std::string_view kSound = "SOUND";

// Buffer sizes of the two text settings: one byte more than the text they hold.
constexpr std::size_t kSoundFileBuffer = kSoundFileLimit + 1;
constexpr std::size_t kSoundNameBuffer = kSoundNameLimit + 1;

constexpr std::string_view kAxisKeys[4] = {"LX", "LY", "RX", "RY"};

std::string SoundKey(const std::string& iniKey, std::string_view suffix) {
    std::string key = iniKey;
    key += '_';
    key += suffix;
    return key;
}

// Reads the file at `path` as it is now, applies `write` and saves it. A file that exists but cannot be
// read is left alone: saving over it would replace everything it holds with only our keys.
template <typename Write>
SaveResult UpdateFile(const std::string& path, Write write) {
    if (path.empty()) return SaveResult{false, "No settings file path (the start-up directory is unknown)"};
    std::string error;
    IniFile settings = IniFile::Load(path, &error);
    if (!error.empty())
        return SaveResult{false, error + "; the existing file was not read, so it was left unchanged"};
    write(settings);
    // The first save into ~/.config/zanth-emulator makes that folder (private, as the XDG rules ask).
    if (std::string made = MakeFolders(FolderOf(path)); !made.empty()) return SaveResult{false, made};
    return settings.Save(path);
}

}  // namespace

void LoadSoundEffect(SoundEffect& effect, int itemIndex, const ControllerItem& item,
                     const IniFile& settings) {
    effect.item = itemIndex;
    effect.file = settings.GetString(kSound, SoundKey(item.iniKey, "FILE"), "", kSoundFileBuffer);
    effect.name = settings.GetString(kSound, SoundKey(item.iniKey, "NAME"), "", kSoundNameBuffer);
    effect.enabled = settings.GetInt(kSound, SoundKey(item.iniKey, "ON"), 1);
    // Playing times are kept in whole tenths of a second; division truncates towards zero.
    effect.length = settings.GetInt(kSound, SoundKey(item.iniKey, "LEN"), 0) / 100 * 100;
    effect.repeat = settings.GetInt(kSound, SoundKey(item.iniKey, "REPEAT"), 0);
    effect.repeatMode = settings.GetInt(kSound, SoundKey(item.iniKey, "REPEATMODE"), 0);
}

void WriteSettings(const ControllerModel& model, IniFile& settings) {
    for (std::size_t i = 0; i < model.axisBindings.size(); ++i) {
        settings.WriteInt(kJoystick, kAxisKeys[i], model.axisBindings[i].axisIndex);
    }
    // Buttons, then pad items, then stick items: item order. LED and background are read but never written.
    for (int i = 0; i < kInputItemCount; ++i) {
        const ControllerItem& item = model.item(i);
        settings.WriteInt(kController, item.iniKey, item.keyCode);
        settings.WriteInt(kJoystick, item.iniKey, item.padButton);
    }
    const int count = std::clamp(model.soundEffectCount, 0, static_cast<int>(model.soundEffects.size()));
    for (int i = 0; i < count; ++i) {
        const SoundEffect& effect = model.soundEffects[static_cast<std::size_t>(i)];
        if (effect.item < 0 || effect.item >= kItemCount) continue;
        const std::string& iniKey = model.item(effect.item).iniKey;
        settings.WriteString(kSound, SoundKey(iniKey, "FILE"), CutUtf8(effect.file, kSoundFileLimit));
        settings.WriteString(kSound, SoundKey(iniKey, "NAME"), CutUtf8(effect.name, kSoundNameLimit));
        settings.WriteInt(kSound, SoundKey(iniKey, "ON"), effect.enabled);
        settings.WriteInt(kSound, SoundKey(iniKey, "LEN"), effect.length);
        settings.WriteInt(kSound, SoundKey(iniKey, "REPEAT"), effect.repeat);
        settings.WriteInt(kSound, SoundKey(iniKey, "REPEATMODE"), effect.repeatMode);
    }
    settings.WriteInt(kSystem, "SLIDER", model.sliderResolution);
}

SaveResult SaveSettings(const ControllerModel& model, const std::string& path) {
    return UpdateFile(path, [&](IniFile& settings) { WriteSettings(model, settings); });
}

int ReadPortSetting(const std::string& path) {
    return IniFile::Load(path).GetInt(kSystem, "PORT", 0);
}

SaveResult SavePortSetting(const std::string& path, int comPortIndex) {
    return UpdateFile(path, [&](IniFile& settings) { settings.WriteInt(kSystem, "PORT", comPortIndex); });
}

int ReadBackgroundSetting(const IniFile& settings) {
    return settings.GetInt(kSystem, "BACK", 0) == 1 ? 1 : 0;
}

}  // namespace zanth
