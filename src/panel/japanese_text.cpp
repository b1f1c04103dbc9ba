#include "panel/japanese_text.h"

#include <QApplication>
#include <QFontDatabase>
#include <QStringList>
#include <algorithm>

namespace zanth {
namespace {

// The characters kept together at the end of a line: a short word and its full stop or colon.
constexpr int kJoined = 4;
constexpr QChar kWordJoiner(0x2060);

bool IsJapanese(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x3000 && u <= 0x30ff) || (u >= 0x4e00 && u <= 0x9fff) || (u >= 0xff00 && u <= 0xffef);
}

QString JoinEnd(const QString& line) {
    if (std::none_of(line.begin(), line.end(), IsJapanese)) return line;
    // Back from the end over kJoined characters, never across a space (a break there is wanted).
    qsizetype start = line.size();
    for (int n = 0; n < kJoined && start > 0 && !line[start - 1].isSpace(); ++n) {
        --start;
        if (start > 0 && line[start].isLowSurrogate()) --start;
    }
    QString out = line.left(start);
    for (qsizetype i = start; i < line.size(); ++i) {
        if (i > start && !line[i].isLowSurrogate()) out += kWordJoiner;
        out += line[i];
    }
    return out;
}

}  // namespace

QString KeepLineEndsTogether(const QString& text) {
    QStringList lines = text.split('\n');
    for (QString& line : lines) line = JoinEnd(line);
    return lines.join('\n');
}

QString UseJapaneseFont() {
    const QStringList installed = QFontDatabase::families(QFontDatabase::Japanese);
    QString family;
    // Proportional gothic faces first: the monospaced ones space Latin letters and digits widely.
    for (const char* preferred : {"Noto Sans CJK JP", "Noto Sans JP", "IPAPGothic", "IPAexGothic",
                                  "TakaoPGothic", "VL PGothic", "IPAGothic"})
        if (installed.contains(QString::fromLatin1(preferred))) {
            family = QString::fromLatin1(preferred);
            break;
        }
    for (qsizetype i = 0; family.isEmpty() && i < installed.size(); ++i)
        if (!QFontDatabase::isFixedPitch(installed[i])) family = installed[i];
    if (family.isEmpty() && !installed.isEmpty()) family = installed.front();
    if (family.isEmpty()) return {};
    QFont font = QApplication::font();
    font.setFamilies({family, font.family()});
    QApplication::setFont(font);
    return family;
}

}  // namespace zanth
