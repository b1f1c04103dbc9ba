#include "sound/sound_player.h"

#include <SDL.h>
#include <SDL_mixer.h>

namespace zanth {
namespace {
constexpr int kChannel = 0;
// Small enough that a start is heard within a tick, large enough not to starve on a busy machine.
constexpr int kChunkSamples = 1024;
}  // namespace

SoundPlayer::~SoundPlayer() {
    Close();
}

bool SoundPlayer::Open() {
    if (open_) return true;
    // Without this SDL installs its own SIGINT/SIGTERM handlers and the program no longer ends on SIGTERM.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    if (Mix_OpenAudio(MIX_DEFAULT_FREQUENCY, MIX_DEFAULT_FORMAT, MIX_DEFAULT_CHANNELS, kChunkSamples) != 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    Mix_AllocateChannels(1);
    open_ = true;
    return true;
}

void SoundPlayer::Close() {
    if (!open_) return;
    Mix_HaltChannel(kChannel);
    ClearCache();
    Mix_CloseAudio();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    open_ = false;
}

void SoundPlayer::Preload(std::span<const std::string> paths) {
    for (const std::string& path : paths) Chunk(path);
}

void SoundPlayer::ClearCache() {
    for (auto& [path, chunk] : chunks_) {
        if (chunk) Mix_FreeChunk(chunk);
    }
    chunks_.clear();
}

Mix_Chunk* SoundPlayer::Chunk(const std::string& path) {
    if (!open_ || path.empty()) return nullptr;
    auto found = chunks_.find(path);
    if (found != chunks_.end()) return found->second;
    Mix_Chunk* chunk = Mix_LoadWAV(path.c_str());
    chunks_.emplace(path, chunk);
    return chunk;
}

void SoundPlayer::Start(const std::string& file) {
    if (!open_) return;
    Mix_HaltChannel(kChannel);
    if (Mix_Chunk* chunk = Chunk(file)) Mix_PlayChannel(kChannel, chunk, 0);
}

void SoundPlayer::Retrigger(const std::string& file) {
    if (!open_ || Mix_Playing(kChannel) != 0) return;
    if (Mix_Chunk* chunk = Chunk(file)) Mix_PlayChannel(kChannel, chunk, 0);
}

void SoundPlayer::Stop() {
    if (!open_) return;
    Mix_HaltChannel(kChannel);
}

bool SoundPlayer::IsPlaying() const {
    return open_ && Mix_Playing(kChannel) != 0;
}

}  // namespace zanth
