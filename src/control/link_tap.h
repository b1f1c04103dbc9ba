#pragma once
#include <QObject>
#include <cstdint>
#include <optional>
#include <string>

#include "control/monitor_model.h"
#include "control/session_file.h"
#include "link/frame_decode.h"
#include "link/link_events.h"
#include "link/link_failure.h"

namespace zanth {

class CPadoraApp;
class LinkWorker;

// Listens to the wire: feeds the monitor, writes the recorded session, and plays a recorded one back
// through the link. Lives on the GUI thread beside the session, which asks it before every live frame.
class LinkTap : public QObject {
    Q_OBJECT
  public:
    LinkTap(const CPadoraApp& app, const ControllerModel& model, LinkWorker& link, QObject* parent = nullptr);
    ~LinkTap() override;

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
    bool recording() const { return recorder_.recording(); }

    // Reads `path` and hands its messages to the link. A file that cannot be played sends nothing and
    // gives the reason, in the active language.
    bool Play(const std::string& path, std::string* error);
    void StopPlaying();
    bool playing() const;
    // While a session plays: the items the picture draws pressed (bit i: ItemIndex i, the LED included), from
    // the frame last played; none before its first message and when nothing plays.
    std::optional<std::uint32_t> ShownItems() const;

    // Asked by the tick before it hands the live frame over: false while a played session has the wire. A
    // press on the live controller (`pressed`: a key, the mouse or the gamepad) ends the session first.
    bool LiveFrameGoesOut(bool pressed);

  private:
    void OnSent(const SentMessage& message);
    void OnReply(const ReplyRead& reply);

    const CPadoraApp& app_;
    LinkWorker& link_;
    FrameDecoder decoder_;
    MonitorModel monitor_;
    MonitorText text_;
    SessionRecorder recorder_;
    std::uint64_t messagesSeen_ = 0;
    std::optional<int> lastLevel_;
    std::optional<ControllerFrame> played_;  // the frame last played while a session plays
};

// Whether any live input holds an item of the controller: what stops a played session.
bool AnyItemPressed(const ControllerModel& model);

}  // namespace zanth
