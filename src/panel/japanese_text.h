#pragma once
#include <QString>

namespace zanth {

// Japanese breaks between any two characters, so a wrapped sentence may leave its last one or two on a line
// of their own ("い。", "す:"). This joins the last characters of every line of `text` that holds Japanese
// with word joiners (U+2060, drawn as nothing), so that they move to the next line together; lines without
// Japanese are left as they are.
QString KeepLineEndsTogether(const QString& text);

// Makes a Japanese font the first choice of the application's font, with the font it had as the next one,
// so that digits and Latin letters in Japanese text are drawn in the same font as the kana around them rather
// than in the Western font. Answers the family chosen; empty (and nothing changed) when no Japanese font is
// installed.
QString UseJapaneseFont();

}  // namespace zanth
