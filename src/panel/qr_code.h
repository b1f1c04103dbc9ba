#pragma once
#include <QImage>
#include <QString>

namespace zanth {

// `text` as a QR code, black on white with the four-module quiet zone readers need, each module
// `modulePixels` square. Null when the text is empty or too long for any QR code.
QImage QrImage(const QString& text, int modulePixels);

}  // namespace zanth
