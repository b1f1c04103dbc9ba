#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <unordered_map>

#include "sound/sound_file.h"
#include "sound/sound_output.h"

struct Mix_Chunk;

namespace zanth {

// SoundOutput over SDL2_mixer, playing on a single mixer channel. Where no audio device can be opened the
// player is simply unavailable: every call does nothing and the rest of the program runs as usual.
//
// Reading and decoding a file can take long (a slow or network disk, a large file), so it never happens on
// the caller's thread: the player decodes on a thread of its own and keeps the results by path. Preload()
// queues the configured files at set-up and returns at once. A Start() or Retrigger() of a file that is not
// decoded yet queues it too and returns at once; the file then plays as soon as it is ready, unless a later
// Start(), Retrigger() or Stop() came first (a Retrigger() counts that pending start as playing).
//
// Only regular files of at most kMaxSoundFileBytes that hold a WAV file of at most kMaxSoundSeconds play
// (see sound_file.h). A file that cannot be played plays nothing, is named once in the log (category
// "zanth.sound") and is remembered as failed until ClearCache(), so it is not read again on every press.
//
// SDL_mixer's device is process-wide: open one player at a time. All calls come from one thread.
class SoundPlayer final : public SoundOutput {
  public:
    SoundPlayer() = default;
    ~SoundPlayer() override;
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    // Where a stored path lies on this machine (e.g. a path the Windows program wrote). Decoding reads the
    // file it names; everything else (the cache, the log) goes by the stored path. Set it before Open(): the
    // decoding thread calls it.
    using PathResolver = std::function<std::string(const std::string&)>;
    void SetPathResolver(PathResolver resolve) { resolve_ = std::move(resolve); }

    // Opens the audio device and starts the decoding thread; false (and available() false) when there is no
    // device. Calling it again while open does nothing and answers true.
    bool Open() override;
    // Stops playback, the decoding thread and releases the decoded files and the device. Safe to call at any
    // time, also twice. Waits for a file being decoded; a read in progress gives up within one 1 MB piece.
    void Close() override;
    bool available() const override { return open_; }

    // Queues the given files for decoding and returns at once (empty paths are skipped, known ones are not
    // read again).
    void Preload(std::span<const std::string> paths) override;
    // Forgets every decoded file and every failed load, e.g. after the user changed the sound files. A sound
    // that is playing plays on to its end; a file waiting to play is read afresh.
    void ClearCache() override;

    void Start(const std::string& file) override;
    void Retrigger(const std::string& file) override;
    void Stop() override;

    // True while the channel is playing (a file waiting to be decoded does not count).
    bool IsPlaying() const;

    // Waits until no queued file is left to decode, at most `timeout`. True when none is left. For tests and
    // tools; the program never needs to wait.
    bool WaitForLoads(std::chrono::milliseconds timeout);

  private:
    using ChunkPtr = std::shared_ptr<Mix_Chunk>;
    enum class State : unsigned char { kQueued, kReady, kFailed };
    struct Entry {
        State state = State::kQueued;
        ChunkPtr chunk;
    };
    struct Pending {
        std::string path;
        bool onlyIfIdle = false;  // from Retrigger(): plays only if nothing plays by then
    };
    struct Loaded {
        ChunkPtr chunk;  // null: `error` says why
        std::string error;
    };

    void Work();
    Loaded Decode(const std::string& path) const;
    // The rest run with mutex_ held.
    Entry& Lookup(const std::string& path);
    void Store(const std::string& path, Loaded loaded);
    void Play(const ChunkPtr& chunk);
    void Begin(const std::string& file, bool onlyIfIdle);

    bool open_ = false;
    PathResolver resolve_;
    std::size_t maxDecodedBytes_ = 0;  // kMaxSoundSeconds of sound in the device's format
    std::thread worker_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;  // to the worker: work queued or stopping
    std::condition_variable idle_;  // from the worker: queue drained
    bool stopping_ = false;
    std::atomic<bool> cancel_{false};
    bool decoding_ = false;
    std::uint64_t generation_ = 0;  // bumped by ClearCache(): a decode started before is dropped
    std::deque<std::string> queue_;
    std::unordered_map<std::string, Entry> files_;
    std::optional<Pending> pending_;
    // The chunk on the channel, kept alive past ClearCache() until it ends or another sound replaces it.
    ChunkPtr playing_;
    std::unordered_map<std::string, std::string> logged_;  // path -> reason last named in the log
};

}  // namespace zanth
