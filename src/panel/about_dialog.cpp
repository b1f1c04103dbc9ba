#include "panel/about_dialog.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

#include "base/app_context.h"
#include "panel/artwork.h"
#include "panel/dialog_units.h"
#include "panel/plain_text.h"

namespace zanth {
namespace {

// A line of text at its place in the template, at least as tall as the font needs.
QLabel* Line(const QString& text, QWidget* parent, int x, int y, int w, int h) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    QRect r = DialogUnitsToPixels(x, y, w, h);
    r.setHeight(std::max(r.height(), label->fontMetrics().height()));
    label->setGeometry(r);
    return label;
}

}  // namespace

AboutDialog::AboutDialog(const AppContext& app, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(app.Tr(Msg::kAboutTitle)));
    QSize size = DialogUnitsToPixels(0, 0, 259, 57).size();
    auto* icon = Plain(new QLabel(this));
    icon->setGeometry(DialogUnitsToPixels(11, 17, 20, 20));
    icon->setPixmap(AppIcon().pixmap(icon->size()));
    version_ = Line(QString::fromUtf8(app.Tr(Msg::kAboutVersion)), this, 40, 10, 119, 8);
    Line(QString::fromUtf8(app.Tr(Msg::kAboutLine)), this, 40, 28, 172, 8);
    // Which settings file this run keeps: the start folder's or the one in ~/.config. The box widens to show
    // the path whole; one longer than the screen is shortened in the middle, so the file name stays in
    // sight, and is whole in the tool tip.
    const QString path = QString::fromStdString(app.configPath);
    const QString full = QString::fromUtf8(app.Tr(Msg::kAboutSettingsFile)).arg(path);
    settings_ = Line(QString(), this, 40, 42, 212, 8);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int widest = (screen ? screen->availableGeometry().width() : 800) - settings_->x() - 20;
    const int need = settings_->fontMetrics().horizontalAdvance(full) + 1;
    if (need > settings_->width()) {
        const int grow = std::min(need, std::max(widest, settings_->width())) - settings_->width();
        settings_->resize(settings_->width() + grow, settings_->height());
        size.rwidth() += grow;
    }
    settings_->setText(settings_->fontMetrics().elidedText(full, Qt::ElideMiddle, settings_->width()));
    settings_->setToolTip(PlainTip(path));
    settings_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* ok = new QPushButton(QString::fromUtf8(app.Tr(Msg::kOk)), this);
    const QRect okRect = DialogUnitsToPixels(202, 7, 50, 16);
    // The OK button keeps its distance from the right edge when the box widens.
    ok->setGeometry(okRect.translated(size.width() - DialogUnitsToPixels(0, 0, 259, 57).width(), 0));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    setFixedSize(size);
}

}  // namespace zanth
