#include "panel/artwork.h"

#include <QFile>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>
#include <QtMath>
#include <mutex>

// The pictures are compiled into the remote library, which serves them too, as the resource "artwork"
// (res/artwork.qrc). A static library's resources are only registered when someone asks for them, and
// Q_INIT_RESOURCE must be used outside any namespace.
static void RegisterArtworkResources() {
    static std::once_flag once;
    std::call_once(once, [] { Q_INIT_RESOURCE(artwork); });
}

namespace zanth {
namespace {

QString ArtworkPath(int id) {
    if (id == kAppIconArtId) return QStringLiteral(":/art/icon.svg");
    if (id < kBackgroundArtId || id > 177) return {};
    return QStringLiteral(":/art/%1.svg").arg(id);
}

}  // namespace

QSize ArtworkSize(int id) {
    RegisterArtworkResources();
    const QString path = ArtworkPath(id);
    if (path.isEmpty() || !QFile::exists(path)) return {};
    QSvgRenderer renderer(path);
    return renderer.isValid() ? renderer.defaultSize() : QSize();
}

QPixmap RenderArtwork(int id, qreal devicePixelRatio) {
    RegisterArtworkResources();
    const QString path = ArtworkPath(id);
    if (path.isEmpty() || !QFile::exists(path)) return {};
    QSvgRenderer renderer(path);
    if (!renderer.isValid()) return {};
    const QSize logical = renderer.defaultSize();
    const qreal dpr = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    QPixmap pixmap(qCeil(logical.width() * dpr), qCeil(logical.height() * dpr));
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
    // The painter works in logical units; the pixmap's ratio maps them to its pixels.
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(logical)));
    painter.end();
    return pixmap;
}

QIcon AppIcon() {
    RegisterArtworkResources();
    QSvgRenderer renderer(ArtworkPath(kAppIconArtId));
    QIcon icon;
    if (!renderer.isValid()) return icon;
    for (int side : {16, 32, 48, 128}) {  // enough for title bars, task bars and the About box
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
        renderer.render(&painter, QRectF(0, 0, side, side));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace zanth
