#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "link/frame_decode.h"
#include "link/link_events.h"
#include "model/atomic_write.h"

namespace zanth {

class AppContext;

// The link as the monitor shows it: the last messages and replies, counters since Connect, and the battery
// level over the last ten minutes. Fed on the GUI thread; what it keeps is bounded however long it runs.
class MonitorModel {
  public:
    static constexpr std::size_t kRowLimit = 500;
    static constexpr std::int64_t kHistoryUs = 10LL * 60 * 1000000;
    // Replies further apart than this leave a gap in the plot: the meter's own "no reply" time.
    static constexpr std::int64_t kGapUs = 1000000;

    // The port lost, a try to reopen it that failed, and its return.
    struct PortEvent {
        enum class What : std::uint8_t { kLost, kTry, kBack };
        What what = What::kLost;
        std::int64_t atUs = 0;
        int attempt = 0;     // kTry: the how-manieth since it was lost
        std::string device;  // what was lost or tried
        std::string reason;  // the system's text, as the link or the opener gave it
    };
    struct Row {
        // kRemote: a remote-control client arrived, left or was refused; `note` says which, in the UI
        // language. kPort: an event of a lost port. kDrive: the robot stopped, released, enabled or
        // disabled; `label` names which, `note` who.
        enum class Kind : std::uint8_t { kSent, kReply, kRemote, kPort, kDrive };
        Kind kind = Kind::kSent;
        SentMessage sent;
        bool gapFiller = false;  // a neutral message a played session's pause was filled with
        ReplyRead reply;
        std::string note;
        std::string label;
        std::int64_t noteAtUs = 0;
        PortEvent port;
        std::int64_t atUs() const {
            switch (kind) {
                case Kind::kSent:
                    return sent.sentAtUs;
                case Kind::kReply:
                    return reply.atUs;
                case Kind::kRemote:
                case Kind::kDrive:
                    return noteAtUs;
                case Kind::kPort:
                    break;
            }
            return port.atUs;
        }
    };
    struct Counters {
        std::uint64_t messages = 0, replies = 0, missed = 0, bad = 0, portErrors = 0, reconnects = 0;
        bool operator==(const Counters&) const = default;
    };
    struct Sample {
        std::int64_t atUs = 0;
        int level = 0;
    };
    struct Plot {
        std::int64_t fromUs = 0, toUs = 0;                        // the span shown
        std::vector<std::vector<Sample>> runs;                    // replies without a gap, oldest first
        std::vector<std::pair<std::int64_t, std::int64_t>> gaps;  // spans in which no reply came
    };

    MonitorModel();

    // The link started on `device`: a new Connect resets the counters, a start after a lost port counts
    // as a reconnect.
    void OnStarted(const std::string& device);
    // Disconnect: whatever was lost before it, the next start is a new Connect.
    void OnStopped() { lostSinceStart_ = false; }
    void OnSent(const SentMessage& message, bool gapFiller = false);
    void OnReply(const ReplyRead& reply);
    void OnPortError(std::int64_t atUs);
    // A row of its own for a remote-control client's arrival, departure or refusal; counts nothing.
    void OnRemote(const std::string& note, std::int64_t atUs);
    void OnDrive(const std::string& label, const std::string& note, std::int64_t atUs);
    void OnPortEvent(const PortEvent& event);

    // Paused, no rows are added; counters and the plot go on.
    void SetPaused(bool paused) { paused_ = paused; }
    bool paused() const { return paused_; }
    // Empties the rows.
    void Clear();

    std::size_t rowCount() const { return count_; }
    // 0 is the newest row.
    const Row& row(std::size_t newestFirst) const;
    // Rows added since construction, so that a view can tell how many are new.
    std::uint64_t rowsAdded() const { return added_; }
    // Grows with every reply and port error: the plot has changed.
    std::uint64_t historyVersion() const { return historyVersion_; }
    const Counters& counters() const { return counters_; }
    const std::string& device() const { return device_; }
    // The user's name of the port connected ("COM3"), for the saved log.
    void SetPort(std::string port) { port_ = std::move(port); }
    const std::string& port() const { return port_; }
    // Messages per second over the last few; 0 when none went out in the last two seconds.
    double MessageRate(std::int64_t nowUs) const;
    Plot PlotAt(std::int64_t nowUs) const;

  private:
    struct Entry {
        std::int64_t atUs;
        bool ok;
        int level;
    };
    void Push(const Row& row);
    void Remember(const Entry& entry);

    std::vector<Row> rows_;  // a ring of kRowLimit
    std::size_t next_ = 0;   // where the next row goes
    std::size_t count_ = 0;
    std::uint64_t added_ = 0;
    bool paused_ = false;
    Counters counters_;
    std::string device_;
    std::string port_;
    bool lostSinceStart_ = false;
    std::deque<Entry> history_;
    std::uint64_t historyVersion_ = 0;
    std::array<std::int64_t, 16> sends_{};  // a ring of the last send times
    std::size_t sendCount_ = 0;
};

// The rows as text: one field per column, in the active language.
class MonitorText {
  public:
    static constexpr int kColumns = 7;  // time, kind, bytes, decoded, sticks, LED or level, note
    using Fields = std::array<std::string, kColumns>;

    MonitorText(const AppContext& app, const ControllerModel& model);

    Fields Of(const MonitorModel::Row& row) const;
    // Local time of day of a link time, "HH:MM:SS.mmm".
    std::string Time(std::int64_t linkUs) const;
    // The name of a column (0 .. kColumns - 1).
    std::string Heading(int column) const;
    // The counters and the message rate at `nowUs`; the device, the line's settings and the gamepad in use.
    std::string Counters(const MonitorModel& model, std::int64_t nowUs) const;
    std::string Device(const MonitorModel& model, const std::string& pad) const;
    // Every row, oldest first, one line each, fields separated by tabs; UTF-8.
    std::string Lines(const MonitorModel& model) const;
    // The rows as Lines has them, below a header: the program and its version, the port and the device, the
    // date, the counters, and the column names.
    SaveResult Save(const MonitorModel& model, const std::string& path) const;

  private:
    Fields OfSent(const SentMessage& sent, bool gapFiller) const;
    Fields OfReply(const ReplyRead& reply) const;
    Fields OfPort(const MonitorModel::PortEvent& event) const;

    const AppContext& app_;
    FrameDecoder decoder_;
    std::int64_t wallMinusLinkUs_;
};

// "%1", "%2", ... of a text replaced by the arguments.
std::string Format(const char* text, const std::vector<std::string>& args);

}  // namespace zanth
