#include "panel/about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "base/app.h"
#include "panel/artwork.h"
#include "panel/dialog_units.h"

namespace zanth {

CAboutDlg::CAboutDlg(const CPadoraApp& app, QWidget* parent) : QDialog(parent) {
    const bool ja = app.japanese();
    setWindowTitle(ja ? QString::fromUtf8("バージョン情報 Zanthエミュレータ")
                      : QStringLiteral("About Zanth-Emulator"));
    setFixedSize(DialogUnitsToPixels(0, 0, 259, 57).size());
    auto* icon = new QLabel(this);
    icon->setGeometry(DialogUnitsToPixels(11, 17, 20, 20));
    icon->setPixmap(AppIcon().pixmap(icon->size()));
    version_ = new QLabel(ja ? QString::fromUtf8("Zanthエミュレータ Version 1.0.0.2")
                             : QStringLiteral("Zanth-Emulator Version 1.0.0.2"),
                          this);
    version_->setTextFormat(Qt::PlainText);
    version_->setGeometry(DialogUnitsToPixels(40, 10, 119, 8));
    auto* second = new QLabel(ja ? QString::fromUtf8("ロボットのリモコンをPCで操作します。")
                                 : QStringLiteral("Drives the robot's remote controller from a PC."),
                              this);
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
    auto* ok = new QPushButton("OK", this);
    ok->setGeometry(DialogUnitsToPixels(202, 7, 50, 16));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace zanth
