#pragma once
#include <QString>

#include "control/session.h"

class QFontMetrics;
class QLabel;

namespace zanth {

// The note beside the battery meter: what the link is doing, why, then the device, a line each. The reason
// comes before the device, so that it stays in sight however long the device's name; the device, on the
// last line, is cut at its start to `width` (by-id names differ in their serial number and interface, at the
// end). `tip` holds the whole note.
struct LinkNote {
    QString text;
    QString tip;
};
LinkNote ComposeLinkNote(const PanelState& state, Language language, const QFontMetrics& metrics, int width);

// Right of the battery meter the panel is plain for three lines of text; below them the controller's body
// begins, and a further line would be drawn over it. The link note and the played session's note take
// that room, as wide as the window allows, so that their texts need no more lines.
inline constexpr int kNoteLines = 3;
void PlaceNote(QLabel* note, const QWidget* meter);

}  // namespace zanth
