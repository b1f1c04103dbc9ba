// The main window's side of the link monitor and of recorded sessions: the help menu's entries, the battery
// number and the message lamp beside the meter, and the picture following a played session.
#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>

#include "base/paths.h"
#include "control/link_traffic.h"
#include "panel/battery_meter.h"
#include "panel/japanese_text.h"
#include "panel/link_indicator.h"
#include "panel/link_monitor.h"
#include "panel/link_note.h"
#include "panel/main_window.h"
#include "panel/plain_text.h"
#include "panel/remote_window.h"

namespace zanth {
namespace {

// The lamp turns bright and dim by turns with each message (one repaint per message, the least that shows
// every one), and stays dim once no message has come for this long.
constexpr auto kQuietAfter = std::chrono::milliseconds(300);

// The Data folder of this run's settings, where the other file choosers start too; made on first use.
QString DataFolder(const AppContext& app) {
    MakeFolders(app.dataFolder);
    return QString::fromStdString(app.dataFolder);
}

}  // namespace

void MainWindow::BuildLinkControls() {
    // Left of the BATTERY label of the picture, which leaves the meter and the note right of it in place.
    batteryNumber_ = Plain(new QLabel(this));
    batteryNumber_->setGeometry(batteryMeter_->x() - 114, batteryMeter_->y(), 40, batteryMeter_->height());
    batteryNumber_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont bold = batteryNumber_->font();
    bold.setBold(true);
    batteryNumber_->setFont(bold);
    batteryNumber_->setToolTip(Tr(Msg::kBatteryNumberTip));
    indicator_ = new LinkIndicator(this);
    indicator_->setToolTip(Tr(Msg::kLampTip));
    indicator_->setGeometry(batteryNumber_->x() - 16, batteryMeter_->y() + 5, 12, 12);
    playbackNote_ = Plain(new QLabel(this));
    PlaceNote(playbackNote_, batteryMeter_);
    playbackNote_->hide();
    // Below the two input status boxes, a third source of input: on the plain part of the panel, so that
    // nothing of the controller moves for it.
    remoteMark_ = Plain(new QLabel(this));
    remoteMark_->setGeometry(keyboardStatus_->x(), gamepadStatus_->geometry().bottom() + 8,
                             keyboardStatus_->width(), gamepadStatus_->height() + 4);
    remoteMark_->setAlignment(Qt::AlignCenter);
    remoteMark_->setStyleSheet(
        "background: #1f6f3a; color: white; font-weight: bold; border-radius: 4px; padding: 0 6px;");
    remoteMark_->hide();
    // In the empty corner above the sound list, where no control of the picture is.
    activityMark_ = Plain(new QLabel(this));
    activityMark_->setGeometry(10, 10, 84, 30);
    activityMark_->setAlignment(Qt::AlignCenter);
    activityMark_->hide();
    BuildStopControls();
    // Play reads the file off the GUI thread; a file that cannot be played is named when that is known.
    connect(&session_->traffic(), &LinkTraffic::playOutcome, this, [this](const QString& error) {
        if (!error.isEmpty()) ShowLinkError(error.toStdString());
        UpdateLinkActions();
    });
    connect(&session_->traffic(), &LinkTraffic::recordingFailed, this,
            [this](const QString& error) { ShowLinkError(error.toStdString()); });

    helpMenu_->addSeparator();
    helpMenu_->addAction(Tr(Msg::kMenuMonitor), this, &MainWindow::OpenMonitor);
    helpMenu_->addAction(Tr(Msg::kMenuRemote), this, &MainWindow::OpenRemote);
    helpMenu_->addSeparator();
    recordAction_ = helpMenu_->addAction(Tr(Msg::kMenuRecord), this, &MainWindow::OnRecord);
    playAction_ = helpMenu_->addAction(Tr(Msg::kMenuPlay), this, &MainWindow::OnPlay);
    stopAction_ = helpMenu_->addAction(Tr(Msg::kMenuStop), this, &MainWindow::StopRecordOrPlay);
    connect(helpMenu_, &QMenu::aboutToShow, this, &MainWindow::UpdateLinkActions);
    UpdateLinkActions();
}

void MainWindow::UpdateLinkActions() {
    const LinkTraffic& traffic = session_->traffic();
    const bool busy = traffic.recording() || traffic.playing() || traffic.loading();
    recordAction_->setEnabled(connected() && !busy);
    playAction_->setEnabled(connected() && !busy);
    stopAction_->setEnabled(busy);
}

void MainWindow::OpenMonitor() {
    if (monitor_ == nullptr) {
        // A child window of the main window, so that the main window's modal loop lets it be used.
        monitor_ = new LinkMonitorWindow(app_, session_->traffic(), this);
        monitor_->setMessageBoxesEnabled(messageBoxes_);
    }
    monitor_->show();
    monitor_->raise();
    monitor_->activateWindow();
}

void MainWindow::OpenRemote() {
    if (remote_ == nullptr) remote_ = new RemoteWindow(app_, *session_, this);
    remote_->show();
    remote_->raise();
    remote_->activateWindow();
}

void MainWindow::OnRecord() {
    const QString name = QDateTime::currentDateTime().toString("'session-'yyyyMMdd-HHmmss") + kSessionSuffix;
    QString path = QFileDialog::getSaveFileName(
        this, Tr(Msg::kMenuRecord), QDir(DataFolder(app_)).filePath(name), Tr(Msg::kSessionFilter));
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += kSessionSuffix;
    RecordTo(path);
}

void MainWindow::OnPlay() {
    const QString path =
        QFileDialog::getOpenFileName(this, Tr(Msg::kMenuPlay), DataFolder(app_), Tr(Msg::kSessionFilter));
    if (!path.isEmpty()) PlayFrom(path);
}

bool MainWindow::RecordTo(const QString& path) {
    LinkTraffic& traffic = session_->traffic();
    const SessionHeader header{ProgramVersion(), "COM" + std::to_string(session_->comPortIndex() + 1),
                               traffic.monitor().device()};
    std::string error;
    if (traffic.StartRecording(path.toStdString(), header, &error)) return true;
    ShowLinkError(error);
    return false;
}

// True when the file is being read; whether it plays, or why not, comes with LinkTraffic::playOutcome.
bool MainWindow::PlayFrom(const QString& path) {
    session_->traffic().Play(path.toStdString());
    UpdateLinkActions();
    return true;
}

void MainWindow::StopRecordOrPlay() {
    session_->StopPlayback(PlayEnd::kStop);
    session_->traffic().StopPlaying(PlayEnd::kStop);  // also a file still being read
    std::string error;
    if (!session_->traffic().StopRecording(&error)) ShowLinkError(error);
}

void MainWindow::ShowLinkError(const std::string& error) {
    lastLinkError_ = QString::fromStdString(error);
    if (messageBoxes_) ShowPlainBox(this, QMessageBox::Critical, Tr(Msg::kCaptionError), lastLinkError_);
}

// REC in white on red while recording, PLAY in white on blue while playing; `mark` kCount hides it.
void MainWindow::ShowActivityMark(Msg mark) {
    const QString text = mark == Msg::kCount ? QString() : Tr(mark);
    if (activityMark_->text() == text) return;
    activityMark_->setText(text);
    activityMark_->setStyleSheet(
        QString("color: white; font-weight: bold; font-size: 15px; border-radius: 4px; background: %1;")
            .arg(mark == Msg::kRecordMark ? "#d01010" : "#1a5fb4"));
    activityMark_->setVisible(!text.isEmpty());
}

bool MainWindow::DrawnPressed(int item) const {
    if (shownItems_) return (*shownItems_ >> item & 1u) != 0;
    return session_->model().item(item).IsDrawnPressed();
}

void MainWindow::ShowLinkReadouts() {
    const PanelState& s = session_->state();
    const LinkTraffic& traffic = session_->traffic();
    const std::optional<int> level = traffic.lastLevel();
    const QString number = s.meterValue != 0 && level ? QString::number(*level) : QString();
    if (batteryNumber_->text() != number) batteryNumber_->setText(number);
    batteryNumber_->setEnabled(!s.meterStale);

    const auto now = std::chrono::steady_clock::now();
    if (traffic.messagesSeen() != blinkSeen_) {
        blinkSeen_ = traffic.messagesSeen();
        blinkAt_ = now;
    }
    using Light = LinkIndicator::Light;
    const bool bright = now - blinkAt_ < kQuietAfter && (blinkSeen_ & 1u) != 0;
    indicator_->setLight(s.link == LinkState::kPortLost || s.link == LinkState::kReconnecting ? Light::kLost
                         : !connected()                                                       ? Light::kOff
                         : s.meterStale ? (bright ? Light::kNoReplyBlink : Light::kNoReplyIdle)
                         : bright       ? Light::kBlink
                                        : Light::kIdle);

    ShowActivityMark(traffic.recording() ? Msg::kRecordMark
                     : traffic.playing() ? Msg::kPlayMark
                                         : Msg::kCount);

    const QString note = KeepLineEndsTogether(QString::fromStdString(traffic.PlaybackNote()));
    if (playbackNote_->text() != note) playbackNote_->setText(note);
    playbackNote_->setVisible(!note.isEmpty() && linkNote_->isHidden());

    // The picture shows the played frame while a session plays, and the controller again after it.
    const std::optional<std::uint32_t> shown = traffic.ShownItems();
    if (shown == shownItems_) return;
    std::array<bool, kItemCount> before{};
    for (int i = 0; i < kItemCount; ++i) before[static_cast<std::size_t>(i)] = DrawnPressed(i);
    shownItems_ = shown;
    for (int i = 0; i < kItemCount; ++i)
        if (DrawnPressed(i) != before[static_cast<std::size_t>(i)]) InvalidateItem(session_->model().item(i));
}

}  // namespace zanth
