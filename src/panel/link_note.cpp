#include "panel/link_note.h"

#include <QFontMetrics>
#include <QLabel>

#include "base/reason_text.h"
#include "base/ui_text.h"
#include "panel/japanese_text.h"

namespace zanth {
namespace {

QString Why(const LinkFailure& f, Language language) {
    auto tr = [language](Msg id) { return QString::fromUtf8(UiText(id, language)); };
    switch (f.kind) {
        case LinkFailure::Kind::kUnplugged:
            return tr(Msg::kPortUnplugged);
        case LinkFailure::Kind::kIoError:
            return tr(Msg::kPortIoError);
        case LinkFailure::Kind::kStalled:
            return tr(Msg::kPortStalled);
        case LinkFailure::Kind::kHungUp: {
            // What a bridge said before it closed names the fault behind it (its serial device missing).
            const std::string_view words = BridgeWords(f);
            if (words.empty()) return tr(Msg::kPortClosedByPeer);
            return tr(Msg::kPortClosedByPeer) + ": " + QString::fromUtf8(words.data(), words.size());
        }
        case LinkFailure::Kind::kGarbage:
            return tr(Msg::kPortGarbage);
        case LinkFailure::Kind::kOther:
            break;
    }
    return QString::fromStdString(ReasonText(f.detail, language));
}

}  // namespace

LinkNote ComposeLinkNote(const PanelState& s, Language language, const QFontMetrics& metrics, int width) {
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
    const QString text = head + "\n" + metrics.elidedText(device, Qt::ElideLeft, width);
    // A long reason (a bridge's own words) keeps the room; the device stays in the tip.
    const int lines = metrics.boundingRect(QRect(0, 0, width, 1 << 16), Qt::TextWordWrap, text).height() /
                      metrics.lineSpacing();
    return {lines > kNoteLines ? head : text, head + "\n" + device};
}

void PlaceNote(QLabel* note, const QWidget* meter) {
    const int x = meter->geometry().right() + 6;
    const int width = note->parentWidget()->width() - x - 6;
    note->setWordWrap(true);
    note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // As high as the label itself lays out kNoteLines lines of what the notes hold: Latin and Japanese
    // letters, the ellipsis of a cut device and the word joiner that keeps a Japanese line end together.
    note->setText(QString::fromUtf8("Ag\u6f22\u2026\u2060\u3044\n").repeated(kNoteLines).chopped(1));
    note->setGeometry(x, meter->y(), width, note->heightForWidth(width));
    note->clear();
}

}  // namespace zanth
