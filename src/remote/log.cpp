#include "remote/log.h"

Q_LOGGING_CATEGORY(lcRemote, "zanth.remote", QtInfoMsg)

namespace zanth {

QString Printable(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\\') {
            out += QStringLiteral("\\\\");
        } else if (u == '\r' || u == '\n' || u == '\t') {
            out += u == '\r'   ? QStringLiteral("\\r")
                   : u == '\n' ? QStringLiteral("\\n")
                               : QStringLiteral("\\t");
        } else if (u < 0x20 || (u >= 0x7f && u < 0xa0) || u == 0x2028 || u == 0x2029) {
            out += QStringLiteral("\\x%1").arg(static_cast<unsigned>(u), 2, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace zanth
