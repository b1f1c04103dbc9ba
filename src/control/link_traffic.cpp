#include "control/link_traffic.h"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>

#include "base/app_context.h"
#include "control/log.h"
#include "input/apply.h"
#include "link/link_worker.h"

namespace zanth {
namespace {

// A played session at least this large is given back to the system when it ends: its blocks would
// otherwise stay with the process.
constexpr std::size_t kTrimAboveBytes = 1u << 20;

std::string Seconds(std::int64_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(us) / 1e6);
    return text;
}

// The stick items a stick byte shows pressed: deflected as far as the gamepad's dead zone lets a reading
// through, which the keys and the mouse (16 and 240) always are.
void StickItems(int value, int low, int high, std::uint32_t& shown) {
    if (value * 257 < kDeadZoneLow) shown |= 1u << low;
    if (value * 257 > kDeadZoneHigh) shown |= 1u << high;
}

std::string PlayError(const AppContext& app, const SessionFileError& e) {
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

std::optional<PlayEnd> LivePress(const ControllerModel& model) {
    for (int i = 0; i < kInputItemCount; ++i) {
        const ControllerItem& item = model.item(i);
        if (item.keyDown != 0) return PlayEnd::kKey;
        if (item.mouseDown != 0) return PlayEnd::kMouse;
        if (item.padDown != 0) return PlayEnd::kGamepad;
        if (item.remoteDown != 0) return PlayEnd::kRemote;
    }
    return std::nullopt;
}

LinkTraffic::LinkTraffic(const AppContext& app, const ControllerModel& model, LinkWorker& link,
                         QObject* parent)
    : QObject(parent), app_(app), link_(link), decoder_(model), text_(app, model) {
    connect(&link_, &LinkWorker::messageSent, this, &LinkTraffic::OnSent);
    connect(&link_, &LinkWorker::replyRead, this, &LinkTraffic::OnReply);
    connect(&link_, &LinkWorker::started, this, [this](const QString& device) {
        monitor_.OnStarted(device.toStdString());
        lastLevel_.reset();
    });
    connect(&link_, &LinkWorker::linkFailed, this, [this](const LinkFailure&) {
        monitor_.OnPortError(LinkClockUs());
        NotePortLost();
        played_.reset();
        // The session stops with the link that played it.
        if (playedCount_ > 0) Ended(PlayEnd::kPortLost);
    });
}

LinkTraffic::~LinkTraffic() {
    CancelLoading();
    std::string ignored;
    StopRecording(&ignored);
}

void LinkTraffic::NoteRemote(const RemoteEvent& event) {
    const std::string who = event.name.isEmpty()
                                ? event.address.toStdString()
                                : (event.name + QStringLiteral(" (") + event.address + ')').toStdString();
    std::string note;
    switch (event.kind) {
        case RemoteEvent::Kind::kArrived:
            note = Format(app_.Tr(Msg::kMonitorRemoteArrived), {who});
            break;
        case RemoteEvent::Kind::kLeft:
            note = Format(app_.Tr(Msg::kMonitorRemoteLeft), {who});
            break;
        case RemoteEvent::Kind::kRefused:
            note = Format(app_.Tr(Msg::kMonitorRemoteRefused),
                          {who, RemoteRefusalText(event.refusal, app_.language)});
            break;
    }
    monitor_.OnRemote(note, LinkClockUs());
}

void LinkTraffic::NoteDrive(DriveNote what, const std::string& who) {
    // The recording tells what the drive team did too, beside the neutral frames that went out.
    constexpr SessionRecorder::Hold kHolds[] = {SessionRecorder::Hold::kStop, SessionRecorder::Hold::kRelease,
                                                SessionRecorder::Hold::kEnable,
                                                SessionRecorder::Hold::kDisable};
    recorder_.MarkHold(LinkClockUs(), kHolds[static_cast<int>(what)]);
    switch (what) {
        case DriveNote::kStopped:
            monitor_.OnDrive(app_.Tr(Msg::kStop), Format(app_.Tr(Msg::kMonitorStopped), {who}),
                             LinkClockUs());
            break;
        case DriveNote::kReleased:
            monitor_.OnDrive(app_.Tr(Msg::kStop), app_.Tr(Msg::kMonitorStopReleased), LinkClockUs());
            break;
        case DriveNote::kEnabled:
        case DriveNote::kDisabled: {
            const std::string text =
                app_.Tr(what == DriveNote::kEnabled ? Msg::kMonitorEnabled : Msg::kMonitorDisabled);
            monitor_.OnDrive(text, text, LinkClockUs());
            break;
        }
    }
}

void LinkTraffic::NoteMatch(const std::string& summary) {
    monitor_.OnDrive(app_.Tr(Msg::kMatchTitle), summary, LinkClockUs());
}

void LinkTraffic::SetRemoteClients(const QList<RemoteClientView>& clients) {
    QStringList each;
    for (const RemoteClientView& c : clients)
        each.append(QString::fromStdString(Format(
            app_.Tr(Msg::kMonitorRemoteClient),
            {c.name.toStdString(), c.address.toStdString(),
             c.since.toString(QStringLiteral("HH:mm:ss")).toStdString(), std::to_string(c.messages)})));
    remoteClients_ = each.isEmpty()
                         ? QString()
                         : QString::fromStdString(Format(app_.Tr(Msg::kMonitorRemoteClients),
                                                         {each.join(QStringLiteral(", ")).toStdString()}));
}

void LinkTraffic::NotePortLost() {
    recorder_.MarkLost(LinkClockUs());
}

void LinkTraffic::OnSent(const SentMessage& message) {
    ++messagesSeen_;
    // The monitor numbers played messages as the recording does, and names the neutral ones of a pause.
    SentMessage shown = message;
    bool filler = false;
    if (message.playedIndex >= 0 && !gaps_.empty()) {
        const auto index = static_cast<std::size_t>(message.playedIndex);
        const auto after =
            std::upper_bound(gaps_.begin(), gaps_.end(), index,
                             [](std::size_t i, const PlayedGap& g) { return i < g.firstFiller; });
        if (after != gaps_.begin()) {
            const auto g = static_cast<std::size_t>(after - gaps_.begin()) - 1;
            filler = index < gaps_[g].firstFiller + gaps_[g].fillers;
            const std::size_t through = fillersThrough_[g];
            shown.playedIndex = static_cast<int>(
                filler ? gaps_[g].firstFiller - 1 - (through - gaps_[g].fillers) : index - through);
        }
    }
    monitor_.OnSent(shown, filler);
    recorder_.Add(message);
    if (message.playedIndex >= 0 && static_cast<std::size_t>(message.playedIndex) + 1 == playedCount_)
        Ended(PlayEnd::kFinished);  // the link has let go of it
    if (message.playedIndex >= 0)
        std::copy(message.bytes.begin() + 1, message.bytes.end(), played_.emplace().begin());
}

void LinkTraffic::OnReply(const ReplyRead& reply) {
    monitor_.OnReply(reply);
    if (reply.status == ReplyRead::Status::kOk) lastLevel_ = reply.level;
}

bool LinkTraffic::StartRecording(const std::string& path, const SessionHeader& header, std::string* error) {
    endNote_.clear();
    std::string reason;
    if (recorder_.Begin(path, header, &reason)) {
        qCInfo(lcControl, "recording to %s", path.c_str());
        return true;
    }
    *error = std::string(app_.Tr(Msg::kRecordFailed)) + "\n" + path + ": " + reason;
    return false;
}

bool LinkTraffic::StopRecording(std::string* error) {
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

void LinkTraffic::EndWithLink() {
    monitor_.OnStopped();
    if (playedCount_ > 0) Ended(PlayEnd::kDisconnected);
    std::string error;
    if (!StopRecording(&error)) emit recordingFailed(QString::fromStdString(error));
}

void LinkTraffic::Play(const std::string& path) {
    CancelLoading();
    endNote_.clear();
    cancel_ = false;
    const std::uint64_t generation = ++loadGeneration_;
    // A recording near the size limit takes tens of milliseconds or more to read and check: not on the GUI
    // thread, which would stall the tick.
    loader_ = std::thread([this, path, generation] {
        SessionFileError fault;
        auto played =
            std::make_shared<PlayedSession>(PrepareForPlaying(ReadSessionFile(path, &fault, &cancel_)));
        {
            std::lock_guard lock(loadedMutex_);
            loaded_ = Loaded{path, fault, played, generation};
        }
        QMetaObject::invokeMethod(this, "TakeLoaded", Qt::QueuedConnection);
    });
}

void LinkTraffic::TakeLoaded() {
    std::optional<Loaded> loaded;
    {
        std::lock_guard lock(loadedMutex_);
        loaded = std::exchange(loaded_, std::nullopt);
    }
    if (!loaded || loaded->generation != loadGeneration_) return;  // cancelled, or replaced by another Play
    loader_.join();
    OnLoaded(loaded->path, loaded->fault, std::move(*loaded->played));
}

void LinkTraffic::OnLoaded(const std::string& path, const SessionFileError& fault, PlayedSession played) {
    std::string why = PlayError(app_, fault);
    if (why.empty() && !link_.IsRunning()) why = app_.Tr(Msg::kNotConnected);
    const std::size_t count = played.messages.size();
    if (why.empty()) {
        std::vector<PlayedGap> gaps = std::move(played.gaps);
        if (link_.Play(std::move(played.messages))) {
            ReleasePlayed();  // the session this one replaced
            played_.reset();
            playedCount_ = count;
            gaps_ = std::move(gaps);
            fillersThrough_.clear();
            for (const PlayedGap& g : gaps_)
                fillersThrough_.push_back(g.fillers + (fillersThrough_.empty() ? 0 : fillersThrough_.back()));
            playNote_ = GapNote();
            if (!played.complete) {
                const std::string cut =
                    Format(app_.Tr(Msg::kPlaybackCutShort),
                           {std::to_string(count - (fillersThrough_.empty() ? 0 : fillersThrough_.back()))});
                playNote_ = playNote_.empty() ? cut : cut + "\n" + playNote_;
            }
            qCInfo(lcControl, "playing %s: %zu messages%s%s", path.c_str(), count,
                   playNote_.empty() ? "" : "; ", playNote_.c_str());
            emit playOutcome({});
            return;
        }
    }
    const std::string error = std::string(app_.Tr(Msg::kPlayFailed)) + "\n" + path + "\n" + why;
    qCWarning(lcControl, "cannot play %s: %s", path.c_str(), why.c_str());
    emit playOutcome(QString::fromStdString(error));
}

void LinkTraffic::CancelLoading() {
    if (!loader_.joinable()) return;
    cancel_ = true;
    loader_.join();
    ++loadGeneration_;
}

// What the pauses of the session handed to the link play as.
std::string LinkTraffic::GapNote() const {
    if (gaps_.empty()) return {};
    const auto longest =
        std::max_element(gaps_.begin(), gaps_.end(),
                         [](const PlayedGap& a, const PlayedGap& b) { return a.recordedUs < b.recordedUs; });
    std::string note = gaps_.size() == 1
                           ? Format(app_.Tr(Msg::kPlaybackGapOne), {Seconds(longest->recordedUs)})
                           : Format(app_.Tr(Msg::kPlaybackGaps),
                                    {std::to_string(gaps_.size()), Seconds(longest->recordedUs)});
    if (longest->playedUs < longest->recordedUs)
        note += Format(app_.Tr(Msg::kPlaybackShortened), {Seconds(kPlayedGapUs)});
    return note;
}

std::string LinkTraffic::PlaybackNote() const {
    return link_.Playing() ? playNote_ : endNote_;
}

void LinkTraffic::Ended(PlayEnd why) {
    Msg by = Msg::kCount;
    switch (why) {
        case PlayEnd::kFinished:
            break;
        case PlayEnd::kKey:
            by = Msg::kPlayEndKey;
            break;
        case PlayEnd::kMouse:
            by = Msg::kPlayEndMouse;
            break;
        case PlayEnd::kGamepad:
            by = Msg::kPlayEndGamepad;
            break;
        case PlayEnd::kRemote:
            by = Msg::kPlayEndRemote;
            break;
        case PlayEnd::kEscape:
            by = Msg::kPlayEndEscape;
            break;
        case PlayEnd::kStop:
            by = Msg::kPlayEndStop;
            break;
        case PlayEnd::kPortLost:
            by = Msg::kPlayEndPortLost;
            break;
        case PlayEnd::kDisconnected:
            by = Msg::kPlayEndDisconnect;
            break;
    }
    // In the window's language; the log says it in English, as it says everything.
    const auto say = [by](Language language) {
        return by == Msg::kCount ? std::string(UiText(Msg::kPlaybackFinished, language))
                                 : Format(UiText(Msg::kPlaybackStopped, language), {UiText(by, language)});
    };
    endNote_ = say(app_.language);
    played_.reset();
    ReleasePlayed();
    qCInfo(lcControl, "playback ended: %s", say(Language::kEnglish).c_str());
}

// Once the link has let go of the session handed to it: a large one is given back to the system. (Its gaps
// stay until the next Play, for the rows of messages still on their way.)
void LinkTraffic::ReleasePlayed() {
    const bool large = playedCount_ * sizeof(TimedMessage) >= kTrimAboveBytes;
    playedCount_ = 0;
#ifdef __GLIBC__
    if (large) malloc_trim(0);
#else
    (void)large;
#endif
}

void LinkTraffic::StopPlaying(PlayEnd why) {
    CancelLoading();
    if (!link_.Playing()) return;
    link_.StopPlaying();
    Ended(why);
}

bool LinkTraffic::playing() const {
    return link_.Playing();
}

std::optional<std::uint32_t> LinkTraffic::ShownItems() const {
    if (!link_.Playing() || !played_) return std::nullopt;
    const DecodedFrame d = decoder_.Decode(*played_);
    std::uint32_t shown = d.held;
    StickItems(d.leftX, kItemStickLeft, kItemStickRight, shown);
    StickItems(d.leftY, kItemStickUp, kItemStickDown, shown);
    if (d.led) shown |= 1u << kItemLed;
    return shown;
}

bool LinkTraffic::LiveFrameGoesOut(std::optional<PlayEnd> pressed) {
    if (!link_.Playing()) {
        if (pressed) CancelLoading();
        return true;
    }
    if (!pressed) return false;
    StopPlaying(*pressed);
    return true;
}

}  // namespace zanth
