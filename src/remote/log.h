#pragma once
#include <QLoggingCategory>
#include <QString>

// The remote-control server: start and stop, clients arriving and leaving, refusals with their reasons.
Q_DECLARE_LOGGING_CATEGORY(lcRemote)

namespace zanth {
// Text from a client made safe for a log line: control characters written as escapes (`\r`, `\x1b`).
QString Printable(const QString& text);
}  // namespace zanth
