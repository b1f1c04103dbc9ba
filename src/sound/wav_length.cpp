#include "sound/wav_length.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>

namespace zanth {
namespace {

constexpr std::uint32_t FourCc(const char (&id)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(id[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(id[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(id[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(id[3])) << 24;
}

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// Where the bytes come from: a size and positioned reads. A read answers how many bytes it got (fewer at the
// end of the file) or nothing on an I/O error.
class Source {
  public:
    virtual ~Source() = default;
    virtual std::uint64_t size() const = 0;
    virtual std::optional<std::size_t> Read(std::uint64_t offset, std::uint8_t* out, std::size_t n) = 0;
};

class MemorySource final : public Source {
  public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    std::optional<std::size_t> Read(std::uint64_t offset, std::uint8_t* out, std::size_t n) override {
        if (offset >= bytes_.size()) return 0;
        const std::size_t got = std::min<std::uint64_t>(n, bytes_.size() - offset);
        std::memcpy(out, bytes_.data() + offset, got);
        return got;
    }

  private:
    std::span<const std::uint8_t> bytes_;
};

class FileSource final : public Source {
  public:
    explicit FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    std::uint64_t size() const override { return size_; }
    std::optional<std::size_t> Read(std::uint64_t offset, std::uint8_t* out, std::size_t n) override {
        std::size_t got = 0;
        while (got < n) {
            const ssize_t r = ::pread(fd_, out + got, n - got, static_cast<off_t>(offset + got));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) return std::nullopt;
            if (r == 0) break;
            got += static_cast<std::size_t>(r);
        }
        return got;
    }

  private:
    int fd_;
    std::uint64_t size_;
};

struct Chunk {
    std::uint32_t id = 0;
    std::uint32_t size = 0;
    std::uint64_t dataOffset = 0;  // first payload byte

    // The byte after the payload and its pad byte.
    std::uint64_t end() const { return dataOffset + size + (size & 1u); }
};

// The chunk header at `offset`; nothing when the file holds no whole header there or cannot be read.
std::optional<Chunk> ReadHeader(Source& src, std::uint64_t offset) {
    std::array<std::uint8_t, 8> header{};
    const auto got = src.Read(offset, header.data(), header.size());
    if (!got || *got < header.size()) return std::nullopt;
    return Chunk{Le32(header.data()), Le32(header.data() + 4), offset + 8};
}

// The first chunk `id` among the sibling chunks from `from` up to `end`. Each step moves on by at least 8
// bytes, so the scan ends however the sizes are made.
std::optional<Chunk> FindChunk(Source& src, std::uint64_t from, std::uint64_t end, std::uint32_t id) {
    for (std::uint64_t pos = from; pos + 8 <= end;) {
        const auto chunk = ReadHeader(src, pos);
        if (!chunk) return std::nullopt;
        if (chunk->id == id) return chunk;
        pos = chunk->end();
    }
    return std::nullopt;
}

// The RIFF chunk of form "WAVE", searched among the top-level chunks from the start of the file.
std::optional<Chunk> FindWaveRiff(Source& src) {
    for (std::uint64_t pos = 0;;) {
        const auto chunk = ReadHeader(src, pos);
        if (!chunk) return std::nullopt;
        if (chunk->id == FourCc("RIFF")) {
            std::array<std::uint8_t, 4> form{};
            const auto got = src.Read(chunk->dataOffset, form.data(), form.size());
            if (!got) return std::nullopt;
            if (*got == form.size() && Le32(form.data()) == FourCc("WAVE")) return chunk;
        }
        pos = chunk->end();
    }
}

// Format tag (offset 0) and average bytes per second (offset 8) are all that is used of the format.
constexpr std::uint32_t kFormatBytesUsed = 12;

int Measure(Source& src) {
    const auto riff = FindWaveRiff(src);
    if (!riff) return -1;
    const std::uint64_t riffEnd = riff->dataOffset + riff->size;

    const auto fmt = FindChunk(src, riff->dataOffset + 4, riffEnd, FourCc("fmt "));
    if (!fmt || fmt->size < kFormatBytesUsed) return -1;
    // Bytes the file does not hold stay zero, which then fails the tag or the rate below.
    std::array<std::uint8_t, kFormatBytesUsed> format{};
    if (!src.Read(fmt->dataOffset, format.data(), format.size())) return -1;
    const std::uint16_t formatTag = Le16(format.data());
    const std::uint32_t avgBytesPerSec = Le32(format.data() + 8);

    // A "data" chunk before the format does not count.
    const auto data = FindChunk(src, fmt->end(), riffEnd, FourCc("data"));
    if (!data) return -1;
    if (data->dataOffset + data->size > src.size()) return -1;  // payload cut short

    if (formatTag != 1 || avgBytesPerSec == 0) return -1;
    // Single precision, as the length has always been worked out; a length beyond the int range (a tiny byte
    // rate) is as unknown as any other nonsense.
    const float seconds = static_cast<float>(data->size) / static_cast<float>(avgBytesPerSec);
    const float ms = seconds * 1000.0f;
    if (!(ms < 2147483648.0f)) return -1;
    return static_cast<int>(ms);
}

}  // namespace

int WavLengthFromBytes(std::span<const std::uint8_t> bytes) {
    MemorySource src(bytes);
    return Measure(src);
}

int ReadWavLength(const std::string& path) {
    if (path.empty()) return -1;
    // Non-blocking so that a FIFO typed into the path box cannot hang the window; only regular files count.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    int result = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        FileSource src(fd, static_cast<std::uint64_t>(st.st_size));
        result = Measure(src);
    }
    if (::close(fd) != 0) return -1;
    return result;
}

}  // namespace zanth
