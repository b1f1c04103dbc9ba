#include "panel/link_note.h"

#include <QFontMetrics>

#include "base/reason_text.h"
#include "base/ui_text.h"
#include "panel/japanese_text.h"

namespace zanth {
namespace {

QString Why(const LinkFailure& f, int language) {
    auto tr = [language](Msg id) { return QString::fromUtf8(UiText(id, language)); };
    switch (f.kind) {
        case LinkFailure::Kind::kUnplugged:
            return tr(Msg::kPortUnplugged);
        case LinkFailure::Kind::kIoError:
            return tr(Msg::kPortIoError);
        case LinkFailure::Kind::kStalled:
            return tr(Msg::kPortStalled);
        case LinkFailure::Kind::kHungUp:
            return tr(Msg::kPortClosedByPeer);
        case LinkFailure::Kind::kGarbage:
            return tr(Msg::kPortGarbage);
        case LinkFailure::Kind::kOther:
            break;
    }
    return QString::fromStdString(ReasonText(f.detail, language));
}

}  // namespace

LinkNote ComposeLinkNote(const PanelState& s, int language, const QFontMetrics& metrics, int width) {
    auto tr = [language](Msg id) { return QString::fromUtf8(UiText(id, language)); };
    if (s.link == LinkState::kConnecting) return {tr(Msg::kConnecting), tr(Msg::kConnecting)};
    const bool lost = s.link == LinkState::kPortLost || s.link == LinkState::kReconnecting;
    if (!lost || !s.failure) {
        const QString note = s.meterStale ? tr(Msg::kNoReply) : QString();
        return {note, note};
    }
    // Each on a line of its own, the reason wrapped whole (no lone tail of a Japanese sentence).
    const QString head = tr(s.link == LinkState::kReconnecting ? Msg::kReconnecting : Msg::kPortLost) + "\n" +
                         KeepLineEndsTogether(Why(*s.failure, language));
    const QString device = QString::fromStdString(s.failure->device);
    if (device.isEmpty()) return {head, head};
    return {head + "\n" + metrics.elidedText(device, Qt::ElideLeft, width), head + "\n" + device};
}

}  // namespace zanth
