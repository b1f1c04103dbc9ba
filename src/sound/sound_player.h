#pragma once
#include <span>
#include <string>
#include <unordered_map>

#include "sound/sound_output.h"

struct Mix_Chunk;

namespace zanth {

// SoundOutput over SDL2_mixer, playing on a single mixer channel. Where no audio device can be opened the
// player is simply unavailable: every call does nothing and the rest of the program runs as usual.
//
// Decoding a WAV is the only slow step, so decoded files are kept by path. Preload the configured files at
// set-up so that a press never decodes on the tick. A file that failed to load is remembered as failed until
// ClearCache(), so a bad path is not re-read on every tick.
//
// SDL_mixer's device is process-wide: open one player at a time.
class SoundPlayer final : public SoundOutput {
  public:
    SoundPlayer() = default;
    ~SoundPlayer() override;
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    // Opens the audio device; false (and available() false) when there is none. Calling it again while
    // open does nothing and answers true.
    bool Open();
    // Stops playback and releases the decoded files and the device. Safe to call at any time, also twice.
    void Close();
    bool available() const { return open_; }

    // Decodes the given files now (empty paths are skipped, known ones are not read again).
    void Preload(std::span<const std::string> paths);
    // Forgets every decoded file and every failed load, e.g. after the user changed the sound files. Frees a
    // sound that is playing, which ends it.
    void ClearCache();

    void Start(const std::string& file) override;
    void Retrigger(const std::string& file) override;
    void Stop() override;

    // True while the channel is playing.
    bool IsPlaying() const;

  private:
    // The decoded file, or null when it is empty or cannot be played.
    Mix_Chunk* Chunk(const std::string& path);

    bool open_ = false;
    std::unordered_map<std::string, Mix_Chunk*> chunks_;  // null: the load failed
};

}  // namespace zanth
