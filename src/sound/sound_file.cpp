#include "sound/sound_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sound/wav_length.h"

namespace zanth {
namespace {

// Reads go in pieces of this size so that Close() need not wait for a whole large file on a slow disk.
constexpr std::size_t kPiece = 1024 * 1024;

std::string TooLarge() {
    return "larger than " + std::to_string(kMaxSoundFileBytes / (1024 * 1024)) + " MB";
}

std::string TooLong() {
    return "plays longer than " + std::to_string(kMaxSoundSeconds) + " seconds";
}

SoundFileData Fail(std::string reason) {
    SoundFileData d;
    d.error = std::move(reason);
    return d;
}

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

// Opens `path` for reading if it is a regular file within the size limit; the reason otherwise.
std::string OpenChecked(const std::string& path, Fd& file, struct stat& st) {
    if (path.empty()) return "no file name";
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer, for ever.
    file.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file.fd < 0) return std::strerror(errno);
    if (::fstat(file.fd, &st) != 0) return std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    if (static_cast<unsigned long long>(st.st_size) > kMaxSoundFileBytes) return TooLarge();
    return {};
}

}  // namespace

std::string CheckSoundFile(const std::string& path) {
    Fd file;
    struct stat st {};
    if (std::string reason = OpenChecked(path, file, st); !reason.empty()) return reason;
    std::uint8_t head[12];
    const ssize_t n = ::pread(file.fd, head, sizeof head, 0);
    if (n < 0) return std::strerror(errno);
    if (std::string reason = CheckSoundBytes({head, static_cast<std::size_t>(n)}); !reason.empty())
        return reason;
    if (ReadWavLength(path) > kMaxSoundSeconds * 1000) return TooLong();
    return {};
}

SoundFileData ReadSoundFile(const std::string& path, const std::atomic<bool>* cancel) {
    Fd file;
    struct stat st {};
    if (std::string reason = OpenChecked(path, file, st); !reason.empty()) return Fail(std::move(reason));
    const int fd = file.fd;

    SoundFileData d;
    // One byte more than the size says, to notice a file that grew since fstat().
    d.bytes.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t used = 0;
    for (;;) {
        if (cancel && cancel->load(std::memory_order_relaxed)) return Fail("cancelled");
        if (used == d.bytes.size()) {
            if (used > kMaxSoundFileBytes) return Fail(TooLarge());
            d.bytes.resize(std::min(used * 2, kMaxSoundFileBytes + 1));
        }
        const std::size_t want = std::min(kPiece, d.bytes.size() - used);
        const ssize_t n = ::read(fd, d.bytes.data() + used, want);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Fail(std::strerror(errno));
        }
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
    }
    if (used > kMaxSoundFileBytes) return Fail(TooLarge());
    d.bytes.resize(used);
    if (std::string reason = CheckSoundBytes(d.bytes); !reason.empty()) return Fail(std::move(reason));
    return d;
}

std::string CheckSoundBytes(std::span<const std::uint8_t> bytes) {
    // Only WAV files are played: the other formats the mixer would recognise are compressed, and a small file
    // of those could decode into gigabytes.
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return "not a WAV file";
    return {};
}

}  // namespace zanth
