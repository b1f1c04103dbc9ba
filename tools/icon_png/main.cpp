// Renders the SVG application icon as PNG files of the sizes given, in the layout of the hicolor icon theme:
//   zanth-icon-png ICON.svg OUT-FOLDER NAME SIZE...  ->  OUT-FOLDER/SIZExSIZE/apps/NAME.png
// Used by the build for the installed icons, so they never drift from the SVG.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s ICON.svg OUT-FOLDER NAME SIZE...\n", argv[0]);
        return 2;
    }
    // The icon's labels need fonts, so a QGuiApplication; it must not need a display at build time.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
        return 1;
    }
    const QDir out(QString::fromLocal8Bit(argv[2]));
    const QString name = QString::fromLocal8Bit(argv[3]);
    for (int i = 4; i < argc; ++i) {
        const int side = std::atoi(argv[i]);
        if (side <= 0 || side > 1024) {
            std::fprintf(stderr, "%s: bad size %s\n", argv[0], argv[i]);
            return 2;
        }
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                               QPainter::SmoothPixmapTransform);
        renderer.render(&painter, QRectF(0, 0, side, side));
        painter.end();
        const QString folder = QStringLiteral("%1x%1/apps").arg(side);
        const QString file = out.filePath(folder + "/" + name + ".png");
        if (!out.mkpath(folder) || !image.save(file, "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(file));
            return 1;
        }
    }
    return 0;
}
