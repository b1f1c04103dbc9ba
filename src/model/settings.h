#pragma once
#include <string>

#include "model/controller_model.h"
#include "model/ini_file.h"

namespace zanth {

// Loads one sound effect (section SOUND, keys "<iniKey>_FILE" etc.) and ties it to its item.
void LoadSoundEffect(SoundEffect& effect, int itemIndex, const ControllerItem& item, const IniFile& settings);

// Writes every binding, axis binding, sound setting and SYSTEM/SLIDER into `settings`, in the fixed order
// that gives a first-run file its section and key order.
void WriteSettings(const ControllerModel& model, IniFile& settings);

// Reads the file at `path` afresh (keeping what others wrote), writes the model into it and saves it
// atomically. An empty path fails with a reason.
SaveResult SaveSettings(const ControllerModel& model, const std::string& path);

// SYSTEM/PORT, read at start and written after the main window has closed.
int ReadPortSetting(const std::string& path);
SaveResult SavePortSetting(const std::string& path, int comPortIndex);

// SYSTEM/BACK: 1 = read the input devices in the background; any other value reads as 0.
int ReadBackgroundSetting(const IniFile& settings);

}  // namespace zanth
