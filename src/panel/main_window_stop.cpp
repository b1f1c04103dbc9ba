// The main window's side of the emergency stop and enable: the STOP button, the banner that says who stopped
// the robot and when, its Release, and Enable / Disable.
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>

#include "model/settings.h"
#include "panel/main_window.h"
#include "panel/plain_text.h"

namespace zanth {
namespace {

// The plain corner below Sound Stop, where no control of the picture is: large enough for a hand that
// looks at the robot, not at the screen.
const QRect kStopPlace(13, 447, 132, 96);
const QRect kEnablePlace(13, 549, 132, 26);
// Across the top, between the REC mark and Keyboard Setting, over the plain panel.
const QRect kBannerPlace(102, 6, 540, 38);
constexpr int kReleaseWidth = 96;

bool IsStopKey(const QKeyEvent* key, int scanCode) {
    switch (key->key()) {
        case Qt::Key_Space:
            return scanCode == StopSettings::kSpace;
        case Qt::Key_Pause:
            return scanCode == StopKeyByName("PAUSE");
        case Qt::Key_ScrollLock:
            return scanCode == StopKeyByName("SCROLL LOCK");
        default:
            break;
    }
    // The other keys as the bindings know them: by the X server's key code.
    return key->nativeScanCode() >= 8 && static_cast<int>(key->nativeScanCode()) - 8 == scanCode;
}

}  // namespace

void MainWindow::BuildStopControls() {
    stopButton_ = new QPushButton(Tr(Msg::kStop), this);
    stopButton_->setGeometry(kStopPlace);
    stopButton_->setFocusPolicy(Qt::NoFocus);  // the space bar is the stop key: it must not press a button
    stopButton_->setAutoDefault(false);
    stopButton_->setStyleSheet(
        "QPushButton { background: #c00000; color: white; font-size: 26px; font-weight: bold; border: 3px "
        "solid "
        "#600000; border-radius: 10px; } QPushButton:pressed { background: #800000; }");
    connect(stopButton_, &QPushButton::pressed, this, [this] { session_->EmergencyStop(StopBy::kButton); });

    enableButton_ = new QPushButton(this);
    enableButton_->setGeometry(kEnablePlace);
    enableButton_->setFocusPolicy(Qt::NoFocus);
    enableButton_->setAutoDefault(false);
    connect(enableButton_, &QPushButton::clicked, this,
            [this] { session_->SetEnabled(!session_->state().enabled); });

    stopBanner_ = Plain(new QLabel(this));
    stopBanner_->setGeometry(kBannerPlace);
    stopBanner_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    stopBanner_->setWordWrap(true);
    stopBanner_->setContentsMargins(8, 0, kReleaseWidth + 8, 0);
    stopBanner_->hide();
    releaseButton_ = new QPushButton(Tr(Msg::kReleaseStop), stopBanner_);
    releaseButton_->setGeometry(kBannerPlace.width() - kReleaseWidth - 5, 5, kReleaseWidth,
                                kBannerPlace.height() - 10);
    releaseButton_->setFocusPolicy(Qt::NoFocus);
    releaseButton_->setAutoDefault(false);
    connect(releaseButton_, &QPushButton::clicked, this, &MainWindow::OnReleaseClicked);
}

QString MainWindow::StopTip() const {
    QString tip = Tr(Msg::kStopTip).arg(QString::fromStdString(StopKeyName(session_->stopSettings().key)));
    // Connected without the desktop-wide grab (another program holds the key, no X server): said here.
    if (const std::string& problem = session_->state().stopKeyProblem; !problem.empty())
        tip += "\n\n" + Tr(Msg::kStopKeyWindowOnly).arg(QString::fromStdString(problem));
    return PlainTip(tip);
}

// A stop is left only by this deliberate act; the end of a match stopped the robot as planned and asks
// nothing.
void MainWindow::OnReleaseClicked() {
    const PanelState& s = session_->state();
    if (!s.stop) {
        session_->SetEnabled(true);  // the banner's button enables while only disabled
        return;
    }
    if (s.stop->by != StopBy::kMatchEnd) {
        const QString question = Tr(Msg::kReleaseStopQuestion)
                                     .arg(QString::fromStdString(StopperText(*s.stop, app_.language)),
                                          QString::fromStdString(StopTimeText(*s.stop)));
        if (!confirmRelease_(question)) return;
    }
    session_->ReleaseStop();
}

bool MainWindow::AskRelease(const QString& question) {
    QMessageBox box(QMessageBox::Question, Tr(Msg::kCaptionWarning), question,
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);  // a key pressed in panic never releases
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

bool MainWindow::StopKey(QKeyEvent* key) {
    if (key->type() != QEvent::KeyPress) return false;
    // Enter disables, as at a driver station; the sound list keeps it for its own switch.
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && session_->linkRunning() &&
        session_->state().enabled && !soundList_->hasFocus()) {
        session_->SetEnabled(false);
        return true;
    }
    if (!IsStopKey(key, session_->stopSettings().key)) return false;
    // While not connected the key is an ordinary key: nothing to stop, and the other programs keep it too.
    if (!session_->linkRunning()) return false;
    if (!key->isAutoRepeat()) session_->StopKeyPressed();
    return true;
}

void MainWindow::ShowStop() {
    const PanelState& s = session_->state();
    // Composed only when what it shows changed: ShowStop runs with every tick.
    StopView view{s.stop.has_value(),
                  s.stop ? s.stop->at : std::chrono::system_clock::time_point{},
                  s.enabled,
                  s.driving || !s.engaged(),
                  s.letGo,
                  std::to_string(session_->stopSettings().key) + s.stopKeyProblem};
    if (shownStop_ == view) return;
    if (!shownStop_ || shownStop_->tipFor != view.tipFor) stopButton_->setToolTip(StopTip());
    shownStop_ = std::move(view);
    QString text;
    QString style;
    if (s.stop) {
        text = Tr(Msg::kStoppedBanner)
                   .arg(QString::fromStdString(StopperText(*s.stop, app_.language)),
                        QString::fromStdString(StopTimeText(*s.stop)));
        style = "background: #c00000; color: white;";
    } else if (!s.enabled) {
        text = Tr(Msg::kDisabledBanner);
        style = "background: #d08000; color: black;";
    } else if (!s.driving && s.engaged()) {
        style = "background: #d08000; color: black;";
    }
    // After a stop or a disable, each source that still holds something is named until it lets go.
    QStringList waiting;
    const Msg names[] = {Msg::kSourceKeyboard, Msg::kSourceGamepad, Msg::kSourceMouse, Msg::kSourceSliders,
                         Msg::kSourceRemote};
    for (std::size_t i = 0; i < kDriveSourceCount; ++i)
        if (s.letGo[i]) waiting << Tr(names[i]);
    if (!waiting.isEmpty() && !s.stop && s.enabled)
        text += (text.isEmpty() ? "" : "  ") + Tr(Msg::kLetGoNote).arg(waiting.join(", "));
    stopBanner_->setText(text);
    stopBanner_->setStyleSheet("QLabel { font-weight: bold; border-radius: 6px; " + style + " }");
    stopBanner_->setVisible(!text.isEmpty());
    releaseButton_->setText(Tr(s.stop ? Msg::kReleaseStop : Msg::kEnable));
    releaseButton_->setVisible(s.stop || !s.enabled);
    enableButton_->setText(Tr(s.enabled ? Msg::kDisable : Msg::kEnable));
    enableButton_->setEnabled(!s.stop);
}

}  // namespace zanth
