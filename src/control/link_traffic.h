#pragma once
#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "control/monitor_model.h"
#include "control/session_file.h"
#include "link/frame_decode.h"
#include "link/link_events.h"
#include "link/link_failure.h"
#include "remote/remote_server.h"

namespace zanth {

class AppContext;
class LinkWorker;

// How a played session ended.
// What the monitor is told of the emergency stop and enable.
enum class DriveNote { kStopped, kReleased, kEnabled, kDisabled };

enum class PlayEnd { kFinished, kKey, kMouse, kGamepad, kRemote, kEscape, kStop, kPortLost, kDisconnected };

// Listens to the wire: feeds the monitor, writes the recorded session, and plays a recorded one back
// through the link. Lives on the GUI thread beside the session, which asks it before every live frame.
class LinkTraffic : public QObject {
    Q_OBJECT
  public:
    LinkTraffic(const AppContext& app, const ControllerModel& model, LinkWorker& link,
                QObject* parent = nullptr);
    ~LinkTraffic() override;

    MonitorModel& monitor() { return monitor_; }
    const MonitorModel& monitor() const { return monitor_; }
    const MonitorText& text() const { return text_; }
    // Messages that went out since construction: the window blinks on every new one.
    std::uint64_t messagesSeen() const { return messagesSeen_; }
    // The level of the last battery reply since the link started, as the robot said it.
    std::optional<int> lastLevel() const { return lastLevel_; }

    // Records every message sent from now on into `path`; false with the reason (active language).
    bool StartRecording(const std::string& path, const SessionHeader& header, std::string* error);
    // Closes the recording; false with the reason when the file could not be written whole.
    bool StopRecording(std::string* error);
    // Disconnect: a played session ends, and so does the recording (a failure comes as recordingFailed).
    void EndWithLink();
    bool recording() const { return recorder_.recording(); }

    // Reads and checks `path` off the GUI thread, then hands its messages, prepared by PrepareForPlaying, to
    // the link; playOutcome tells how it ended. A file that cannot be played sends nothing. A Play while
    // one is read replaces it.
    void Play(const std::string& path);
    // Ends the played session, or the reading of one; `why` is what the window says of it.
    void StopPlaying(PlayEnd why = PlayEnd::kStop);
    bool playing() const;
    // A file is being read for Play.
    bool loading() const { return loader_.joinable(); }
    // While a session plays: a file cut short, and what its pauses played as neutral became; after it, how
    // it ended (until the next Play or Record). In the active language; empty when there is nothing to say.
    std::string PlaybackNote() const;
    // The port was lost: the recording marks the pause that follows, so that it plays as neutral. The link's
    // own failures are marked already; a second mark in the same pause changes nothing.
    void NotePortLost();
    // While a session plays: the items the picture draws pressed (bit i: ItemIndex i, the LED included), from
    // the frame last played; none before its first message and when nothing plays.
    std::optional<std::uint32_t> ShownItems() const;

    // A remote-control client arrived, left or was refused: a row in the monitor.
    void NoteRemote(const RemoteEvent& event);
    // The robot was stopped (by `who`, as the banner names it), released, enabled or disabled.
    void NoteDrive(DriveNote what, const std::string& who);
    // The one line that sums up a practice match.
    void NoteMatch(const std::string& summary);
    // The remote clients as the monitor lists them; empty when none.
    void SetRemoteClients(const QList<RemoteClientView>& clients);
    const QString& remoteClients() const { return remoteClients_; }

    // The gamepad in use (its name and kind; empty: none), as the monitor names it.
    void SetPadInUse(const std::string& pad) { padInUse_ = pad; }
    const std::string& padInUse() const { return padInUse_; }

    // Asked by the tick before it hands the live frame over: false while a played session has the wire. A
    // press on the live controller (`pressed`: by a key, the mouse or the gamepad) ends the session first.
    bool LiveFrameGoesOut(std::optional<PlayEnd> pressed);

  signals:
    // The outcome of Play: empty when the session plays, else why it cannot (active language).
    void playOutcome(const QString& error);
    // A recording ended by Disconnect could not be written whole (active language).
    void recordingFailed(const QString& error);

  private:
    // What the reader hands back, under loadedMutex_: a std::mutex, which ThreadSanitizer sees, where the
    // queued call itself carries nothing of ours.
    struct Loaded {
        std::string path;
        SessionFileError fault;
        std::shared_ptr<PlayedSession> played;
        std::uint64_t generation = 0;
    };
    Q_INVOKABLE void TakeLoaded();
    void OnLoaded(const std::string& path, const SessionFileError& fault, PlayedSession played);
    void CancelLoading();
    void ReleasePlayed();
    void Ended(PlayEnd why);
    std::string GapNote() const;
    void OnSent(const SentMessage& message);
    void OnReply(const ReplyRead& reply);

    const AppContext& app_;
    LinkWorker& link_;
    std::string padInUse_;
    FrameDecoder decoder_;
    MonitorModel monitor_;
    MonitorText text_;
    SessionRecorder recorder_;
    std::uint64_t messagesSeen_ = 0;
    std::optional<int> lastLevel_;
    QString remoteClients_;
    std::optional<ControllerFrame> played_;  // the frame last played while a session plays
    // Play's reader: a thread per file, ended before another starts; a result of one cancelled is dropped.
    std::thread loader_;
    std::atomic<bool> cancel_{false};
    std::uint64_t loadGeneration_ = 0;
    std::mutex loadedMutex_;
    std::optional<Loaded> loaded_;
    // The session handed to the link: its size and where its neutral messages stand.
    std::size_t playedCount_ = 0;
    std::vector<PlayedGap> gaps_;
    std::vector<std::size_t> fillersThrough_;  // neutral messages up to the end of gap i
    std::string playNote_;
    std::string endNote_;
};

// The live input that holds an item of the controller, if any: what stops a played session.
std::optional<PlayEnd> LivePress(const ControllerModel& model);

}  // namespace zanth
