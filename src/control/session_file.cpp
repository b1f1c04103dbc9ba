#include "control/session_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>
#include <string_view>

#include "base/app_context.h"

namespace zanth {
namespace {

using Kind = SessionFileError::Kind;

constexpr std::string_view kMagic = "zanth-session";
constexpr int kFormat = 1;
constexpr int kFormatWithLost = 2;
constexpr int kFormatWithHolds = 3;
constexpr std::string_view kHoldWords[] = {"stop", "release", "disable", "enable"};
// "0", a tab, the 9 bytes and the line break: no message line is shorter, so a file of this many bytes
// per message holds no more messages than that.
constexpr std::size_t kShortestMessageLine = 2 + kMessageBytes * 3;

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

// Reads a session file a line at a time, so that the file is never held whole beside its messages.
class Parser {
  public:
    Parser(RecordedSession* session, std::uintmax_t fileSize) : session_(session), fileSize_(fileSize) {}

    // One line; `complete` when a line break ended it.
    SessionFileError Line(std::string_view line, bool complete) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++number_;
        // A crash may leave NUL bytes after the last line a file system wrote: no text, only its end.
        if (ended_ && line.find_first_not_of('\0') == std::string_view::npos) return {};
        SessionFileError e = number_ == 1 ? Header(line) : Record(line);
        // A last line cut in the middle is the end of a file that was cut short: what came before plays.
        if (e.kind == Kind::kDamaged && !complete && number_ > 1 && !ended_) return {};
        return e;
    }

    SessionFileError Finish() const {
        if (number_ == 0) return Fault(Kind::kForeign);
        if (session_->messages.empty()) return Fault(ended_ ? Kind::kEmpty : Kind::kTruncated);
        session_->complete = ended_;
        return {};
    }

  private:
    SessionFileError Header(std::string_view line) {
        const std::vector<std::string_view> f = Fields(line);
        if (f[0] != kMagic || f.size() < 2) return Fault(Kind::kForeign);
        const std::optional<std::int64_t> format = Number(f[1], 1000000);
        if (format && *format > kFormatWithHolds) return Fault(Kind::kNewerFormat);
        if (!format || *format < kFormat || f.size() != 5) return Fault(Kind::kDamaged, 1, "header");
        session_->header = SessionHeader{std::string(f[2]), std::string(f[3]), std::string(f[4])};
        session_->messages.reserve(static_cast<std::size_t>(fileSize_ / kShortestMessageLine));
        return {};
    }

    SessionFileError Record(std::string_view line) {
        const std::vector<std::string_view> f = Fields(line);
        if (ended_) return Fault(Kind::kDamaged, number_, "text after the closing line");
        if (f.size() != 2) return Fault(Kind::kDamaged, number_, "not two fields");
        std::vector<TimedMessage>& messages = session_->messages;
        if (f[0] == "end") {
            const auto count = Number(f[1], 1LL << 40);
            if (!count || *count != static_cast<std::int64_t>(messages.size()))
                return Fault(Kind::kDamaged, number_, "the message count does not match");
            ended_ = true;
            return {};
        }
        const bool lost = f[0] == "lost";
        const bool hold =
            std::find(std::begin(kHoldWords), std::end(kHoldWords), f[0]) != std::end(kHoldWords);
        const std::optional<std::int64_t> offset = Number(lost || hold ? f[1] : f[0], kLongestSessionUs);
        if (!offset)
            return Fault(Kind::kDamaged, number_, "bad time, or beyond a day after the first message");
        if (*offset < lastUs_) return Fault(Kind::kDamaged, number_, "time goes backwards");
        if (!messages.empty() && *offset - messages.back().offsetUs > kLongestPauseUs)
            return Fault(Kind::kDamaged, number_, "a pause of over ten minutes");
        lastUs_ = *offset;
        if (hold) return {};  // what the drive team did; the messages carry what went out
        if (lost) {
            if (messages.empty())
                return Fault(Kind::kDamaged, number_, "a lost port before the first message");
            if (session_->lostAfter.empty() || session_->lostAfter.back() != messages.size() - 1)
                session_->lostAfter.push_back(messages.size() - 1);
            return {};
        }
        std::string why;
        const std::optional<WireMessage> message = ParseMessage(f[1], &why);
        if (!message) return Fault(Kind::kDamaged, number_, why);
        messages.push_back(TimedMessage{*offset, *message});
        return {};
    }

    RecordedSession* session_;
    std::uintmax_t fileSize_;
    int number_ = 0;
    bool ended_ = false;
    std::int64_t lastUs_ = 0;  // the time of the last message or mark
};

// The lines of `fd`, a regular file of `size` bytes, read in blocks.
SessionFileError ParseFile(int fd, std::uintmax_t size, RecordedSession* session,
                           const std::atomic<bool>* cancel) {
    Parser parser(session, size);
    std::string carried;  // a line begun in the block before
    std::uintmax_t total = 0;
    std::vector<char> buffer(65536);
    for (;;) {
        if (cancel != nullptr && cancel->load()) return Fault(Kind::kUnreadable, 0, "cancelled");
        const ssize_t got = read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return Fault(Kind::kUnreadable, 0, std::strerror(errno));
        if (got == 0) break;
        total += static_cast<std::uintmax_t>(got);
        if (total > kSessionFileLimit) return Fault(Kind::kTooLarge);  // it grew while being read
        std::string_view block(buffer.data(), static_cast<std::size_t>(got));
        for (std::size_t end; (end = block.find('\n')) != std::string_view::npos;
             block.remove_prefix(end + 1)) {
            std::string_view line = block.substr(0, end);
            if (!carried.empty()) line = carried.append(line);
            if (SessionFileError e = parser.Line(line, true); e.kind != Kind::kNone) return e;
            carried.clear();
        }
        carried.append(block);
    }
    if (!carried.empty())
        if (SessionFileError e = parser.Line(carried, false); e.kind != Kind::kNone) return e;
    return parser.Finish();
}

// Opens `path` if it is a regular file of a size a recording can have, and reads it.
SessionFileError ReadFile(const std::string& path, RecordedSession* session,
                          const std::atomic<bool>* cancel) {
    // Non-blocking, so that a FIFO named by mistake cannot hang the reader.
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
    else
        e = ParseFile(fd, static_cast<std::uintmax_t>(st.st_size), session, cancel);
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

RecordedSession ReadSessionFile(const std::string& path, SessionFileError* error,
                                const std::atomic<bool>* cancel) {
    RecordedSession session;
    const SessionFileError e = ReadFile(path, &session, cancel);
    if (e.kind != Kind::kNone) session = RecordedSession{};
    if (error != nullptr) *error = e;
    return session;
}

std::string ProgramVersion() {
    return std::string("Zanth-Emulator ") + Version();
}

namespace {

// The frame of nobody touching the controller, sent as `before` was: its command byte and its LED.
WireMessage NeutralAfter(const WireMessage& before) {
    ControllerFrame frame;
    std::copy(before.begin() + 1, before.end(), frame.begin());
    return BuildMessage(NeutralFrame(LedLit(frame)), before[0] == 'k');
}

// The pauses of `session` that play as neutral, each with the message it follows in `after`.
std::vector<PlayedGap> NeutralGaps(const RecordedSession& session, std::vector<std::size_t>* after) {
    std::vector<PlayedGap> gaps;
    const std::vector<TimedMessage>& messages = session.messages;
    const std::vector<std::size_t>& lost = session.lostAfter;
    for (std::size_t i = 0, l = 0; i + 1 < messages.size(); ++i) {
        while (l < lost.size() && lost[l] < i) ++l;
        const bool lostHere = l < lost.size() && lost[l] == i;
        const std::int64_t pause = messages[i + 1].offsetUs - messages[i].offsetUs;
        if (pause <= kHeldPauseUs && !lostHere) continue;
        const std::int64_t playedUs = std::min(pause, kPlayedGapUs);
        // None closer than a step to the message after the pause, which goes out on time.
        const std::int64_t fillers = std::max<std::int64_t>(playedUs - kFillerStepUs, 0) / kFillerStepUs;
        if (fillers == 0) continue;
        gaps.push_back({0, static_cast<std::size_t>(fillers), pause, playedUs, lostHere});
        after->push_back(i);
    }
    return gaps;
}

}  // namespace

PlayedSession PrepareForPlaying(RecordedSession session) {
    PlayedSession played;
    played.complete = session.complete;
    std::vector<std::size_t> after;
    played.gaps = NeutralGaps(session, &after);
    std::vector<TimedMessage>& in = session.messages;
    if (played.gaps.empty()) {
        played.messages = std::move(in);
        return played;
    }
    std::size_t fillers = 0;
    for (const PlayedGap& gap : played.gaps) fillers += gap.fillers;
    played.messages.reserve(in.size() + fillers);
    std::int64_t cut = 0;  // taken out of the pauses so far
    for (std::size_t i = 0, g = 0; i < in.size(); ++i) {
        const std::int64_t at = in[i].offsetUs - cut;
        played.messages.push_back({at, in[i].bytes});
        if (g == after.size() || after[g] != i) continue;
        PlayedGap& gap = played.gaps[g++];
        gap.firstFiller = played.messages.size();
        const WireMessage neutral = NeutralAfter(in[i].bytes);
        for (std::size_t k = 1; k <= gap.fillers; ++k)
            played.messages.push_back({at + static_cast<std::int64_t>(k) * kFillerStepUs, neutral});
        cut += gap.recordedUs - gap.playedUs;
    }
    return played;
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
    lastUs_ = markUs_ = 0;
    lostMarked_ = false;
    format_ = kFormat;
    if (std::fprintf(file_, "%s\t%d\t%s\t%s\t%s\n", kMagic.data(), kFormat, Field(header.program).c_str(),
                     Field(header.port).c_str(), Field(header.device).c_str()) < 0)
        error_ = errno;
    Flush();
    return true;
}

void SessionRecorder::Add(const SentMessage& message) {
    if (file_ == nullptr) return;
    if (count_ == 0) firstUs_ = flushedUs_ = message.sentAtUs;
    // A longer pause would make the file unplayable; it plays cut to kPlayedGapUs whatever its length.
    if (count_ > 0 && message.sentAtUs - firstUs_ - lastUs_ > kLongestPauseUs)
        firstUs_ = message.sentAtUs - lastUs_ - kLongestPauseUs;
    const std::int64_t offset = std::max(message.sentAtUs - firstUs_, markUs_);
    char line[64];
    int n = std::snprintf(line, sizeof line, "%lld\t", static_cast<long long>(offset));
    for (std::size_t i = 0; i < message.bytes.size(); ++i)
        n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n),
                           i + 1 < message.bytes.size() ? "%02X " : "%02X\n", message.bytes[i]);
    if (std::fputs(line, file_) < 0 && error_ == 0) error_ = errno;
    ++count_;
    lastUs_ = markUs_ = offset;
    lostMarked_ = false;
    if (message.sentAtUs - flushedUs_ >= kRecorderFlushUs) {
        Flush();
        flushedUs_ = message.sentAtUs;
    }
}

void SessionRecorder::Flush() {
    if (file_ != nullptr && std::fflush(file_) != 0 && error_ == 0) error_ = errno;
}

void SessionRecorder::MarkLost(std::int64_t atUs) {
    if (file_ == nullptr || count_ == 0 || lostMarked_) return;
    RaiseFormat(kFormatWithLost);
    markUs_ = std::clamp(atUs - firstUs_, lastUs_, lastUs_ + kLongestPauseUs);
    if (std::fprintf(file_, "lost\t%lld\n", static_cast<long long>(markUs_)) < 0 && error_ == 0)
        error_ = errno;
    lostMarked_ = true;
    // Nothing more may come for a while: what the port lost behind it is on disk now.
    Flush();
}

// A reader that does not know a line of the newer format names the file as newer instead of damaged.
void SessionRecorder::RaiseFormat(int format) {
    if (format <= format_) return;
    // Same width: the format number is one digit.
    const long end = std::ftell(file_);
    if (std::fseek(file_, static_cast<long>(kMagic.size()) + 1, SEEK_SET) != 0 ||
        std::fputc('0' + format, file_) == EOF || std::fseek(file_, end, SEEK_SET) != 0) {
        if (error_ == 0) error_ = errno;
    }
    format_ = format;
}

void SessionRecorder::MarkHold(std::int64_t atUs, Hold hold) {
    if (file_ == nullptr || count_ == 0) return;
    RaiseFormat(kFormatWithHolds);
    markUs_ = std::clamp(atUs - firstUs_, std::max(lastUs_, markUs_), lastUs_ + kLongestPauseUs);
    if (std::fprintf(file_, "%s\t%lld\n", kHoldWords[static_cast<int>(hold)].data(),
                     static_cast<long long>(markUs_)) < 0 &&
        error_ == 0)
        error_ = errno;
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
