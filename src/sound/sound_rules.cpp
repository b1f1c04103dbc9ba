#include "sound/sound_rules.h"

#include <algorithm>
#include <cstdint>

#include "base/clock.h"

namespace zanth {
namespace {

// Entries in use; a hand-made model may claim more than the table holds.
int EntryCount(const ControllerModel& model) {
    return std::clamp(model.soundEffectCount, 0, static_cast<int>(model.soundEffects.size()));
}

SoundEffect& Entry(ControllerModel& model, int index) {
    return model.soundEffects[static_cast<std::size_t>(index)];
}

bool ItemPressed(const ControllerModel& model, int item) {
    return item >= 0 && item < kItemCount && model.item(item).IsPressed();
}

}  // namespace

void UpdateSounds(ControllerModel& model, SoundOutput& output) {
    const std::uint32_t now = TickCount();
    const int count = EntryCount(model);

    if (model.currentSound >= 0 && model.currentSound < static_cast<int>(model.soundEffects.size())) {
        SoundEffect& current = Entry(model, model.currentSound);
        // Signed wrapping difference: the cut-off keeps working when the 32-bit tick counter wraps.
        const auto elapsed = static_cast<std::int32_t>(now - model.soundStartTick);
        if (model.currentLength > 0 && elapsed >= model.currentLength) {
            // Unlatch a repeating sound so that a held button starts it afresh further down in this tick.
            if (current.repeat != 0) current.playing = 0;
            if (current.repeatMode == 0) output.Stop();
            model.currentLength = 0;
            model.currentSound = 0;
        } else if (model.currentLength == 0 && current.playing == 1 && current.repeat != 0) {
            // Sounds only once the previous play has ended; the switch is not looked at, so turning a
            // repeating sound OFF takes effect at its next press.
            output.Retrigger(current.file);
            current.playing = 1;
            model.soundStartTick = TickCount();
        }
    }

    for (int i = 0; i < count; ++i) {
        SoundEffect& effect = Entry(model, i);
        if (!ItemPressed(model, effect.item)) {
            effect.playing = 0;
        } else if (effect.playing == 0 && effect.enabled == 1) {
            output.Start(effect.file);
            effect.playing = 1;
            model.currentLength = effect.length;
            model.soundStartTick = TickCount();
            model.currentSound = i;
        }
    }
}

void StopSound(ControllerModel& model, SoundOutput& output) {
    output.Stop();
    model.currentLength = 0;
    model.currentSound = 0;
}

bool ToggleSoundEnabled(ControllerModel& model, int row) {
    if (row < 0 || row >= EntryCount(model)) return false;
    SoundEffect& effect = Entry(model, row);
    effect.enabled = effect.enabled != 0 ? 0 : 1;
    return true;
}

std::string ShortFileName(std::string_view path) {
    const std::size_t separator = path.find_last_of("/\\");
    if (separator == std::string_view::npos || separator + 1 == path.size()) return std::string(path);
    return std::string(path.substr(separator + 1));
}

std::string SoundLabel(const SoundEffect& effect) {
    if (effect.file.empty()) return {};
    if (!effect.name.empty()) return effect.name;
    return ShortFileName(effect.file);
}

std::vector<std::string> SoundFiles(const ControllerModel& model) {
    std::vector<std::string> files;
    const int count = EntryCount(model);
    for (int i = 0; i < count; ++i) {
        const std::string& file = model.soundEffects[static_cast<std::size_t>(i)].file;
        if (!file.empty()) files.push_back(file);
    }
    return files;
}

}  // namespace zanth
