#include "control/session_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>
#include <string_view>

namespace zanth {
namespace {

using Kind = SessionFileError::Kind;

constexpr std::string_view kMagic = "zanth-session";
constexpr int kFormat = 1;
// A day: an offset beyond it is a damaged number, not a recording.
constexpr std::int64_t kLongestOffsetUs = 24LL * 3600 * 1000000;

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos) return fields;
        start = tab + 1;
    }
}

// A decimal number of digits only, in [0, limit].
std::optional<std::int64_t> Number(std::string_view text, std::int64_t limit) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0 || value > limit)
        return std::nullopt;
    return value;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// "4B FF FF FF 80 80 80 80 F3": a message the link could have sent, or an empty reason why not.
std::optional<WireMessage> ParseMessage(std::string_view text, std::string* why) {
    WireMessage m{};
    if (text.size() != m.size() * 3 - 1) {
        *why = "not 9 bytes in hex";
        return std::nullopt;
    }
    for (std::size_t i = 0; i < m.size(); ++i) {
        const int hi = HexDigit(text[i * 3]), lo = HexDigit(text[i * 3 + 1]);
        if (hi < 0 || lo < 0 || (i + 1 < m.size() && text[i * 3 + 2] != ' ')) {
            *why = "not 9 bytes in hex";
            return std::nullopt;
        }
        m[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    // The command byte, the start byte and the flag bits that never change: anything else was not sent by
    // the link, and the robot would take it for something else.
    if ((m[0] != 'K' && m[0] != 'k') || m[1] != 0xFF || (m[8] & 0xF4) != 0xF0) {
        *why = "not a message of the link";
        return std::nullopt;
    }
    return m;
}

SessionFileError Fault(Kind kind, int line = 0, std::string detail = {}) {
    return SessionFileError{kind, line, std::move(detail)};
}

SessionFileError ReadHeader(std::string_view line, SessionHeader* header) {
    const std::vector<std::string_view> f = Fields(line);
    if (f[0] != kMagic || f.size() < 2) return Fault(Kind::kForeign);
    const std::optional<std::int64_t> format = Number(f[1], 1000000);
    if (format && *format > kFormat) return Fault(Kind::kNewerFormat);
    if (!format || *format != kFormat || f.size() != 5) return Fault(Kind::kDamaged, 1, "header");
    *header = SessionHeader{std::string(f[2]), std::string(f[3]), std::string(f[4])};
    return {};
}

// One line after the header. `ended` is set by the closing line.
SessionFileError ReadLine(std::string_view line, int number, RecordedSession* session, bool* ended) {
    const std::vector<std::string_view> f = Fields(line);
    if (*ended) return Fault(Kind::kDamaged, number, "text after the closing line");
    if (f.size() != 2) return Fault(Kind::kDamaged, number, "not two fields");
    if (f[0] == "end") {
        const auto count = Number(f[1], kLongestOffsetUs);
        if (!count || *count != static_cast<std::int64_t>(session->messages.size()))
            return Fault(Kind::kDamaged, number, "the message count does not match");
        *ended = true;
        return {};
    }
    const std::optional<std::int64_t> offset = Number(f[0], kLongestOffsetUs);
    if (!offset) return Fault(Kind::kDamaged, number, "bad time");
    if (!session->messages.empty() && *offset < session->messages.back().offsetUs)
        return Fault(Kind::kDamaged, number, "time goes backwards");
    std::string why;
    const std::optional<WireMessage> message = ParseMessage(f[1], &why);
    if (!message) return Fault(Kind::kDamaged, number, why);
    session->messages.push_back(TimedMessage{*offset, *message});
    return {};
}

SessionFileError Parse(std::string_view text, RecordedSession* session) {
    if (text.empty()) return Fault(Kind::kForeign);
    bool ended = false;
    int number = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        const bool complete = end != std::string_view::npos;
        if (!complete) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        start = end + 1;
        ++number;
        if (line.empty() && ended) continue;
        SessionFileError e =
            number == 1 ? ReadHeader(line, &session->header) : ReadLine(line, number, session, &ended);
        // A last line cut in the middle is the end of a file that was cut short.
        if (e.kind == Kind::kDamaged && !complete && number > 1) return Fault(Kind::kTruncated);
        if (e.kind != Kind::kNone) return e;
    }
    if (!ended) return Fault(Kind::kTruncated);
    if (session->messages.empty()) return Fault(Kind::kEmpty);
    return {};
}

// The whole file, if it is a regular file of a size a recording can have.
SessionFileError Slurp(const std::string& path, std::string* text) {
    // Non-blocking, so that a FIFO named by mistake cannot hang the window.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Fault(Kind::kUnreadable, 0, std::strerror(errno));
    struct stat st {};
    SessionFileError e;
    if (fstat(fd, &st) != 0)
        e = Fault(Kind::kUnreadable, 0, std::strerror(errno));
    else if (!S_ISREG(st.st_mode))
        e = Fault(Kind::kUnreadable, 0, "not a regular file");
    else if (static_cast<std::uintmax_t>(st.st_size) > kSessionFileLimit)
        e = Fault(Kind::kTooLarge);
    char buffer[65536];
    while (e.kind == Kind::kNone) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) e = Fault(Kind::kUnreadable, 0, std::strerror(errno));
        if (got <= 0) break;
        text->append(buffer, static_cast<std::size_t>(got));
        if (text->size() > kSessionFileLimit) e = Fault(Kind::kTooLarge);  // it grew while being read
    }
    close(fd);
    return e;
}

// Header fields are single-line and tab-free, whatever a device name holds.
std::string Field(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return out;
}

}  // namespace

RecordedSession ReadSessionFile(const std::string& path, SessionFileError* error) {
    std::string text;
    RecordedSession session;
    SessionFileError e = Slurp(path, &text);
    if (e.kind == Kind::kNone) e = Parse(text, &session);
    if (e.kind != Kind::kNone) session = RecordedSession{};
    if (error != nullptr) *error = e;
    return session;
}

std::string ProgramVersion() {
    return std::string("Zanth-Emulator ") + ZANTH_VERSION;
}

SessionRecorder::~SessionRecorder() {
    Finish(nullptr);
}

bool SessionRecorder::Begin(const std::string& path, const SessionHeader& header, std::string* reason) {
    Finish(nullptr);
    file_ = std::fopen(path.c_str(), "we");
    if (file_ == nullptr) {
        if (reason != nullptr) *reason = std::strerror(errno);
        return false;
    }
    count_ = 0;
    error_ = 0;
    if (std::fprintf(file_, "%s\t%d\t%s\t%s\t%s\n", kMagic.data(), kFormat, Field(header.program).c_str(),
                     Field(header.port).c_str(), Field(header.device).c_str()) < 0)
        error_ = errno;
    return true;
}

void SessionRecorder::Add(const SentMessage& message) {
    if (file_ == nullptr) return;
    if (count_ == 0) firstUs_ = message.sentAtUs;
    char line[64];
    int n = std::snprintf(line, sizeof line, "%lld\t", static_cast<long long>(message.sentAtUs - firstUs_));
    for (std::size_t i = 0; i < message.bytes.size(); ++i)
        n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n),
                           i + 1 < message.bytes.size() ? "%02X " : "%02X\n", message.bytes[i]);
    if (std::fputs(line, file_) < 0 && error_ == 0) error_ = errno;
    ++count_;
}

bool SessionRecorder::Finish(std::string* reason) {
    if (file_ == nullptr) return true;
    if (std::fprintf(file_, "end\t%d\n", count_) < 0 && error_ == 0) error_ = errno;
    if (std::fflush(file_) != 0 && error_ == 0) error_ = errno;
    if (std::fclose(file_) != 0 && error_ == 0) error_ = errno;
    file_ = nullptr;
    if (error_ != 0 && reason != nullptr) *reason = std::strerror(error_);
    return error_ == 0;
}

}  // namespace zanth
