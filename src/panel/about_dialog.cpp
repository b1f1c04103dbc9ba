#include "panel/about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "base/app.h"
#include "panel/artwork.h"
#include "panel/dialog_units.h"

namespace zanth {

CAboutDlg::CAboutDlg(const CPadoraApp& app, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(app.Tr(Msg::kAboutTitle)));
    setFixedSize(DialogUnitsToPixels(0, 0, 259, 57).size());
    auto* icon = new QLabel(this);
    icon->setGeometry(DialogUnitsToPixels(11, 17, 20, 20));
    icon->setPixmap(AppIcon().pixmap(icon->size()));
    version_ = new QLabel(QString::fromUtf8(app.Tr(Msg::kAboutVersion)), this);
    version_->setTextFormat(Qt::PlainText);
    version_->setGeometry(DialogUnitsToPixels(40, 10, 119, 8));
    auto* second = new QLabel(QString::fromUtf8(app.Tr(Msg::kAboutLine)), this);
    second->setGeometry(DialogUnitsToPixels(40, 28, 172, 8));
    // Which settings file this run keeps: the start folder's or the one in ~/.config.
    const QString path = QString::fromStdString(app.configPath);
    settings_ = new QLabel(this);
    settings_->setGeometry(DialogUnitsToPixels(40, 42, 212, 8));
    settings_->setTextFormat(Qt::PlainText);
    settings_->setText(settings_->fontMetrics().elidedText(
        QString::fromUtf8(app.Tr(Msg::kAboutSettingsFile)).arg(path), Qt::ElideMiddle, settings_->width()));
    settings_->setToolTip(path);
    settings_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* ok = new QPushButton(QString::fromUtf8(app.Tr(Msg::kOk)), this);
    ok->setGeometry(DialogUnitsToPixels(202, 7, 50, 16));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace zanth
