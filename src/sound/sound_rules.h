#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "model/controller_model.h"
#include "sound/sound_output.h"

namespace zanth {

// The sound step of the control tick: cuts off a timed sound whose time is up, repeats the current sound
// while its button is held, and starts the sound of every newly pressed, enabled button in table order (so
// the last one started is the one heard). Reads the items' pressed flags as they stand and the tick clock.
void UpdateSounds(ControllerModel& model, SoundOutput& output);

// The "Sound Stop" button: ends the sound and resets the playback state. Press latches stay set, so a held
// button stays silent until it is pressed again.
void StopSound(ControllerModel& model, SoundOutput& output);

// Flips the ON/OFF switch of one sound-list row (any nonzero value counts as ON and becomes OFF). A row
// outside the entries in use, such as -1 for a click below the last row, changes nothing. Returns whether
// the entry changed, i.e. whether the row's text must be rewritten.
bool ToggleSoundEnabled(ControllerModel& model, int row);

// File name without its folder. Both '/' and '\' separate, so settings written on Windows show right. A path
// that ends with a separator is shown whole.
std::string ShortFileName(std::string_view path);

// What the sound list shows for an entry: its name when it has both a name and a file, else the file's name,
// else nothing.
std::string SoundLabel(const SoundEffect& effect);

// The non-empty files of the entries in use, in table order, for SoundPlayer::Preload.
std::vector<std::string> SoundFiles(const ControllerModel& model);

}  // namespace zanth
