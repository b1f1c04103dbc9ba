#include "panel/qr_code.h"

#include <qrencode.h>

#include <QPainter>
#include <memory>

namespace zanth {

QImage QrImage(const QString& text, int modulePixels) {
    if (text.isEmpty() || modulePixels < 1) return {};
    const QByteArray utf8 = text.toUtf8();
    // Level M: a phone reads it off a screen at an angle; version 0 lets the library pick the smallest size.
    const std::unique_ptr<QRcode, void (*)(QRcode*)> code(
        QRcode_encodeString(utf8.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), QRcode_free);
    if (!code) return {};
    constexpr int kQuiet = 4;
    const int modules = code->width + 2 * kQuiet;
    QImage image(modules * modulePixels, modules * modulePixels, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    for (int y = 0; y < code->width; ++y)
        for (int x = 0; x < code->width; ++x)
            if (code->data[y * code->width + x] & 1)  // the low bit is the module's colour
                p.fillRect((x + kQuiet) * modulePixels, (y + kQuiet) * modulePixels, modulePixels,
                           modulePixels, Qt::black);
    return image;
}

}  // namespace zanth
