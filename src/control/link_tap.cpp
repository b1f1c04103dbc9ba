#include "control/link_tap.h"

#include "base/app.h"
#include "control/log.h"
#include "input/apply.h"
#include "link/link_worker.h"

namespace zanth {
namespace {

// The stick items a stick byte shows pressed: deflected as far as the gamepad's dead zone lets a reading
// through, which the keys and the mouse (16 and 240) always are.
void StickItems(int value, int low, int high, std::uint32_t& shown) {
    if (value * 257 < kDeadZoneLow) shown |= 1u << low;
    if (value * 257 > kDeadZoneHigh) shown |= 1u << high;
}

std::string PlayError(const CPadoraApp& app, const SessionFileError& e) {
    using Kind = SessionFileError::Kind;
    std::string why;
    switch (e.kind) {
        case Kind::kNone:
            break;
        case Kind::kUnreadable:
            why = std::string(app.Tr(Msg::kSessionUnreadable)) + " (" + e.detail + ")";
            break;
        case Kind::kTooLarge:
            why = app.Tr(Msg::kSessionTooLarge);
            break;
        case Kind::kForeign:
            why = app.Tr(Msg::kSessionForeign);
            break;
        case Kind::kNewerFormat:
            why = app.Tr(Msg::kSessionNewer);
            break;
        case Kind::kDamaged:
            why = Format(app.Tr(Msg::kSessionDamaged), {std::to_string(e.line)}) + ": " + e.detail;
            break;
        case Kind::kTruncated:
            why = app.Tr(Msg::kSessionTruncated);
            break;
        case Kind::kEmpty:
            why = app.Tr(Msg::kSessionEmpty);
            break;
    }
    return why;
}

}  // namespace

bool AnyItemPressed(const ControllerModel& model) {
    for (int i = 0; i < kInputItemCount; ++i)
        if (model.item(i).IsPressed()) return true;
    return false;
}

LinkTap::LinkTap(const CPadoraApp& app, const ControllerModel& model, LinkWorker& link, QObject* parent)
    : QObject(parent), app_(app), link_(link), decoder_(model), text_(app, model) {
    connect(&link_, &LinkWorker::messageSent, this, &LinkTap::OnSent);
    connect(&link_, &LinkWorker::replyRead, this, &LinkTap::OnReply);
    connect(&link_, &LinkWorker::started, this, [this](const QString& device) {
        monitor_.OnStarted(device.toStdString());
        lastLevel_.reset();
    });
    connect(&link_, &LinkWorker::linkFailed, this, [this](const LinkFailure&) {
        monitor_.OnPortError(LinkClockUs());
        played_.reset();
    });
}

LinkTap::~LinkTap() {
    std::string ignored;
    StopRecording(&ignored);
}

void LinkTap::OnSent(const SentMessage& message) {
    ++messagesSeen_;
    monitor_.OnSent(message);
    recorder_.Add(message);
    if (message.playedIndex >= 0)
        std::copy(message.bytes.begin() + 1, message.bytes.end(), played_.emplace().begin());
}

void LinkTap::OnReply(const ReplyRead& reply) {
    monitor_.OnReply(reply);
    if (reply.status == ReplyRead::Status::kOk) lastLevel_ = reply.level;
}

bool LinkTap::StartRecording(const std::string& path, const SessionHeader& header, std::string* error) {
    std::string reason;
    if (recorder_.Begin(path, header, &reason)) {
        qCInfo(lcControl, "recording to %s", path.c_str());
        return true;
    }
    *error = std::string(app_.Tr(Msg::kRecordFailed)) + "\n" + path + ": " + reason;
    return false;
}

bool LinkTap::StopRecording(std::string* error) {
    if (!recorder_.recording()) return true;
    const int count = recorder_.count();
    std::string reason;
    if (recorder_.Finish(&reason)) {
        qCInfo(lcControl, "recording ended after %d messages", count);
        return true;
    }
    *error = std::string(app_.Tr(Msg::kRecordFailed)) + "\n" + reason;
    qCWarning(lcControl, "recording failed: %s", reason.c_str());
    return false;
}

bool LinkTap::Play(const std::string& path, std::string* error) {
    SessionFileError e;
    RecordedSession session = ReadSessionFile(path, &e);
    std::string why = PlayError(app_, e);
    if (why.empty() && !link_.IsRunning()) why = app_.Tr(Msg::kNotConnected);
    const std::size_t count = session.messages.size();
    if (why.empty() && link_.Play(std::move(session.messages))) {
        played_.reset();
        qCInfo(lcControl, "playing %s: %zu messages", path.c_str(), count);
        return true;
    }
    *error = std::string(app_.Tr(Msg::kPlayFailed)) + "\n" + path + "\n" + why;
    qCWarning(lcControl, "cannot play %s: %s", path.c_str(), why.c_str());
    return false;
}

void LinkTap::StopPlaying() {
    if (!link_.Playing()) return;
    link_.StopPlaying();
    played_.reset();
    qCInfo(lcControl, "playback stopped");
}

bool LinkTap::playing() const {
    return link_.Playing();
}

std::optional<std::uint32_t> LinkTap::ShownItems() const {
    if (!link_.Playing() || !played_) return std::nullopt;
    const DecodedFrame d = decoder_.Decode(*played_);
    std::uint32_t shown = d.held;
    StickItems(d.leftX, kItemStickLeft, kItemStickRight, shown);
    StickItems(d.leftY, kItemStickUp, kItemStickDown, shown);
    if (d.led) shown |= 1u << kItemLed;
    return shown;
}

bool LinkTap::LiveFrameGoesOut(bool pressed) {
    if (!link_.Playing()) return true;
    if (!pressed) return false;
    StopPlaying();
    return true;
}

}  // namespace zanth
