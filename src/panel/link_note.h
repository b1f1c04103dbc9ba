#pragma once
#include <QString>

#include "control/session.h"

class QFontMetrics;

namespace zanth {

// The note beside the battery meter: what the link is doing, why, then the device, a line each. The reason
// comes before the device, so that it stays in sight however long the device's name; the device, on the
// last line, is cut at its start to `width` (by-id names differ in their serial number and interface, at the
// end). `tip` holds the whole note.
struct LinkNote {
    QString text;
    QString tip;
};
LinkNote ComposeLinkNote(const PanelState& state, int language, const QFontMetrics& metrics, int width);

}  // namespace zanth
