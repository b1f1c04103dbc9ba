#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zanth {

// Sound files the player accepts: regular files of at most this many bytes, holding a RIFF/WAVE file that
// plays for at most kMaxSoundSeconds. A 600-second CD-quality WAV is about 100 MB once decoded, which is
// what each such file may cost in memory; the byte limit keeps the read itself bounded.
inline constexpr std::size_t kMaxSoundFileBytes = 64 * 1024 * 1024;
inline constexpr int kMaxSoundSeconds = 600;

// The bytes of a sound file, or why it cannot be played (`error` non-empty, `bytes` empty).
struct SoundFileData {
    std::vector<std::uint8_t> bytes;
    std::string error;
    bool ok() const { return error.empty(); }
};

// Reads a sound file without ever blocking on what is not a regular file: a FIFO, a device (/dev/zero) or a
// directory is refused before anything is read, and so is a file above kMaxSoundFileBytes or one that grows
// past it while being read. Setting `cancel` makes a read in progress give up between two pieces.
SoundFileData ReadSoundFile(const std::string& path, const std::atomic<bool>* cancel = nullptr);

// The same checks without reading the whole file, quick enough for a dialog: empty when the file may play,
// otherwise the reason. A WAV file whose header says it plays longer than kMaxSoundSeconds is refused here
// too; whether the file decodes is only known once the player has read it.
std::string CheckSoundFile(const std::string& path);

// Empty when `bytes` start like a WAV file (RIFF container of form WAVE); otherwise the reason.
std::string CheckSoundBytes(std::span<const std::uint8_t> bytes);

}  // namespace zanth
