#pragma once
// Recorded sessions: every message sent to the robot with its time, in a text file that can be played back.
//
// UTF-8 text, one record per line, fields separated by tabs:
//   zanth-session  <format>  <program and version>  <port>  <device>
//   <microseconds after the first message>  <the 9 bytes in hex, separated by spaces>
//   lost  <microseconds after the first message>
//   stop | release | disable | enable  <microseconds after the first message>
//   ...
//   end  <number of messages>
// The closing line tells a complete recording from one that was cut short. A "lost" line says that the port
// was lost there: the pause it stands in plays as the neutral frame however short it is.
//
// The recorder hands its lines to the system at least once a second, so a program that crashes or is killed
// leaves a file without its closing line, perhaps ending in half a line. Such a file plays up to its last
// whole line and is marked as cut short; one cut before its first message cannot be played.
//
// Format 1 has no "lost" lines. The recorder writes format 1 and turns it into format 2 when it writes the
// first "lost" line, so that an older program names such a file as one of a newer version instead of
// calling it damaged at that line, and still plays every recording without a lost port. Format 3 adds the
// emergency stop and enable lines (the robot stopped, the stop released, disabled, enabled), raised to in the
// same way; they tell what the drive team did, while the messages around them carry the neutral frames that
// went out, so they change nothing that plays.
//
// Bounds no recording of ours reaches; a file beyond them is refused as damaged at its line:
//   - a pause between two messages over kLongestPauseUs (the recorder writes a longer one as this long:
//     it plays shortened to kPlayedGapUs anyway);
//   - a message later than kLongestSessionUs after the first.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "link/link_events.h"

namespace zanth {

inline constexpr const char* kSessionSuffix = ".zsr";
// An hour of driving takes about 1.3 MB; anything far beyond is not a recording of ours.
inline constexpr std::uintmax_t kSessionFileLimit = 16u << 20;
inline constexpr std::int64_t kLongestPauseUs = 10LL * 60 * 1000000;
inline constexpr std::int64_t kLongestSessionUs = 24LL * 3600 * 1000000;

// Playback never leaves the robot with a held frame and then silence. A pause longer than kHeldPauseUs (the
// wire's rhythm is 125 ms; a longer pause means the port or the link was in trouble) and any pause with a
// lost port in it play as the neutral frame at the link's rhythm, cut to kPlayedGapUs at most.
inline constexpr std::int64_t kHeldPauseUs = 1000000;
inline constexpr std::int64_t kPlayedGapUs = 3000000;
inline constexpr std::int64_t kFillerStepUs = (kFrameDiscardMs + kReplyTimeoutMs) * 1000LL;

struct SessionHeader {
    std::string program;  // "Zanth-Emulator 1.0.0.2"
    std::string port;     // "COM1"
    std::string device;   // what the port stood for
};

struct RecordedSession {
    SessionHeader header;
    std::vector<TimedMessage> messages;
    std::vector<std::size_t> lostAfter;  // the messages after which the port was lost, in order
    bool complete = true;                // false: the file ends without its closing line
};

// A pause of a recording that plays as the neutral frame.
struct PlayedGap {
    std::size_t firstFiller = 0;  // where its neutral messages start among the played messages
    std::size_t fillers = 0;
    std::int64_t recordedUs = 0;  // the pause as recorded
    std::int64_t playedUs = 0;    // as played
    bool lost = false;            // the port was lost in it
};

struct PlayedSession {
    std::vector<TimedMessage> messages;
    std::vector<PlayedGap> gaps;  // in order
    bool complete = true;         // as the recording's
};

// The messages as the link plays them: every pause as described at kHeldPauseUs gets neutral messages every
// kFillerStepUs (none closer than that to the message after it), each with the command byte and the LED of
// the message before the pause, and is cut to kPlayedGapUs; the messages after a cut move up by what was
// cut. The recorded messages are otherwise played as they are.
PlayedSession PrepareForPlaying(RecordedSession session);

// Why a session file cannot be played.
struct SessionFileError {
    enum class Kind {
        kNone,
        kUnreadable,   // cannot be opened or read, or not a regular file; `detail` has the system's text
        kTooLarge,     // beyond kSessionFileLimit
        kForeign,      // not a session file at all
        kNewerFormat,  // a session file of a later version of the program
        kDamaged,      // `line` does not read as it must; `detail` says how
        kTruncated,    // ends before its first message
        kEmpty,        // complete, but without a message
    };
    Kind kind = Kind::kNone;
    int line = 0;
    std::string detail;
};

// Reads and checks a whole session file, a line at a time. On any fault the session is empty and `error`
// says what is wrong; a file cut short after a message is no fault (see `RecordedSession::complete`). Setting
// `cancel` (from any thread) ends the read early, as unreadable.
RecordedSession ReadSessionFile(const std::string& path, SessionFileError* error,
                                const std::atomic<bool>* cancel = nullptr);

// The program's name and version, as the header carries it.
std::string ProgramVersion();

// The recorder hands what it wrote to the system when this much of the link's time has passed since it last
// did: a write per second, where every message would cost a write and a sync (bench_recorder_bench).
inline constexpr std::int64_t kRecorderFlushUs = 1000000;

// Writes the messages of a session as they are sent.
class SessionRecorder {
  public:
    SessionRecorder() = default;
    ~SessionRecorder();
    SessionRecorder(const SessionRecorder&) = delete;
    SessionRecorder& operator=(const SessionRecorder&) = delete;

    // Creates (or replaces) the file and writes the header; false with `reason` when it cannot.
    bool Begin(const std::string& path, const SessionHeader& header, std::string* reason);
    // The first message added is offset 0.
    void Add(const SentMessage& message);
    // The port was lost at `atUs` (the link's clock): the pause up to the next message plays as neutral.
    // Once per pause; nothing before the first message.
    void MarkLost(std::int64_t atUs);
    // The robot was stopped, released, disabled or enabled at `atUs`; nothing before the first message.
    enum class Hold { kStop, kRelease, kDisable, kEnable };
    void MarkHold(std::int64_t atUs, Hold hold);
    // Hands the lines written so far to the system (a killed program then loses none of them).
    void Flush();
    // Writes the closing line and closes the file; false with `reason` when anything could not be written.
    bool Finish(std::string* reason);
    bool recording() const { return file_ != nullptr; }
    int count() const { return count_; }

  private:
    void RaiseFormat(int format);

    std::FILE* file_ = nullptr;
    std::int64_t firstUs_ = 0;
    std::int64_t lastUs_ = 0;     // the last message's time, as written
    std::int64_t markUs_ = 0;     // the last line's time, as written
    std::int64_t flushedUs_ = 0;  // the link's time of the last flush
    bool lostMarked_ = false;     // a "lost" line follows the last message
    int format_ = 0;              // as the header says now
    int count_ = 0;
    int error_ = 0;  // the first errno of a failed write
};

}  // namespace zanth
