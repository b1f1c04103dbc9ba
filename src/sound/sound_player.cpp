#include "sound/sound_player.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <QString>

#include "sound/log.h"

namespace zanth {
namespace {
constexpr int kChannel = 0;
// Small enough that a start is heard within a tick (46 ms at 44.1 kHz), large enough not to starve on a busy
// machine; the mixing thread wakes once per chunk for as long as the device is open, so no smaller.
constexpr int kChunkSamples = 2048;
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
    int rate = 0, channels = 0;
    Uint16 format = 0;
    Mix_QuerySpec(&rate, &format, &channels);
    maxDecodedBytes_ = static_cast<std::size_t>(rate) * static_cast<std::size_t>(channels) *
                       (SDL_AUDIO_BITSIZE(format) / 8) * kMaxSoundSeconds;
    {
        std::lock_guard lock(mutex_);
        stopping_ = false;
        cancel_ = false;
        open_ = true;
    }
    worker_ = std::thread(&SoundPlayer::Work, this);
    return true;
}

void SoundPlayer::Close() {
    if (!open_) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        cancel_ = true;
    }
    wake_.notify_all();
    worker_.join();
    {
        std::lock_guard lock(mutex_);
        pending_.reset();
        queue_.clear();
        Mix_HaltChannel(kChannel);
        playing_.reset();
        files_.clear();
        ++generation_;
        open_ = false;
    }
    idle_.notify_all();
    Mix_CloseAudio();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void SoundPlayer::Preload(std::span<const std::string> paths) {
    std::lock_guard lock(mutex_);
    if (!open_) return;
    for (const std::string& path : paths) {
        if (!path.empty()) Lookup(path);
    }
}

void SoundPlayer::ClearCache() {
    std::lock_guard lock(mutex_);
    ++generation_;
    queue_.clear();
    files_.clear();  // frees every chunk but the one playing_ still holds
    if (Mix_Playing(kChannel) == 0) playing_.reset();
    if (pending_ && open_) Lookup(pending_->path);
    if (queue_.empty() && !decoding_) idle_.notify_all();
}

SoundPlayer::Entry& SoundPlayer::Lookup(const std::string& path) {
    auto [it, added] = files_.try_emplace(path);
    if (added) {
        queue_.push_back(path);
        wake_.notify_one();
    }
    return it->second;
}

void SoundPlayer::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        const std::string path = std::move(queue_.front());
        queue_.pop_front();
        const std::uint64_t generation = generation_;
        decoding_ = true;
        lock.unlock();
        Loaded loaded = Decode(path);
        lock.lock();
        decoding_ = false;
        // A decode that began before ClearCache() belongs to the old cache: its result is dropped.
        if (generation == generation_) Store(path, std::move(loaded));
        if (queue_.empty()) idle_.notify_all();
    }
}

SoundPlayer::Loaded SoundPlayer::Decode(const std::string& path) const {
    SoundFileData data = ReadSoundFile(resolve_ ? resolve_(path) : path, &cancel_);
    if (!data.ok()) return {nullptr, std::move(data.error)};
    // SDL reads the copy in memory, never the path: it would block on a FIFO and read a device for ever.
    SDL_RWops* rw = SDL_RWFromConstMem(data.bytes.data(), static_cast<int>(data.bytes.size()));
    if (!rw) return {nullptr, SDL_GetError()};
    Mix_Chunk* raw = Mix_LoadWAV_RW(rw, 1);
    if (!raw) return {nullptr, std::string("cannot be decoded: ") + SDL_GetError()};
    ChunkPtr chunk(raw, Mix_FreeChunk);
    if (chunk->alen > maxDecodedBytes_)
        return {nullptr, "plays longer than " + std::to_string(kMaxSoundSeconds) + " seconds"};
    return {std::move(chunk), {}};
}

void SoundPlayer::Store(const std::string& path, Loaded loaded) {
    const auto it = files_.find(path);
    if (it == files_.end()) return;
    Entry& entry = it->second;
    entry.chunk = std::move(loaded.chunk);
    entry.state = entry.chunk ? State::kReady : State::kFailed;
    if (!entry.chunk) {
        std::string& last = logged_[path];
        if (last != loaded.error) {
            last = loaded.error;
            qCWarning(lcSound).noquote() << "Sound file" << QString::fromStdString(path)
                                         << "cannot be played:" << QString::fromStdString(loaded.error);
        }
    }
    if (!pending_ || pending_->path != path) return;
    const bool onlyIfIdle = pending_->onlyIfIdle;
    pending_.reset();
    // Nothing has started since this file was asked for: any Start() or Stop() would have replaced the wish.
    if (entry.chunk && !(onlyIfIdle && Mix_Playing(kChannel) != 0)) Play(entry.chunk);
}

void SoundPlayer::Play(const ChunkPtr& chunk) {
    playing_ = Mix_PlayChannel(kChannel, chunk.get(), 0) >= 0 ? chunk : nullptr;
}

void SoundPlayer::Begin(const std::string& file, bool onlyIfIdle) {
    if (file.empty()) return;
    Entry& entry = Lookup(file);
    if (entry.state == State::kReady) {
        Play(entry.chunk);
    } else if (entry.state == State::kQueued) {
        pending_ = Pending{file, onlyIfIdle};
    }
}

void SoundPlayer::Start(const std::string& file) {
    std::lock_guard lock(mutex_);
    if (!open_) return;
    pending_.reset();
    Mix_HaltChannel(kChannel);
    playing_.reset();
    Begin(file, false);
}

void SoundPlayer::Retrigger(const std::string& file) {
    std::lock_guard lock(mutex_);
    if (!open_ || pending_ || Mix_Playing(kChannel) != 0) return;
    playing_.reset();
    Begin(file, true);
}

void SoundPlayer::Stop() {
    std::lock_guard lock(mutex_);
    if (!open_) return;
    pending_.reset();
    Mix_HaltChannel(kChannel);
    playing_.reset();
}

bool SoundPlayer::IsPlaying() const {
    std::lock_guard lock(mutex_);
    return open_ && Mix_Playing(kChannel) != 0;
}

bool SoundPlayer::WaitForLoads(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, timeout, [&] { return queue_.empty() && !decoding_; });
}

}  // namespace zanth
