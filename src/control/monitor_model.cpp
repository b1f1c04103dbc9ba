#include "control/monitor_model.h"

#include <time.h>

#include <chrono>
#include <cstdio>

#include "base/app_context.h"
#include "base/reason_text.h"
#include "control/session_file.h"
#include "link/wire.h"

namespace zanth {
namespace {

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    std::string out;
    out.reserve(count * 3);
    char two[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(two, sizeof two, i == 0 ? "%02X" : " %02X", bytes[i]);
        out += two;
    }
    return out;
}

// The reply as text, with what is not printable ASCII shown as a dot.
std::string Printable(const std::uint8_t* bytes, std::size_t count) {
    std::string out = "\"";
    for (std::size_t i = 0; i < count; ++i) out += bytes[i] >= 0x20 && bytes[i] < 0x7F ? char(bytes[i]) : '.';
    return out + "\"";
}

// The serial line as the link sets it up.
std::string LineSettings() {
    return std::to_string(kBaudRate) + " bps 8N1";
}

}  // namespace

std::string Format(const char* text, const std::vector<std::string>& args) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        const std::size_t n =
            p[0] == '%' && p[1] >= '1' && p[1] <= '9' ? std::size_t(p[1] - '1') : args.size();
        if (n < args.size()) {
            out += args[n];
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

// ---- MonitorModel

MonitorModel::MonitorModel() : rows_(kRowLimit) {}

void MonitorModel::OnStarted(const std::string& device) {
    if (lostSinceStart_)
        ++counters_.reconnects;
    else
        counters_ = Counters{};
    lostSinceStart_ = false;
    device_ = device;
}

void MonitorModel::OnSent(const SentMessage& message, bool gapFiller) {
    ++counters_.messages;
    sends_[sendCount_++ % sends_.size()] = message.sentAtUs;
    Row row;
    row.kind = Row::Kind::kSent;
    row.sent = message;
    row.gapFiller = gapFiller;
    Push(row);
}

void MonitorModel::OnReply(const ReplyRead& reply) {
    using Status = ReplyRead::Status;
    const bool ok = reply.status == Status::kOk;
    if (ok) ++counters_.replies;
    if (reply.status == Status::kGarbage) ++counters_.bad;
    if (reply.status == Status::kNone || reply.status == Status::kLate) ++counters_.missed;
    Remember({reply.atUs, ok, reply.level});
    Row row;
    row.kind = Row::Kind::kReply;
    row.reply = reply;
    Push(row);
}

void MonitorModel::OnPortError(std::int64_t atUs) {
    ++counters_.portErrors;
    lostSinceStart_ = true;
    Remember({atUs, false, 0});
}

void MonitorModel::OnRemote(const std::string& note, std::int64_t atUs) {
    Row row;
    row.kind = Row::Kind::kRemote;
    row.note = note;
    row.noteAtUs = atUs;
    Push(row);
}

void MonitorModel::OnDrive(const std::string& label, const std::string& note, std::int64_t atUs) {
    Row row;
    row.kind = Row::Kind::kDrive;
    row.label = label;
    row.note = note;
    row.noteAtUs = atUs;
    Push(row);
}

void MonitorModel::OnPortEvent(const PortEvent& event) {
    Row row;
    row.kind = Row::Kind::kPort;
    row.port = event;
    Push(row);
}

void MonitorModel::Push(const Row& row) {
    if (paused_) return;
    rows_[next_] = row;
    next_ = (next_ + 1) % kRowLimit;
    if (count_ < kRowLimit) ++count_;
    ++added_;
}

void MonitorModel::Remember(const Entry& entry) {
    history_.push_back(entry);
    while (!history_.empty() && history_.front().atUs < entry.atUs - kHistoryUs) history_.pop_front();
    ++historyVersion_;
}

void MonitorModel::Clear() {
    count_ = 0;
    next_ = 0;
}

const MonitorModel::Row& MonitorModel::row(std::size_t newestFirst) const {
    return rows_[(next_ + kRowLimit - 1 - newestFirst % kRowLimit) % kRowLimit];
}

double MonitorModel::MessageRate(std::int64_t nowUs) const {
    const std::size_t n = std::min(sendCount_, sends_.size());
    if (n < 2) return 0;
    const std::int64_t last = sends_[(sendCount_ - 1) % sends_.size()];
    const std::int64_t first = sends_[(sendCount_ - n) % sends_.size()];
    if (nowUs - last > 2000000 || last <= first) return 0;
    return static_cast<double>(n - 1) * 1e6 / static_cast<double>(last - first);
}

MonitorModel::Plot MonitorModel::PlotAt(std::int64_t nowUs) const {
    Plot plot;
    plot.toUs = nowUs;
    plot.fromUs = nowUs - kHistoryUs;
    bool inRun = false;         // the last entry was a reply that continues the run
    std::int64_t gapFrom = -1;  // a gap is open since then
    for (const Entry& e : history_) {
        if (e.atUs < plot.fromUs) continue;
        if (!e.ok) {
            if (inRun) gapFrom = plot.runs.back().back().atUs;
            if (gapFrom < 0) gapFrom = e.atUs;
            inRun = false;
            continue;
        }
        if (inRun && e.atUs - plot.runs.back().back().atUs <= kGapUs) {
            plot.runs.back().push_back({e.atUs, e.level});
            continue;
        }
        if (inRun) gapFrom = plot.runs.back().back().atUs;
        if (gapFrom >= 0) plot.gaps.emplace_back(gapFrom, e.atUs);
        gapFrom = -1;
        plot.runs.push_back({{e.atUs, e.level}});
        inRun = true;
    }
    // Still open: the replies stopped, or never resumed.
    if (inRun && nowUs - plot.runs.back().back().atUs > kGapUs) gapFrom = plot.runs.back().back().atUs;
    if (gapFrom >= 0 && gapFrom < nowUs) plot.gaps.emplace_back(gapFrom, nowUs);
    return plot;
}

// ---- MonitorText

MonitorText::MonitorText(const AppContext& app, const ControllerModel& model) : app_(app), decoder_(model) {
    using namespace std::chrono;
    wallMinusLinkUs_ =
        duration_cast<microseconds>(system_clock::now().time_since_epoch()).count() - LinkClockUs();
}

std::string MonitorText::Time(std::int64_t linkUs) const {
    const std::int64_t wall = linkUs + wallMinusLinkUs_;
    const time_t seconds = static_cast<time_t>(wall / 1000000);
    tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(wall % 1000000 / 1000));
    return text;
}

MonitorText::Fields MonitorText::Of(const MonitorModel::Row& row) const {
    using Kind = MonitorModel::Row::Kind;
    Fields f;
    switch (row.kind) {
        case Kind::kSent:
            f = OfSent(row.sent, row.gapFiller);
            break;
        case Kind::kReply:
            f = OfReply(row.reply);
            break;
        case Kind::kRemote:
            f[1] = app_.Tr(Msg::kMonitorRemote);
            f[6] = row.note;
            break;
        case Kind::kDrive:
            f[1] = row.label;
            f[6] = row.note;
            break;
        case Kind::kPort:
            f = OfPort(row.port);
            break;
    }
    f[0] = Time(row.atUs());
    return f;
}

MonitorText::Fields MonitorText::OfSent(const SentMessage& sent, bool gapFiller) const {
    Fields f;
    const WireMessage& m = sent.bytes;
    f[1] = std::string(1, static_cast<char>(m[0]));
    f[2] = Hex(m.data() + 1, m.size() - 1);
    ControllerFrame frame;
    std::copy(m.begin() + 1, m.end(), frame.begin());
    const DecodedFrame d = decoder_.Decode(frame);
    f[3] = decoder_.HeldNames(d.held);
    char sticks[64];
    std::snprintf(sticks, sizeof sticks, "RX %d RY %d LX %d LY %d", d.rightX, d.rightY, d.leftX, d.leftY);
    f[4] = sticks;
    f[5] = app_.Tr(d.led ? Msg::kMonitorLedOn : Msg::kMonitorLedOff);
    if (!d.startByteOk)
        f[6] = app_.Tr(Msg::kMonitorBadStart);
    else if (gapFiller)
        f[6] = app_.Tr(Msg::kMonitorGapNeutral);
    else if (sent.playedIndex >= 0)
        f[6] = Format(app_.Tr(Msg::kMonitorPlayed), {std::to_string(sent.playedIndex + 1)});
    return f;
}

MonitorText::Fields MonitorText::OfReply(const ReplyRead& reply) const {
    using Status = ReplyRead::Status;
    Fields f;
    const auto n = static_cast<std::size_t>(reply.count);
    f[1] = app_.Tr(Msg::kMonitorReply);
    f[2] = Hex(reply.bytes.data(), n);
    if (n > 0) f[3] = Printable(reply.bytes.data(), n);
    if (reply.status == Status::kOk) f[5] = std::to_string(reply.level);
    const Msg status = reply.status == Status::kOk        ? Msg::kMonitorReplyOk
                       : reply.status == Status::kGarbage ? Msg::kMonitorReplyGarbage
                       : reply.status == Status::kLate    ? Msg::kMonitorReplyLate
                                                          : Msg::kMonitorReplyNone;
    f[6] = app_.Tr(status);
    return f;
}

MonitorText::Fields MonitorText::OfPort(const MonitorModel::PortEvent& event) const {
    using What = MonitorModel::PortEvent::What;
    Fields f;
    f[1] = app_.Tr(Msg::kMonitorPort);
    f[2] = event.device;
    f[3] = ReasonText(event.reason, app_.language);
    f[6] = event.what == What::kLost ? app_.Tr(Msg::kMonitorPortLost)
           : event.what == What::kBack
               ? app_.Tr(Msg::kMonitorPortBack)
               : Format(app_.Tr(Msg::kMonitorPortTry), {std::to_string(event.attempt)});
    return f;
}

std::string MonitorText::Lines(const MonitorModel& model) const {
    std::string out;
    for (std::size_t i = model.rowCount(); i-- > 0;) {
        const Fields f = Of(model.row(i));
        for (int c = 0; c < kColumns; ++c) {
            out += f[static_cast<std::size_t>(c)];
            out += c + 1 < kColumns ? '\t' : '\n';
        }
    }
    return out;
}

std::string MonitorText::Heading(int column) const {
    static constexpr Msg kHeadings[kColumns] = {Msg::kMonitorColumnTime,   Msg::kMonitorColumnKind,
                                                Msg::kMonitorColumnBytes,  Msg::kMonitorColumnDecoded,
                                                Msg::kMonitorColumnSticks, Msg::kMonitorColumnLevel,
                                                Msg::kMonitorColumnNote};
    return app_.Tr(kHeadings[column]);
}

std::string MonitorText::Counters(const MonitorModel& model, std::int64_t nowUs) const {
    const MonitorModel::Counters& c = model.counters();
    auto n = [](std::uint64_t v) { return std::to_string(v); };
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.1f", model.MessageRate(nowUs));
    return Format(app_.Tr(Msg::kMonitorCounters), {n(c.messages), n(c.replies), n(c.missed), n(c.bad),
                                                   n(c.portErrors), n(c.reconnects), rate});
}

std::string MonitorText::Device(const MonitorModel& model, const std::string& pad) const {
    return Format(app_.Tr(Msg::kMonitorDevice),
                  {model.device().empty() ? "-" : model.device(), LineSettings(), pad.empty() ? "-" : pad});
}

SaveResult MonitorText::Save(const MonitorModel& model, const std::string& path) const {
    const std::int64_t now = LinkClockUs();
    const time_t seconds = static_cast<time_t>((now + wallMinusLinkUs_) / 1000000);
    tm local{};
    localtime_r(&seconds, &local);
    char date[64];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S %z", &local);
    const std::string port = model.port().empty() ? "-" : model.port();
    const std::string device = model.device().empty() ? "-" : model.device();
    std::vector<std::string> header = {
        ProgramVersion(), Format(app_.Tr(Msg::kMonitorLogPort), {port, device, LineSettings()}),
        Format(app_.Tr(Msg::kMonitorLogSaved), {date}), Counters(model, now), ""};
    std::string out;
    for (const std::string& line : header) out.append(line).append(1, '\n');
    for (int c = 0; c < kColumns; ++c) out.append(Heading(c)).append(1, c + 1 < kColumns ? '\t' : '\n');
    return WriteFileAtomically(path, out.append(Lines(model)));
}

}  // namespace zanth
