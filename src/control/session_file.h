#pragma once
// Recorded sessions: every message sent to the robot with its time, in a text file that can be played back.
//
// UTF-8 text, one record per line, fields separated by tabs:
//   zanth-session  1  <program and version>  <port>  <device>
//   <microseconds after the first message>  <the 9 bytes in hex, separated by spaces>
//   ...
//   end  <number of messages>
// The closing line tells a complete recording from one that was cut short.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "link/link_events.h"

namespace zanth {

inline constexpr const char* kSessionSuffix = ".zsr";
// An hour of driving takes about 1.3 MB; anything far beyond is not a recording of ours.
inline constexpr std::uintmax_t kSessionFileLimit = 16u << 20;

struct SessionHeader {
    std::string program;  // "Zanth-Emulator 1.0.0.2"
    std::string port;     // "COM1"
    std::string device;   // what the port stood for
};

struct RecordedSession {
    SessionHeader header;
    std::vector<TimedMessage> messages;
};

// Why a session file cannot be played.
struct SessionFileError {
    enum class Kind {
        kNone,
        kUnreadable,   // cannot be opened or read, or not a regular file; `detail` has the system's text
        kTooLarge,     // beyond kSessionFileLimit
        kForeign,      // not a session file at all
        kNewerFormat,  // a session file of a later version of the program
        kDamaged,      // `line` does not read as it must; `detail` says how
        kTruncated,    // ends before its closing line
        kEmpty,        // complete, but without a message
    };
    Kind kind = Kind::kNone;
    int line = 0;
    std::string detail;
};

// Reads and checks a whole session file. On any fault the session is empty and `error` says what is wrong.
RecordedSession ReadSessionFile(const std::string& path, SessionFileError* error);

// The program's name and version, as the header carries it.
std::string ProgramVersion();

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
    // Writes the closing line and closes the file; false with `reason` when anything could not be written.
    bool Finish(std::string* reason);
    bool recording() const { return file_ != nullptr; }
    int count() const { return count_; }

  private:
    std::FILE* file_ = nullptr;
    std::int64_t firstUs_ = 0;
    int count_ = 0;
    int error_ = 0;  // the first errno of a failed write
};

}  // namespace zanth
